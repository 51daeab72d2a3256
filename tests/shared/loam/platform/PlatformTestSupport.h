#pragma once
// Shared by the platform tests: a private platform root per test, and the
// helper program run as a service or as a second process.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

extern char** environ;

namespace tw::test {

inline const std::string kHelperProgram = ZU_TEST_SERVICE_PATH;

// Starts the helper program with args and the test's environment; 0 on failure.
inline pid_t spawnHelper(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(kHelperProgram.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return pid;
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
