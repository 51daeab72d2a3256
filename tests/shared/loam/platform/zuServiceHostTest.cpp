// The boot host as a system runs it: its own process over the test's platform
// root, services that are the helper program, SIGTERM for the shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformService.h"

namespace zp = zuPlatform;

namespace {

using tw::test::kHelperProgram;

const std::string kHostProgram = ZU_SERVICE_HOST_PATH;

std::string helperImage(const std::string& extra) {
  return "\"" + kHelperProgram + "\" service " + extra;
}

// The host as a child with the test's environment, its standard output and
// error in files of the test's root.
class HostProcess {
 public:
  HostProcess(const std::string& command, const std::string& outFile, const std::string& errFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(kHostProgram.c_str()),
                            const_cast<char*>(command.c_str()), nullptr};
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~HostProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void signal(int sig) const { ::kill(pid_, sig); }
  // The exit code, or -1 when it did not end within the bound or died of a signal.
  int join(std::chrono::milliseconds bound = tw::test::kFailBound) {
    if (pid_ <= 0 || !tw::test::waitForExit(pid_, bound)) return -1;
    int status = 0;
    const pid_t got = ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = 0;
};

class ServiceHostTest : public tw::test::PlatformRootTest {
 protected:
  void SetUp() override {
    manager_ = zp::openScManager(zp::kScManagerAllAccess);
    ASSERT_NE(manager_, zp::kScHandleNone);
  }

  void TearDown() override {
    for (const std::string& name : created_) tw::test::killServiceProcess(name.c_str());
    zp::closeServiceHandle(manager_);
  }

  void install(const std::string& name, u32 startType, const std::string& image,
               const std::string& dependencies = std::string()) {
    const std::string block = dependencies.empty() ? std::string() : dependencies + '\0';
    const zp::ScHandle h =
        zp::createService(manager_, name.c_str(), nullptr, zp::kServiceAllAccess,
                          zp::kServiceWin32OwnProcess, startType, zp::kServiceErrorNormal,
                          image.c_str(), block.empty() ? nullptr : block.data(), nullptr);
    ASSERT_NE(h, zp::kScHandleNone) << name << ": " << zp::getLastError();
    zp::closeServiceHandle(h);
    created_.push_back(name);
  }

  zp::ServiceStatusProcess status(const std::string& name) {
    const zp::ScHandle h = zp::openService(manager_, name.c_str(), zp::kServiceQueryStatus);
    zp::ServiceStatusProcess s;
    EXPECT_TRUE(zp::queryServiceStatusEx(h, &s)) << name << ": " << zp::getLastError();
    zp::closeServiceHandle(h);
    return s;
  }

  std::string work(const std::string& file) const { return root() + "/work/" + file; }
  std::string hostErr() const { return tw::test::readFile(root() + "/host.err"); }

  // Waits until the host says its boot is over.
  bool bootDone() {
    return tw::test::eventually([&] { return hostErr().find("Boot done") != std::string::npos; },
                                std::chrono::seconds(60));
  }

  // The host's event-log lines of the error type.
  std::vector<std::string> hostErrors() {
    std::vector<zp::EventRecord> records;
    EXPECT_TRUE(zp::readEventLog(records));
    std::vector<std::string> out;
    for (const zp::EventRecord& r : records) {
      if (r.source == "Service Control Manager" && r.type == zp::kEventLogErrorType &&
          !r.strings.empty()) {
        out.push_back(r.strings[0]);
      }
    }
    return out;
  }

  zp::ScHandle manager_ = zp::kScHandleNone;
  std::vector<std::string> created_;
};

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST_F(ServiceHostTest, BootStartsAutomaticServicesDependencyFirstAndSigtermStopsThem) {
  // The dependency is slow to report RUNNING, so a host that only waited for
  // the start call would start the dependent too early.
  install("Tw Base", zp::kServiceAutoStart, helperImage("boot-record running-after=300"));
  install("Tw Dependent", zp::kServiceAutoStart, helperImage("boot-record"),
          std::string("Tw Base") + '\0' + "tcpip");
  install("Tw Demand", zp::kServiceDemandStart, helperImage("boot-record"));
  install("Tw Broken", zp::kServiceAutoStart, "/nonexistent/tw-broken-service");

  HostProcess host("boot", root() + "/host.out", root() + "/host.err");
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(bootDone()) << hostErr();

  EXPECT_EQ(status("Tw Base").currentState, zp::kServiceRunning);
  EXPECT_EQ(status("Tw Dependent").currentState, zp::kServiceRunning);
  // When the dependent started, its installed dependency ran already; "tcpip"
  // is no installed service, only met.
  EXPECT_EQ(tw::test::readFile(work("Tw Dependent.deps")), "Tw Base=4\ntcpip=none\n");
  // Demand-start is left alone.
  EXPECT_EQ(status("Tw Demand").currentState, zp::kServiceStopped);
  EXPECT_EQ(tw::test::readFile(work("Tw Demand.report")), "");
  // The failure is in the event log and on stderr, and stopped nobody else.
  EXPECT_TRUE(contains(hostErrors(), "The Tw Broken service failed to start: error 2."));
  EXPECT_NE(hostErr().find("The Tw Broken service failed to start: error 2."), std::string::npos);
  EXPECT_NE(hostErr().find("1 service(s) failed to start"), std::string::npos);

  const pid_t basePid = static_cast<pid_t>(status("Tw Base").processId);
  const pid_t dependentPid = static_cast<pid_t>(status("Tw Dependent").processId);
  host.signal(SIGTERM);
  EXPECT_EQ(host.join(), 0) << hostErr();
  // Both went through their stop handlers, not a signal.
  EXPECT_EQ(tw::test::readFile(work("Tw Base.stopped")), "stop control\n");
  EXPECT_EQ(tw::test::readFile(work("Tw Dependent.stopped")), "stop control\n");
  EXPECT_TRUE(tw::test::waitForExit(basePid));
  EXPECT_TRUE(tw::test::waitForExit(dependentPid));
  EXPECT_EQ(status("Tw Base").currentState, zp::kServiceStopped);
  EXPECT_EQ(status("Tw Base").win32ExitCode, 0u);
  // The dependent was stopped before what it depends on.
  const std::string lines = hostErr();
  EXPECT_LT(lines.find("Stopping Tw Dependent."), lines.find("Stopping Tw Base."));
  EXPECT_EQ(tw::test::readFile(work("Tw Demand.stopped")), "");

  // The reader shows the host's records.
  {
    HostProcess reader("events", root() + "/events.out", root() + "/events.err");
    ASSERT_EQ(reader.join(), 0);
  }
  const std::string shown = tw::test::readFile(root() + "/events.out");
  EXPECT_NE(shown.find("Service Control Manager [109] The Tw Broken service failed to start"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("The Tw Dependent service entered the stopped state."), std::string::npos);
}

TEST_F(ServiceHostTest, ExitStatusSaysThatAServiceDidNotStop) {
  install("Tw Hangs", zp::kServiceAutoStart, helperImage("boot-record stop-hangs=200"));
  install("Tw Stops", zp::kServiceAutoStart, helperImage("boot-record"));

  HostProcess host("boot", root() + "/host.out", root() + "/host.err");
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(bootDone()) << hostErr();
  ASSERT_EQ(status("Tw Hangs").currentState, zp::kServiceRunning);
  ASSERT_EQ(status("Tw Stops").currentState, zp::kServiceRunning);

  host.signal(SIGTERM);
  // The hung one is given up after its wait hint, long before the host's bound.
  EXPECT_EQ(host.join(), 1) << hostErr();
  EXPECT_EQ(tw::test::readFile(work("Tw Hangs.stopped")), "stop control\n");
  EXPECT_EQ(tw::test::readFile(work("Tw Stops.stopped")), "stop control\n");
  EXPECT_EQ(status("Tw Stops").currentState, zp::kServiceStopped);
  EXPECT_EQ(status("Tw Hangs").currentState, zp::kServiceStopPending);
  EXPECT_TRUE(
      contains(hostErrors(), "The Tw Hangs service did not stop within its wait hint (200 ms)"));
  EXPECT_NE(hostErr().find("Not every service stopped."), std::string::npos);
}

TEST_F(ServiceHostTest, BootReportsEachServiceThatCannotStartAndStartsTheRest) {
  const std::string ok = helperImage("boot-record");
  install("Tw Bad Path", zp::kServiceAutoStart, "/nonexistent/tw-bad-path");
  install("Tw Needs Bad", zp::kServiceAutoStart, ok, "Tw Bad Path");
  install("Tw Off", zp::kServiceDisabled, ok);
  install("Tw Needs Off", zp::kServiceAutoStart, ok, "Tw Off");
  install("Tw Cycle A", zp::kServiceAutoStart, ok, "Tw Cycle B");
  install("Tw Cycle B", zp::kServiceAutoStart, ok, "Tw Cycle A");
  install("Tw Missing Dep", zp::kServiceAutoStart, ok, "Tw Not Installed");
  install("Tw On Demand", zp::kServiceDemandStart, ok);
  install("Tw Needs Demand", zp::kServiceAutoStart, ok, "Tw On Demand");
  install("Tw Fine", zp::kServiceAutoStart, ok);
  install("Tw Gives Up", zp::kServiceAutoStart, helperImage("fail-start=1066"));
  // Its wait hint passes long before it would report RUNNING.
  install("Tw Too Slow", zp::kServiceAutoStart, helperImage("start-hint=200 running-after=60000"));

  HostProcess host("boot", root() + "/host.out", root() + "/host.err");
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(bootDone()) << hostErr();

  const struct {
    const char* name;
    u32 state;
    const char* logged;  // the error line, or null
  } cases[] = {
      {"Tw Bad Path", zp::kServiceStopped, "The Tw Bad Path service failed to start: error 2."},
      {"Tw Needs Bad", zp::kServiceStopped,
       "The Tw Needs Bad service depends on the Tw Bad Path service, which did not start: error "
       "1068."},
      {"Tw Off", zp::kServiceStopped, "The Tw Off service is disabled: error 1058."},
      {"Tw Needs Off", zp::kServiceStopped,
       "The Tw Needs Off service depends on the Tw Off service, which did not start"},
      {"Tw Cycle B", zp::kServiceStopped,
       "The Tw Cycle B service depends on itself through its dependencies: error 1059."},
      {"Tw Cycle A", zp::kServiceStopped,
       "The Tw Cycle A service depends on the Tw Cycle B service, which did not start"},
      {"Tw Missing Dep", zp::kServiceStopped,
       "The Tw Missing Dep service failed to start: error 1075."},
      // A demand-start service that an automatic one needs is started for it.
      {"Tw On Demand", zp::kServiceRunning, nullptr},
      {"Tw Needs Demand", zp::kServiceRunning, nullptr},
      {"Tw Fine", zp::kServiceRunning, nullptr},
      {"Tw Gives Up", zp::kServiceStopped,
       "The Tw Gives Up service stopped while it started: error 1066."},
      // Left start pending, as Windows leaves it; the next services still start.
      {"Tw Too Slow", zp::kServiceStartPending,
       "The Tw Too Slow service did not report running within its wait hint (200 ms): error "
       "1053."},
  };
  const std::vector<std::string> errors = hostErrors();
  for (const auto& c : cases) {
    EXPECT_EQ(status(c.name).currentState, c.state) << c.name;
    if (c.logged) {
      EXPECT_TRUE(contains(errors, c.logged)) << c.name << "\n" << hostErr();
    }
  }
  EXPECT_EQ(errors.size(), 9u) << hostErr();
  EXPECT_NE(hostErr().find("9 service(s) failed to start"), std::string::npos);

  // The one still starting does not take the stop control within its wait
  // hint, so not every stop succeeded; the others stopped all the same.
  host.signal(SIGTERM);
  EXPECT_EQ(host.join(), 1) << hostErr();
  EXPECT_TRUE(contains(hostErrors(),
                       "The Tw Too Slow service was still starting past its wait hint (200 ms) and "
                       "did not take the stop control."))
      << hostErr();
  for (const char* name : {"Tw On Demand", "Tw Needs Demand", "Tw Fine"}) {
    EXPECT_EQ(status(name).currentState, zp::kServiceStopped) << name;
  }
}

TEST_F(ServiceHostTest, BadCommandIsAUsageError) {
  HostProcess host("reboot", root() + "/host.out", root() + "/host.err");
  EXPECT_EQ(host.join(), 2);
  EXPECT_NE(hostErr().find("usage: zu_service_host boot|events"), std::string::npos);
}

}  // namespace
