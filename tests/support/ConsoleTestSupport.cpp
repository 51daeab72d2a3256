#include "ConsoleTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tw::test {
namespace {

void writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("write failed");
    done += static_cast<std::size_t>(n);
  }
}

// One read after waiting at most timeoutMs; false on time-out, end or error.
bool readSome(int fd, std::string& out, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return false;
  char buf[512];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n <= 0) return false;
  out.append(buf, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

Pipe::Pipe() {
  if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

Pipe::~Pipe() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

void Pipe::write(const std::string& bytes) const { writeAll(fds_[1], bytes); }

void Pipe::closeWrite() {
  if (fds_[1] >= 0) ::close(fds_[1]);
  fds_[1] = -1;
}

PseudoTerminal::PseudoTerminal() {
  if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
}

PseudoTerminal::~PseudoTerminal() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void PseudoTerminal::type(const std::string& bytes) const { writeAll(master_, bytes); }

void PseudoTerminal::hangUp() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::string readUntil(int fd, const std::string& suffix, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  std::string got;
  auto done = [&] {
    return got.size() >= suffix.size() &&
           got.compare(got.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    // A time-out, the end of input or an error: nothing more will come.
    if (!readSome(fd, got, static_cast<int>(left.count()))) break;
  }
  return got;
}

std::string readAvailable(int fd) {
  std::string got;
  while (readSome(fd, got, 0)) {
  }
  return got;
}

bool sameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace tw::test
