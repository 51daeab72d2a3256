#pragma once
// Shared by the platform tests: a private platform root per test, and the
// helper program run as a service or as a second process.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformService.h"
#include "support/TestSupport.h"

extern char** environ;

namespace tw::test {

inline const std::string kHelperProgram = ZU_TEST_SERVICE_PATH;

// Waits (bounded) until the process has ended; true when it did. A pid that
// is already gone counts as ended.
inline bool waitForExit(pid_t pid, std::chrono::milliseconds bound = kFailBound) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
  if (fd < 0) return true;
  pollfd p{fd, POLLIN, 0};
  const int rc = ::poll(&p, 1, static_cast<int>(bound.count()));
  ::close(fd);
  return rc == 1;
}

// Starts the helper program with args and the test's environment; 0 on failure.
inline pid_t spawnHelper(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(kHelperProgram.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return pid;
}

// Kills the process of the named stand-in service, if one runs, and waits for
// it: no service process outlives its test's root.
inline void killServiceProcess(const char* name) {
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

// The helper's exit code, or -1 when it did not start or end in time.
inline int joinHelper(pid_t pid) {
  if (pid <= 0) return -1;
  if (!waitForExit(pid)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

inline int runHelper(const std::vector<std::string>& args) { return joinHelper(spawnHelper(args)); }

}  // namespace tw::test
