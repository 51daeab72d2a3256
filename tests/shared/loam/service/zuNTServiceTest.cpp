#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "loam/base/zuRegistry.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformService.h"
#include "loam/service/zuNTService.h"
#include "loam/service/zuServiceEventLog.h"
#include "loam/service/zuServiceManager.h"
#include "loam/threads/zuExec.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuOSInfo.h"
#include "shared/loam/platform/PlatformTestSupport.h"

namespace zp = zuPlatform;

namespace {

using namespace std::string_literals;

constexpr const char* kName = "Tarnwell Update Agent";
const std::string kProgram = TW_FRAME_SERVICE;
// "-start" and "-stop" may poll for up to 20 s before they give up.
constexpr u32 kCommandBoundMs = 60000;
constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

std::string programPath() { return std::filesystem::canonical(kProgram).string(); }

struct FrameRun {
  u32 code = 0;
  std::string output;  // standard output and error, log time stamps removed
};

// Console log lines begin with "HH:MM:SS ".
std::string withoutStamps(const std::string& text) {
  static const std::regex stamp("(^|\n)[0-9]{2}:[0-9]{2}:[0-9]{2} ");
  return std::regex_replace(text, stamp, "$1");
}

FrameRun runFrame(const std::string& args) {
  zuExec child;
  std::ostringstream out;
  EXPECT_TRUE(child.runCapture(kProgram, args, out, kCommandBoundMs, nullptr)) << args;
  std::string text = out.str();
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return {child.status(), withoutStamps(text)};
}

std::vector<zp::EventRecord> events() {
  std::vector<zp::EventRecord> out;
  EXPECT_TRUE(zp::readEventLog(out));
  return out;
}

// "id" or "id:insertion string" for each event, in order.
std::vector<std::string> eventKeys() {
  std::vector<std::string> out;
  for (const zp::EventRecord& r : events()) {
    std::string key = std::to_string(r.eventId);
    for (const std::string& s : r.strings) key += ":" + s;
    out.push_back(key);
  }
  return out;
}

bool hasEvent(const std::string& key, u16 type) {
  for (const zp::EventRecord& r : events()) {
    std::string k = std::to_string(r.eventId);
    for (const std::string& s : r.strings) k += ":" + s;
    if (k == key && r.type == type && r.source == kName) return true;
  }
  return false;
}

// want appears in have in this order, other entries in between.
bool inOrder(const std::vector<std::string>& have, const std::vector<std::string>& want) {
  auto at = have.begin();
  for (const std::string& w : want) {
    at = std::find(at, have.end(), w);
    if (at == have.end()) return false;
    ++at;
  }
  return true;
}

// The last log line among the events; the stop event (108) is reported by the
// control handler while the main work ends, so it may come before or after.
std::string lastLine(const std::vector<std::string>& keys) {
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
    if (it->rfind("109:", 0) == 0) return *it;
  }
  return "";
}

std::string configValue(const std::string& key, const std::string& name) {
  std::string text;
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, key, name, text)) << key << " " << name;
  return text;
}

class NTServiceTest : public tw::test::PlatformRootTest {
 protected:
  void TearDown() override { tw::test::killServiceProcess(kName); }

  static bool reaches(u32 state) {
    return tw::test::eventually([&] { return zuServiceManager().currentState(kName) == state; });
  }

  static std::string versionLines() {
    return "Tarnwell Update Agent, version 6.2 x64 [31019]\nBuild date: Jan 27 2010\nPlatform: " +
           zuGetOSDescription() + "\n";
  }
};

TEST_F(NTServiceTest, InstallStartStopUninstallFromTheCommandLine) {
  FrameRun r = runFrame("-v");
  EXPECT_EQ(r.output, versionLines() + "The service is not installed.\n");

  r = runFrame("-i");
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.output, "Tarnwell Update Agent installed.\n");

  // The registration.
  const std::string quoted = "\"" + programPath() + "\"";
  zuServiceManager sm;
  const zp::QueryServiceConfig* config = sm.queryConfig(kName);
  ASSERT_NE(config, nullptr) << sm.lastError();
  EXPECT_EQ(config->serviceType, zp::kServiceWin32OwnProcess);
  EXPECT_EQ(config->startType, zp::kServiceAutoStart);
  EXPECT_EQ(config->errorControl, zp::kServiceErrorNormal);
  EXPECT_STREQ(config->binaryPathName, quoted.c_str());
  EXPECT_EQ(std::string(config->dependencies, 7), "tcpip\0\0"s);
  EXPECT_STREQ(config->serviceStartName, zp::kLocalSystemAccount);
  EXPECT_STREQ(config->displayName, kName);
  // Without a description of its own the display name stands in.
  EXPECT_EQ(
      configValue("SYSTEM\\CurrentControlSet\\Services\\Tarnwell Update Agent", "Description"),
      kName);
  const std::string source =
      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnwell Update Agent";
  EXPECT_EQ(configValue(source, "EventMessageFile"), quoted);
  EXPECT_EQ(configValue(source, "TypesSupported"), "7");
  EXPECT_TRUE(hasEvent("100:Tarnwell Update Agent", zp::kEventLogInformationType));

  r = runFrame("-I");
  EXPECT_EQ(r.output, "Tarnwell Update Agent is already installed.\n");

  r = runFrame("-start");
  EXPECT_EQ(r.code, 0u);
  EXPECT_TRUE(std::regex_match(
      r.output, std::regex("Starting Tarnwell Update Agent\\.+ Service started\\.\n")))
      << r.output;
  EXPECT_EQ(zuServiceManager().currentState(kName), zp::kServiceRunning);

  r = runFrame("-v");
  EXPECT_EQ(r.output, versionLines() + "The service is currently installed and running\n");
  r = runFrame("-START");
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.output, "Tarnwell Update Agent is not in stopped state.\n");

  // The handler answers an interrogation with its status, and a user code
  // it does not serve with event 106 and its status.
  const zp::ScHandle manager = zp::openScManager(zp::kScManagerConnect);
  const zp::ScHandle service =
      zp::openService(manager, kName, zp::kServiceInterrogate | zp::kServiceUserDefinedControl);
  zp::ServiceStatus status;
  ASSERT_TRUE(zp::controlService(service, zp::kServiceControlInterrogate, &status))
      << zp::getLastError();
  EXPECT_EQ(status.currentState, zp::kServiceRunning);
  EXPECT_EQ(status.controlsAccepted, zp::kServiceAcceptStop);
  ASSERT_TRUE(zp::controlService(service, 200, &status)) << zp::getLastError();
  EXPECT_EQ(status.currentState, zp::kServiceRunning);
  EXPECT_TRUE(hasEvent("106", zp::kEventLogErrorType));
  zp::closeServiceHandle(service);
  zp::closeServiceHandle(manager);

  r = runFrame("-stop");
  EXPECT_EQ(r.code, 0u);
  EXPECT_TRUE(std::regex_match(
      r.output, std::regex("Stopping Tarnwell Update Agent\\.+ Service stopped\\.\n")))
      << r.output;
  EXPECT_EQ(zuServiceManager().currentState(kName), zp::kServiceStopped);
  // The service's own lines went to the event log, cleanup last.
  const std::vector<std::string> keys = eventKeys();
  EXPECT_TRUE(inOrder(keys, {"100:Tarnwell Update Agent", "105", "109:initialize", "109:waiting",
                             "109:main ended", "109:cleanup"}));
  EXPECT_EQ(lastLine(keys), "109:cleanup");
  EXPECT_TRUE(hasEvent("108", zp::kEventLogInformationType));
  EXPECT_TRUE(hasEvent("109:cleanup", zp::kEventLogInformationType));

  r = runFrame("-stop");
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.output, "Tarnwell Update Agent is not running.\n");

  r = runFrame("-u");
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.output, "Tarnwell Update Agent removed. You must delete the file (" + programPath() +
                          ") yourself.\n");
  EXPECT_TRUE(hasEvent("101:Tarnwell Update Agent", zp::kEventLogInformationType));
  EXPECT_FALSE(zuServiceManager().isInstalled(kName));

  r = runFrame("-u");
  EXPECT_EQ(r.output, "Tarnwell Update Agent is not installed.\n");
}

TEST_F(NTServiceTest, ActionsRunInOrderAndUninstallStopsARunningService) {
  FrameRun r = runFrame("-install -start");
  EXPECT_EQ(r.code, 0u);
  EXPECT_TRUE(std::regex_match(r.output, std::regex("Tarnwell Update Agent installed\\.\n"
                                                    "Starting Tarnwell Update Agent\\.+ "
                                                    "Service started\\.\n")))
      << r.output;
  ASSERT_EQ(zuServiceManager().currentState(kName), zp::kServiceRunning);

  r = runFrame("-u");
  EXPECT_EQ(r.code, 0u);
  EXPECT_TRUE(std::regex_match(
      r.output, std::regex("Tarnwell Update Agent is running\\.\n"
                           "Stopping the service\\.+ Service stopped\\.\n"
                           "Tarnwell Update Agent removed\\. You must delete the file \\(.*\\) "
                           "yourself\\.\n")))
      << r.output;
  EXPECT_FALSE(zuServiceManager().isInstalled(kName));
  EXPECT_TRUE(inOrder(eventKeys(), {"109:cleanup", "101:Tarnwell Update Agent"}));
}

TEST_F(NTServiceTest, StopIsPendingAtOnceAndStoppedAfterCleanup) {
  ASSERT_EQ(runFrame("-i").code, 0u);
  const zp::ScHandle manager = zp::openScManager(zp::kScManagerConnect);
  const zp::ScHandle service = zp::openService(manager, kName, zp::kServiceAllAccess);
  // An option passed by the manager that nothing takes is only logged.
  const char* const args[] = {"-zz"};
  ASSERT_TRUE(zp::startService(service, 1, args)) << zp::getLastError();
  ASSERT_TRUE(reaches(zp::kServiceRunning));
  EXPECT_TRUE(hasEvent("109:Unknown option \"-zz\".", zp::kEventLogErrorType));

  // Stop pending at once, and still while cleanup is held; stopped after it.
  const std::string hold = root() + "/work/cleanup.hold";
  ASSERT_EQ(::mkfifo(hold.c_str(), 0600), 0);
  zp::ServiceStatus status;
  ASSERT_TRUE(zp::controlService(service, zp::kServiceControlStop, &status)) << zp::getLastError();
  EXPECT_EQ(status.currentState, zp::kServiceStopPending);
  int writer = -1;
  ASSERT_TRUE(tw::test::eventually([&] {
    writer = ::open(hold.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return writer >= 0;  // the service's cleanup has opened it for reading
  }));
  EXPECT_EQ(zuServiceManager().currentState(kName), zp::kServiceStopPending);
  EXPECT_NE(lastLine(eventKeys()), "109:cleanup");
  ASSERT_EQ(::write(writer, "go\n", 3), 3);
  ::close(writer);
  ::unlink(hold.c_str());
  ASSERT_TRUE(reaches(zp::kServiceStopped));
  EXPECT_EQ(lastLine(eventKeys()), "109:cleanup");

  // SIGTERM is a stop from the manager as well.
  ASSERT_TRUE(zp::startService(service, 0, nullptr)) << zp::getLastError();
  ASSERT_TRUE(reaches(zp::kServiceRunning));
  zp::ServiceStatusProcess running;
  ASSERT_TRUE(zp::queryServiceStatusEx(service, &running));
  ASSERT_NE(running.processId, 0u);
  ASSERT_TRUE(tw::test::eventually([] {
    const std::vector<std::string> keys = eventKeys();
    return std::count(keys.begin(), keys.end(), "109:waiting") == 2;
  }));
  ASSERT_EQ(::kill(static_cast<pid_t>(running.processId), SIGTERM), 0);
  ASSERT_TRUE(reaches(zp::kServiceStopped));
  const std::vector<std::string> keys = eventKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "108"), 2);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "109:cleanup"), 2);
  zp::ServiceStatus after;
  ASSERT_TRUE(zp::queryServiceStatus(service, &after));
  EXPECT_EQ(after.win32ExitCode, 0u);  // reported, not found dead
  zp::closeServiceHandle(service);
  zp::closeServiceHandle(manager);
}

TEST_F(NTServiceTest, CommandLinesThatTakeNoActionOnTheService) {
  const std::string usage =
      "\nTarnwell Update Agent, version 6.2 x64 [31019] -- Tarnwell Update Agent.\n"
      "Part of the Tarnwell Suite.\nBuild date: Jan 27 2010\nPlatform: " +
      zuGetOSDescription() +
      "\n\n"
      "usage: " +
      std::filesystem::path(kProgram).filename().string() +
      " [-i][-u][-start][-stop][-v][-h]\n"
      "where:  i     Installs the services.\n"
      "        u     Uninstalls the services.\n"
      "        start Starts the service.\n"
      "        stop  Stops the service.\n"
      "        v     Prints out version information.\n"
      "        h     Prints this help screen.\n";
  const struct {
    const char* args;
    u32 code;
    std::string output;
  } table[] = {
      // Not started by the manager: the dispatcher gives up at once.
      {"", 0, ""},
      {"-h", 0, usage},
      {"-? -i", 0, usage},  // help ends the actions
      {"-x", 87, "Unknown option \"-x\".\n"},
      {"-sx", 87, "Unknown option \"-sx\".\n"},
      {"notanoption", 87, "Unknown option \"notanoption\".\n"},
      {"-start", zp::kErrorServiceDoesNotExist, "Tarnwell Update Agent is not in stopped state.\n"},
      {"-stop", zp::kErrorServiceDoesNotExist, "Tarnwell Update Agent is not running.\n"},
      // The console run takes its options through the frame's parser.
      {"-ll7 -DEBUG", 1, "Incorrect argument for option \"ll\".\n"},
  };
  for (const auto& c : table) {
    const FrameRun r = runFrame(c.args);
    // The system keeps the low eight bits of an exit code.
    EXPECT_EQ(r.code, c.code & 0xFF) << c.args;
    EXPECT_EQ(r.output, c.output) << c.args;
  }
  EXPECT_FALSE(zuServiceManager().isInstalled(kName));
  EXPECT_TRUE(events().empty());
}

std::string readUntil(zuExec& child, const std::string& marker) {
  std::string out;
  char buffer[1024];
  while (out.find(marker) == std::string::npos) {
    u32 length = sizeof buffer;
    if (!child.readOutput(buffer, length, kBoundMs, nullptr) || length == 0) break;
    out.append(buffer, length);
  }
  return out;
}

TEST_F(NTServiceTest, DebugRunsInTheConsoleUntilControlC) {
  zuExec child;
  ASSERT_TRUE(child.runWithPipes(kProgram, "-ll1 -DEBUG")) << child.status();
  std::string output = readUntil(child, "waiting\n");
  ASSERT_NE(output.find("waiting\n"), std::string::npos) << output;
  ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGINT), 0);
  output += readUntil(child, "\n<no such marker>");
  EXPECT_TRUE(child.wait(kBoundMs, nullptr));
  EXPECT_EQ(child.status(), 0u);
  EXPECT_EQ(withoutStamps(output), "initialize\nwaiting\nmain ended\ncleanup\n");
  // Nothing of it went to the service manager or the event log.
  EXPECT_FALSE(zuServiceManager().isInstalled(kName));
  EXPECT_TRUE(events().empty());
}

// The frame in this process, without a dispatcher: its parser, its handler's
// answers to user codes and a failing install.
class InProcessService : public zuNTService {
 public:
  void main() override {}
  bool onUserControl(u32 code) override { return code == 150; }
  void setName(const std::string& name) { name_ = name; }
};

TEST(NTServiceParse, LoggingOptions) {
  const i32 level = zuLog::getLogLevel();
  const u32 mode = zuLog::getMode();
  const struct {
    std::vector<std::string> args;
    bool result;
    std::vector<bool> consumed;
    i32 level;
    std::string logged;
  } table[] = {
      {{"-ll2"}, true, {true}, 2, ""},
      {{"-LL", "4"}, true, {true, true}, 4, ""},
      {{"-ld3", "-DL5"}, true, {true, true}, level, ""},
      {{"-ll7"}, false, {true}, level, "Incorrect argument for option \"ll\"."},
      {{"-ll5x"}, false, {true}, level, "Incorrect argument for option \"ll\"."},
      {{"-ll", "-x"}, false, {true, false}, level, "Incorrect argument for option \"ll\"."},
      {{"-ldx"}, false, {true}, level, "Incorrect argument for option \"dl\"."},
      {{"-dl"}, false, {true}, level, "Incorrect argument for option \"dl\"."},
      // Left for other parsers: help, version and command actions are not
      // options here, nor are unknown letters.
      {{"-h", "-v", "-i", "-lx", "-d", "x"},
       true,
       {false, false, false, false, false, false},
       level,
       ""},
  };
  for (const auto& c : table) {
    InProcessService service;
    std::vector<zuOption> options;
    for (const std::string& a : c.args) options.emplace_back(a);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(service.parseArguments(options), c.result) << c.args[0];
    const std::string logged = withoutStamps(::testing::internal::GetCapturedStderr());
    EXPECT_EQ(logged, c.logged.empty() ? "" : c.logged + "\n") << c.args[0];
    for (size_t i = 0; i < options.size(); ++i)
      EXPECT_EQ(options[i].consumed, c.consumed[i]) << c.args[0] << " " << i;
    EXPECT_EQ(zuLog::getLogLevel(), c.level) << c.args[0];
    EXPECT_EQ(service.exitCode(), c.result ? 0u : 1u) << c.args[0];
    zuLog::setLogLevel(level);
  }
  // The fifth character F of "-dl" switches to the default log file.
  InProcessService service;
  std::vector<zuOption> options{zuOption("-dl3xyzF")};
  EXPECT_TRUE(service.parseArguments(options));
  EXPECT_EQ(zuLog::getMode(), zuLog::kModeFile);
  zuLog::init(nullptr, mode);
}

class NTServiceInProcess : public tw::test::PlatformRootTest {};

TEST_F(NTServiceInProcess, UserCodesItDoesNotServeAreReportedAsUnsupported) {
  InProcessService service;
  service.handleControl(150);
  service.handleControl(200);
  service.handleControl(zp::kServiceControlInterrogate);
  service.handleControl(77);  // no control at all
  const std::vector<std::string> keys = eventKeys();
  EXPECT_EQ(keys, (std::vector<std::string>{"106", "106"}));
  EXPECT_TRUE(hasEvent("106", zp::kEventLogErrorType));
  EXPECT_EQ(service.serviceStatus().currentState, 0u);  // nothing stored by the hooks
}

TEST_F(NTServiceInProcess, FailedInstallPrintsTheSystemErrorAndReturnsIt) {
  InProcessService service;
  service.setName("No/Such");  // a name the manager refuses
  ::testing::internal::CaptureStdout();
  char program[] = "frame";
  char install[] = "-i";
  char* argv[] = {program, install};
  const u32 code = service.run(2, argv);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "No/Such failed to install. Error " + std::to_string(zp::kErrorInvalidName) + ".\n");
  EXPECT_EQ(code, zp::kErrorInvalidName);
  EXPECT_TRUE(events().empty());
}

}  // namespace
