#include "TestSupport.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "loam/platform/zuPlatformService.h"

namespace tw::test {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tw-test-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::file(const std::string& name) const { return path_ + "/" + name; }

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    ::setenv(name_.c_str(), old_->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out) << path;
  out << text;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int goneProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  return child;
}

UnreapedChild::UnreapedChild() {
  pid_ = ::fork();
  if (pid_ == 0) ::_exit(0);
  EXPECT_GT(pid_, 0);
  // Its end, leaving it to be reaped.
  siginfo_t info{};
  EXPECT_EQ(::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT), 0);
}

UnreapedChild::~UnreapedChild() {
  if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
}

bool waitForExit(pid_t pid, std::chrono::milliseconds bound) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
  if (fd < 0) return true;
  pollfd p{fd, POLLIN, 0};
  const int rc = ::poll(&p, 1, static_cast<int>(bound.count()));
  ::close(fd);
  return rc == 1;
}

void killServiceProcess(const char* name) {
  const zuPlatform::ScHandle manager = zuPlatform::openScManager(zuPlatform::kScManagerConnect);
  const zuPlatform::ScHandle h =
      zuPlatform::openService(manager, name, zuPlatform::kServiceQueryStatus);
  zuPlatform::ServiceStatusProcess s;
  if (zuPlatform::queryServiceStatusEx(h, &s) && s.processId != 0) {
    ::kill(static_cast<pid_t>(s.processId), SIGKILL);
    waitForExit(static_cast<pid_t>(s.processId));
  }
  zuPlatform::closeServiceHandle(h);
  zuPlatform::closeServiceHandle(manager);
}

long openFlagsOf(const std::string& path) {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != fs::path(path)) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    while (info >> key) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        return std::stol(octal, nullptr, 8);
      }
    }
  }
  return -1;
}

std::vector<std::string> folderNames(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(rlim_t bytes) {
  EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_), 0);
  oldSignal_ = ::signal(SIGXFSZ, SIG_IGN);
  rlimit lower = saved_;
  lower.rlim_cur = bytes;
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &lower), 0);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &saved_);
  ::signal(SIGXFSZ, oldSignal_);
}

bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return pred();
    std::this_thread::yield();
  }
  return true;
}

void figure(const std::string& name, long long value) {
  ::testing::Test::RecordProperty(name, std::to_string(value));
  std::printf("[ figure   ] %s = %lld\n", name.c_str(), value);
}

}  // namespace tw::test
