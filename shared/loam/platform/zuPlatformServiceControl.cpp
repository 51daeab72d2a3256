// Control messaging between managers and a service's dispatcher: one
// SOCK_SEQPACKET message each way over a Unix socket of mode 0600.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "internal/zuPlatformServiceParts.h"

namespace zuPlatform::service {

using store::Fd;

namespace {

// Fills addr for path; a path too long for sun_path goes through an open
// descriptor of its folder (kept in folder while the address is in use).
bool unixAddress(const std::string& path, sockaddr_un& addr, Fd& folder) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string usable = path;
  if (usable.size() >= sizeof addr.sun_path) {
    const size_t slash = path.rfind('/');
    folder.reset(::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return false;
    usable = "/proc/self/fd/" + std::to_string(folder.get()) + path.substr(slash);
    if (usable.size() >= sizeof addr.sun_path) {
      errno = ENAMETOOLONG;
      return false;
    }
  }
  std::memcpy(addr.sun_path, usable.c_str(), usable.size() + 1);
  return true;
}

}  // namespace

store::Fd listenUnix(const std::string& path) {
  Fd sock(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return sock;
  sockaddr_un addr{};
  Fd folder;
  if (!unixAddress(path, addr, folder)) return Fd();
  ::unlink(path.c_str());
  if (::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(sock.get(), 16) != 0) {
    const int err = errno;
    ::unlink(path.c_str());
    errno = err;
    return Fd();
  }
  return sock;
}

store::Fd acceptUnix(int listener, bool nonBlocking) {
  const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
  return Fd(store::retryOnSignal([&] { return ::accept4(listener, nullptr, nullptr, flags); }));
}

// Connects by the deadline: a full listen queue is waited on for the time
// left (the send time-out bounds a Unix connect) and never for ever.
store::Fd connectUnix(const std::string& path, Clock::time_point deadline) {
  Fd sock(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return sock;
  sockaddr_un addr{};
  Fd folder;
  if (!unixAddress(path, addr, folder)) return Fd();
  for (;;) {
    const i64 left = msLeft(deadline);
    if (left <= 0) {
      errno = ETIMEDOUT;
      return Fd();
    }
    const timeval bound{static_cast<time_t>(left / 1000),
                        static_cast<suseconds_t>((left % 1000) * 1000)};
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0) return Fd();
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return sock;
    if (errno != EINTR && errno != EAGAIN) return Fd();
  }
}

bool sendMessage(int fd, const void* data, size_t size) {
  const ssize_t n = store::retryOnSignal([&] { return ::send(fd, data, size, MSG_NOSIGNAL); });
  return n >= 0 && static_cast<size_t>(n) == size;
}

// One message into out (resized to what arrived); false on error or end.
bool receiveMessage(int fd, std::string& out, size_t maxSize) {
  out.resize(maxSize);
  const ssize_t n = store::retryOnSignal([&] { return ::recv(fd, out.data(), maxSize, 0); });
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return true;
}

}  // namespace zuPlatform::service
