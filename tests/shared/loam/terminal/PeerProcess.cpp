#include "PeerProcess.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace tw::test {

PeerProcess::PeerProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (environment.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : environment) env.push_back(name + "=" + value);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigfillset(&defaults);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    return;
  }
  pid_ = pid;
  output_fd_ = fds[0];
}

PeerProcess::~PeerProcess() { stop(); }

bool PeerProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  return ::waitpid(pid_, &status, WNOHANG) == 0;
}

bool PeerProcess::readSome(int ms) {
  if (output_fd_ < 0) return false;
  pollfd p{output_fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, ms);
  if (ready <= 0) return true;
  char buffer[4096];
  const ssize_t n = ::read(output_fd_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool PeerProcess::hasMore() const {
  if (output_fd_ < 0) return false;
  pollfd p{output_fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

std::optional<std::string> PeerProcess::waitForLine(const std::string& text,
                                                    std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  for (;;) {
    // Whole lines only: a line still being written may not hold the text yet.
    for (;;) {
      const std::size_t eol = output_.find('\n', scanned_);
      if (eol == std::string::npos) break;
      const std::string line = output_.substr(scanned_, eol - scanned_);
      scanned_ = eol + 1;
      if (line.find(text) != std::string::npos) return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (!readSome(static_cast<int>(left.count()))) return std::nullopt;
  }
}

void PeerProcess::stop() {
  if (pid_ > 0) {
    ::kill(-pid_, SIGTERM);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, 5000);
      ::close(pidfd);
    }
    // The leader is not reaped yet, so its group id still names only what
    // this test started: whatever is left of the group ends here.
    ::kill(-pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  if (output_fd_ >= 0) {
    ::close(output_fd_);
    output_fd_ = -1;
  }
}

int freeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t length = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

std::string peerScriptDir() { return TW_TERMINAL_TEST_DIR; }

}  // namespace tw::test
