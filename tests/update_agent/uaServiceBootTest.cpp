// The agent installed with its own -i as the boot host finds it: started at
// boot because its start type is automatic (its "tcpip" dependency met), and
// sent the stop control when the host gets SIGTERM at shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "AgentProcess.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformService.h"

extern char** environ;

namespace {

using ua_test::ServiceAgent;

TEST(ServiceBootTest, AgentInstalledWithDashIStartsAtBootAndStopsThroughItsStopControl) {
  ServiceAgent agent;
  std::string out;
  ASSERT_EQ(agent.command("-i", out), 0) << out;

  const std::string host = TW_SERVICE_HOST;
  const std::string err = agent.file("host.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(host.c_str()), const_cast<char*>("boot"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  struct Reap {
    pid_t pid;
    ~Reap() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
  } reap{pid};

  ASSERT_TRUE(agent.serving()) << tw::test::readFile(err) << agent.output();
  EXPECT_EQ(agent.status().currentState, zuPlatform::kServiceRunning);
  ASSERT_EQ(agent.command("-v", out), 0);
  EXPECT_NE(out.find("The service is currently installed and running"), std::string::npos) << out;

  ::kill(pid, SIGTERM);
  ASSERT_TRUE(tw::test::waitForExit(pid, std::chrono::seconds(60)));
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  reap.pid = 0;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << tw::test::readFile(err);
  const zuPlatform::ServiceStatusProcess stopped = agent.status();
  EXPECT_EQ(stopped.currentState, zuPlatform::kServiceStopped);
  EXPECT_EQ(stopped.win32ExitCode, 0u);

  // The agent's control handler took the stop (event 108), and nobody failed.
  std::vector<zuPlatform::EventRecord> records;
  ASSERT_TRUE(zuPlatform::readEventLog(records));
  bool stopControl = false;
  for (const zuPlatform::EventRecord& r : records) {
    if (r.source == ServiceAgent::kName && r.eventId == 108) stopControl = true;
    EXPECT_NE(r.type, zuPlatform::kEventLogErrorType) << zuPlatform::formatEventRecord(r);
  }
  EXPECT_TRUE(stopControl);
}

}  // namespace
