#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PlatformTestSupport.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformService.h"

namespace zp = zuPlatform;

namespace {

using tw::test::kHelperProgram;

// The helper as a service, with extra image-path text after the mode.
std::string serviceImage(const std::string& extra = "") {
  return "\"" + kHelperProgram + "\" service" + (extra.empty() ? "" : " " + extra);
}

class ServiceTest : public tw::test::PlatformRootTest {
 protected:
  void SetUp() override {
    manager_ = zp::openScManager(zp::kScManagerAllAccess);
    ASSERT_NE(manager_, zp::kScHandleNone);
  }

  void TearDown() override {
    // No service outlives its test's root.
    for (const std::string& name : created_) {
      const zp::ScHandle h = zp::openService(manager_, name.c_str(), zp::kServiceQueryStatus);
      zp::ServiceStatusProcess s;
      if (zp::queryServiceStatusEx(h, &s) && s.processId != 0) {
        ::kill(static_cast<pid_t>(s.processId), SIGKILL);
        tw::test::waitForExit(static_cast<pid_t>(s.processId));
      }
      zp::closeServiceHandle(h);
    }
    zp::closeServiceHandle(manager_);
    zp::setServiceWaitBoundForTest(std::nullopt);
  }

  zp::ScHandle create(const std::string& name, const std::string& image,
                      const char* dependencies = nullptr, u32 startType = zp::kServiceDemandStart) {
    const zp::ScHandle h = zp::createService(
        manager_, name.c_str(), nullptr, zp::kServiceAllAccess, zp::kServiceWin32OwnProcess,
        startType, zp::kServiceErrorNormal, image.c_str(), dependencies, nullptr);
    if (h != zp::kScHandleNone) created_.push_back(name);
    return h;
  }

  static zp::ServiceStatusProcess status(zp::ScHandle h) {
    zp::ServiceStatusProcess s;
    EXPECT_TRUE(zp::queryServiceStatusEx(h, &s)) << zp::getLastError();
    return s;
  }

  static bool reaches(zp::ScHandle h, u32 state) {
    return tw::test::eventually([&] { return status(h).currentState == state; });
  }

  // Starts the service and waits until it runs; its pid.
  static pid_t startRunning(zp::ScHandle h) {
    EXPECT_TRUE(zp::startService(h, 0, nullptr)) << zp::getLastError();
    EXPECT_TRUE(reaches(h, zp::kServiceRunning));
    return static_cast<pid_t>(status(h).processId);
  }

  static void stopAndWait(zp::ScHandle h) {
    const pid_t pid = static_cast<pid_t>(status(h).processId);
    zp::ServiceStatus s;
    ASSERT_TRUE(zp::controlService(h, zp::kServiceControlStop, &s)) << zp::getLastError();
    ASSERT_TRUE(tw::test::waitForExit(pid));
  }

  std::map<std::string, std::string> readReport(const std::string& serviceName) {
    std::map<std::string, std::string> out;
    std::ifstream in(root() + "/work/" + serviceName + ".report");
    std::string line;
    while (std::getline(in, line)) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
  }

  zp::ScHandle manager_ = zp::kScHandleNone;
  std::vector<std::string> created_;
};

TEST_F(ServiceTest, InstalledServiceIsSeenStartedAndStoppedAcrossProcesses) {
  const zp::ScHandle installed =
      create("Tw Test Service", serviceImage("first \"second arg\""), "tcpip\0");
  ASSERT_NE(installed, zp::kScHandleNone) << zp::getLastError();

  // A second process sees the new service, stopped, under any case of its name.
  EXPECT_EQ(tw::test::runHelper({"query", "tw test service"}),
            static_cast<int>(zp::kServiceStopped));
  // ... and starts it; the service outlives its starter.
  ASSERT_EQ(tw::test::runHelper({"start", "TW TEST SERVICE"}), 0);

  const zp::ScHandle h = zp::openService(manager_, "Tw Test Service", zp::kServiceAllAccess);
  ASSERT_TRUE(reaches(h, zp::kServiceRunning));
  const zp::ServiceStatusProcess running = status(h);
  EXPECT_EQ(running.controlsAccepted, zp::kServiceAcceptStop);
  EXPECT_NE(running.processId, 0u);

  // Started from the image path, detached, with the stand-in's stdio and folder.
  std::map<std::string, std::string> report = readReport("Tw Test Service");
  EXPECT_EQ(report["argv"], kHelperProgram + "|service|first|second arg");
  EXPECT_EQ(report["main"], "Tw Test Service");
  EXPECT_EQ(report["cwd"], root() + "/work");
  EXPECT_EQ(report["marker"], "none");  // taken out of the environment by the dispatcher
  EXPECT_EQ(report["stdin"], "null");
  EXPECT_EQ(report["pid"], std::to_string(running.processId));

  // A user control is served by the service's handler and answered with its status.
  zp::ServiceStatus s;
  ASSERT_TRUE(zp::controlService(h, 130, &s)) << zp::getLastError();
  EXPECT_EQ(s.checkPoint, 130u);
  EXPECT_EQ(s.currentState, zp::kServiceRunning);

  ASSERT_TRUE(zp::controlService(h, zp::kServiceControlStop, &s)) << zp::getLastError();
  EXPECT_TRUE(s.currentState == zp::kServiceStopPending || s.currentState == zp::kServiceStopped);
  ASSERT_TRUE(tw::test::waitForExit(static_cast<pid_t>(running.processId)));
  const zp::ServiceStatusProcess stopped = status(h);
  EXPECT_EQ(stopped.currentState, zp::kServiceStopped);
  EXPECT_EQ(stopped.win32ExitCode, 0u);
  EXPECT_EQ(stopped.processId, 0u);
  EXPECT_EQ(tw::test::runHelper({"query", "Tw Test Service"}),
            static_cast<int>(zp::kServiceStopped));

  std::ifstream log(root() + "/services/tw%20test%20service/output.log");
  std::stringstream text;
  text << log.rdbuf();
  // Only what the service printed (a sanitizer's report in the service would show here).
  EXPECT_EQ(text.str(), "service main running\n");
}

TEST_F(ServiceTest, KilledServiceReadsAsStoppedWithAnErrorAndStartsAgain) {
  const zp::ScHandle h = create("Tw Crash", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  const pid_t pid = startRunning(h);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_TRUE(tw::test::waitForExit(pid));

  const zp::ServiceStatusProcess s = status(h);
  EXPECT_EQ(s.currentState, zp::kServiceStopped);
  EXPECT_EQ(s.win32ExitCode, zp::kErrorProcessAborted);
  EXPECT_EQ(s.processId, 0u);
  zp::ServiceStatus ignored;
  EXPECT_FALSE(zp::controlService(h, zp::kServiceControlStop, &ignored));
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceNotActive);

  const pid_t again = startRunning(h);
  EXPECT_NE(again, pid);
  stopAndWait(h);
}

TEST_F(ServiceTest, StartingARunningServiceGives1056) {
  const zp::ScHandle h = create("Tw Twice", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  startRunning(h);
  EXPECT_FALSE(zp::startService(h, 0, nullptr));
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceAlreadyRunning);
  stopAndWait(h);
}

TEST_F(ServiceTest, StoppingAServiceThatNeverRanGives1062) {
  const zp::ScHandle h = create("Tw Idle", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  const zp::ServiceStatusProcess s = status(h);
  EXPECT_EQ(s.currentState, zp::kServiceStopped);
  EXPECT_EQ(s.win32ExitCode, zp::kErrorServiceNeverStarted);
  zp::ServiceStatus out;
  EXPECT_FALSE(zp::controlService(h, zp::kServiceControlStop, &out));
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceNotActive);
  EXPECT_EQ(out.currentState, zp::kServiceStopped);
}

TEST_F(ServiceTest, OpeningAMissingServiceGives1060) {
  zp::setLastError(0);
  EXPECT_EQ(zp::openService(manager_, "Tw Nobody", zp::kServiceQueryStatus), zp::kScHandleNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceDoesNotExist);
}

TEST_F(ServiceTest, SecondCreateGives1073WhateverTheCase) {
  ASSERT_NE(create("Tw Dup", serviceImage()), zp::kScHandleNone);
  EXPECT_EQ(create("TW DUP", serviceImage()), zp::kScHandleNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceExists);
}

TEST_F(ServiceTest, BadServiceNamesGive123) {
  for (const std::string& name : {std::string(), std::string("a/b"), std::string("a\\b"),
                                  std::string("../escape"), std::string(257, 'x')}) {
    EXPECT_EQ(create(name, serviceImage()), zp::kScHandleNone) << name;
    EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidName) << name;
    EXPECT_EQ(zp::openService(manager_, name.c_str(), zp::kServiceQueryStatus), zp::kScHandleNone);
    EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidName) << name;
  }
}

TEST_F(ServiceTest, NamesBecomeEscapedFolderNamesInsideTheRoot) {
  ASSERT_NE(create("..", serviceImage()), zp::kScHandleNone);
  ASSERT_NE(create("A B", serviceImage()), zp::kScHandleNone);
  ASSERT_NE(create("a%20b", serviceImage()), zp::kScHandleNone);  // not the same as "A B"
  std::vector<std::string> folders;
  const std::string services =
      root() + "/registry/HKEY_LOCAL_MACHINE/system/currentcontrolset/services";
  for (const auto& entry : std::filesystem::directory_iterator(services)) {
    if (entry.is_directory()) folders.push_back(entry.path().filename().string());
  }
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"%2E.", "a%20b", "a%2520b"}));
}

TEST_F(ServiceTest, DispatcherRunFromAConsoleFailsAtOnceWith1063) {
  const tw::test::ScopedEnv console(zp::kServiceMarkerVariable, std::nullopt);
  const zp::ServiceTableEntry table[] = {{"Tw Console", [](u32, char**) {}}, {nullptr, nullptr}};
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(zp::startServiceCtrlDispatcher(table));
    EXPECT_EQ(zp::getLastError(), zp::kErrorFailedServiceControllerConnect);
  }
  EXPECT_EQ(zp::registerServiceCtrlHandler("Tw Console", [](u32) {}), zp::kServiceStatusHandleNone);
}

TEST_F(ServiceTest, QueryConfigReportsTheSizeThenFillsTheBuffer) {
  const std::string image = serviceImage();
  const zp::ScHandle base = create("Tw Base", serviceImage());
  ASSERT_NE(base, zp::kScHandleNone);
  const zp::ScHandle h =
      zp::createService(manager_, "Tw Config", "Tw Config Display", zp::kServiceAllAccess,
                        zp::kServiceWin32OwnProcess, zp::kServiceAutoStart, zp::kServiceErrorNormal,
                        image.c_str(), "tcpip\0Tw Base\0", nullptr);
  ASSERT_NE(h, zp::kScHandleNone);
  created_.push_back("Tw Config");

  u32 needed = 0;
  EXPECT_FALSE(zp::queryServiceConfig(h, nullptr, 0, &needed));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInsufficientBuffer);
  ASSERT_GT(needed, sizeof(zp::QueryServiceConfig));
  std::vector<u64> storage(needed / sizeof(u64) + 1);
  auto* config = reinterpret_cast<zp::QueryServiceConfig*>(storage.data());
  u32 again = 0;
  EXPECT_FALSE(zp::queryServiceConfig(h, config, needed - 1, &again));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInsufficientBuffer);
  EXPECT_EQ(again, needed);

  ASSERT_TRUE(zp::queryServiceConfig(h, config, needed, &again)) << zp::getLastError();
  EXPECT_EQ(config->serviceType, zp::kServiceWin32OwnProcess);
  EXPECT_EQ(config->startType, zp::kServiceAutoStart);
  EXPECT_EQ(config->errorControl, zp::kServiceErrorNormal);
  EXPECT_STREQ(config->binaryPathName, image.c_str());
  EXPECT_STREQ(config->loadOrderGroup, "");
  EXPECT_STREQ(config->serviceStartName, "LocalSystem");
  EXPECT_STREQ(config->displayName, "Tw Config Display");
  EXPECT_EQ(std::string(config->dependencies, 15), std::string("tcpip\0Tw Base\0\0", 15));

  // An installed dependency (or tcpip) lets it start.
  startRunning(h);
  stopAndWait(h);
}

TEST_F(ServiceTest, HandlesCheckTheirAccessRights) {
  ASSERT_NE(create("Tw Rights", serviceImage()), zp::kScHandleNone);
  const zp::ScHandle h = zp::openService(manager_, "Tw Rights", zp::kServiceQueryStatus);
  ASSERT_NE(h, zp::kScHandleNone);
  u32 needed = 0;
  zp::ServiceStatus s;
  EXPECT_FALSE(zp::startService(h, 0, nullptr));
  EXPECT_EQ(zp::getLastError(), zp::kErrorAccessDenied);
  EXPECT_FALSE(zp::queryServiceConfig(h, nullptr, 0, &needed));
  EXPECT_EQ(zp::getLastError(), zp::kErrorAccessDenied);
  EXPECT_FALSE(zp::controlService(h, zp::kServiceControlStop, &s));
  EXPECT_EQ(zp::getLastError(), zp::kErrorAccessDenied);
  EXPECT_FALSE(zp::deleteService(h));
  EXPECT_EQ(zp::getLastError(), zp::kErrorAccessDenied);
  EXPECT_TRUE(zp::queryServiceStatus(h, &s));

  const zp::ScHandle connectOnly = zp::openScManager(zp::kScManagerConnect);
  EXPECT_EQ(zp::createService(connectOnly, "Tw Other", nullptr, zp::kServiceAllAccess,
                              zp::kServiceWin32OwnProcess, zp::kServiceDemandStart,
                              zp::kServiceErrorNormal, "/bin/true", nullptr, nullptr),
            zp::kScHandleNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorAccessDenied);
  EXPECT_FALSE(zp::closeServiceHandle(h + 1000));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidHandle);
}

TEST_F(ServiceTest, StartRefusalsGiveTheWindowsErrors) {
  struct Case {
    const char* name;
    std::string image;
    const char* dependencies;
    u32 startType;
    u32 error;
  };
  const std::string plainFile = root() + "/plain";
  const std::string textFile = root() + "/text";
  std::ofstream(plainFile) << "data\n";
  std::ofstream(textFile) << "no program\n";
  ::chmod(plainFile.c_str(), 0644);
  ::chmod(textFile.c_str(), 0755);
  const Case cases[] = {
      {"Tw Missing Program", "\"/nonexistent/tw-program\" service", nullptr,
       zp::kServiceDemandStart, zp::kErrorFileNotFound},
      {"Tw Relative Program", "tw-program service", nullptr, zp::kServiceDemandStart,
       zp::kErrorFileNotFound},
      {"Tw Not Executable", plainFile, nullptr, zp::kServiceDemandStart, zp::kErrorAccessDenied},
      {"Tw Not A Program", textFile, nullptr, zp::kServiceDemandStart, zp::kErrorBadExeFormat},
      {"Tw Disabled", serviceImage(), nullptr, zp::kServiceDisabled, zp::kErrorServiceDisabled},
      {"Tw Lonely", serviceImage(), "Tw No Such Dependency\0", zp::kServiceDemandStart,
       zp::kErrorServiceDependencyDeleted},
  };
  for (const Case& c : cases) {
    const zp::ScHandle h = create(c.name, c.image, c.dependencies, c.startType);
    ASSERT_NE(h, zp::kScHandleNone) << c.name;
    EXPECT_FALSE(zp::startService(h, 0, nullptr)) << c.name;
    EXPECT_EQ(zp::getLastError(), c.error) << c.name;
    EXPECT_EQ(status(h).currentState, zp::kServiceStopped) << c.name;
  }
}

TEST_F(ServiceTest, ProgramThatNeverConnectsFailsWith1053AndIsKilled) {
  // Long enough for the program to have written its pid file.
  zp::setServiceWaitBoundForTest(std::chrono::milliseconds(1500));
  const zp::ScHandle h = create("Tw Silent", "\"" + kHelperProgram + "\" no-dispatcher");
  ASSERT_NE(h, zp::kScHandleNone);
  EXPECT_FALSE(zp::startService(h, 0, nullptr));
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceRequestTimeout);
  const zp::ServiceStatusProcess s = status(h);
  EXPECT_EQ(s.currentState, zp::kServiceStopped);
  EXPECT_EQ(s.win32ExitCode, zp::kErrorServiceRequestTimeout);
  // Killed, and reaped: not even a zombie is left.
  std::ifstream pidFile(root() + "/work/no-dispatcher.pid");
  pid_t pid = 0;
  ASSERT_TRUE(pidFile >> pid);
  EXPECT_TRUE(tw::test::eventually(
      [&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }));
}

// Sends control from many threads at once; each call's error and time taken.
std::vector<std::pair<u32, std::chrono::milliseconds>> controlFromMany(zp::ScHandle h, u32 control,
                                                                       int callers) {
  std::vector<std::pair<u32, std::chrono::milliseconds>> results(static_cast<size_t>(callers));
  std::vector<std::thread> threads;
  for (int i = 0; i < callers; ++i) {
    threads.emplace_back([&, i] {
      const auto start = std::chrono::steady_clock::now();
      zp::ServiceStatus s;
      const u32 error = zp::controlService(h, control, &s) ? 0 : zp::getLastError();
      results[static_cast<size_t>(i)] = {error,
                                         std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - start)};
    });
  }
  for (std::thread& t : threads) t.join();
  return results;
}

// More callers than the control socket's listen queue holds, each given 1053
// within the bound (plus scheduling slack; a caller stuck in connect would
// never return) by a service that does not answer: its handler never
// returns, or its process is stopped and accepts nothing.
TEST_F(ServiceTest, ControlsToAServiceThatDoesNotAnswerEachGive1053WithinTheBound) {
  constexpr auto kBound = std::chrono::milliseconds(1000);
  constexpr u32 kStallControl = 201;
  for (const bool stopProcess : {false, true}) {
    SCOPED_TRACE(stopProcess ? "process stopped" : "handler stalled");
    const std::string name = stopProcess ? "Tw Frozen" : "Tw Stall";
    const zp::ScHandle h = create(name, serviceImage());
    ASSERT_NE(h, zp::kScHandleNone);
    const pid_t pid = startRunning(h);
    if (stopProcess) {
      ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    }
    zp::setServiceWaitBoundForTest(kBound);
    const u32 control = stopProcess ? zp::kServiceControlInterrogate : kStallControl;
    for (const auto& [error, took] : controlFromMany(h, control, 40)) {
      EXPECT_EQ(error, zp::kErrorServiceRequestTimeout);
      EXPECT_LT(took, kBound * 5);
    }
    zp::setServiceWaitBoundForTest(std::nullopt);
  }
}

TEST_F(ServiceTest, SilentControlConnectionDoesNotHoldUpOthers) {
  const zp::ScHandle h = create("Tw Quiet", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  startRunning(h);
  zp::setServiceWaitBoundForTest(std::chrono::milliseconds(1000));
  // Connected, and never a word.
  const int silent = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = root() + "/services/tw%20quiet/control.sock";
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  zp::ServiceStatus s;
  EXPECT_TRUE(zp::controlService(h, 130, &s)) << zp::getLastError();
  EXPECT_EQ(s.checkPoint, 130u);
  ::close(silent);
  stopAndWait(h);
}

TEST_F(ServiceTest, DeletedRunningServiceStaysMarkedUntilItStops) {
  const zp::ScHandle h = create("Tw Doomed", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  startRunning(h);
  ASSERT_TRUE(zp::deleteService(h)) << zp::getLastError();
  EXPECT_FALSE(zp::deleteService(h));
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceMarkedForDelete);
  EXPECT_EQ(create("Tw Doomed", serviceImage()), zp::kScHandleNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceMarkedForDelete);
  EXPECT_NE(zp::openService(manager_, "Tw Doomed", zp::kServiceQueryStatus), zp::kScHandleNone);

  stopAndWait(h);
  EXPECT_EQ(zp::openService(manager_, "Tw Doomed", zp::kServiceQueryStatus), zp::kScHandleNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceDoesNotExist);
  EXPECT_NE(create("Tw Doomed", serviceImage()), zp::kScHandleNone);
}

// True when this process has the file open.
bool openHere(const std::string& path) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == path) return true;
  }
  return false;
}

TEST_F(ServiceTest, DeleteThatComesWhileAStartWaitsForItsLockWins) {
  const zp::ScHandle h = create("Tw Raced", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  const std::string lock = root() + "/services/tw%20raced/manager.lock";
  std::filesystem::create_directories(std::filesystem::path(lock).parent_path());
  const pid_t holder = tw::test::spawnHelper({"hold-lock", lock});
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(tw::test::eventually([&] { return std::filesystem::exists(lock + ".held"); }));

  bool started = true;
  u32 error = 0;
  std::thread starter([&] {
    started = zp::startService(h, 0, nullptr);
    error = zp::getLastError();
  });
  // The start has read the configuration and waits for the lock ...
  EXPECT_TRUE(tw::test::eventually([&] { return openHere(lock); }));
  // ... when the service is marked for delete behind its back.
  zp::RegKey key = zp::kRegKeyNone;
  ASSERT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Tw Raced",
                             zp::kKeyAllAccess, &key),
            0u);
  const u32 one = 1;
  ASSERT_EQ(zp::regSetValueEx(key, "DeleteFlag", zp::kRegDword, reinterpret_cast<const u8*>(&one),
                              sizeof one),
            0u);
  zp::regCloseKey(key);
  ::kill(holder, SIGKILL);
  tw::test::joinHelper(holder);
  starter.join();
  EXPECT_FALSE(started);
  EXPECT_EQ(error, zp::kErrorServiceMarkedForDelete);
  EXPECT_EQ(status(h).processId, 0u);
}

TEST_F(ServiceTest, DeletedStoppedServiceGoesAtOnce) {
  const zp::ScHandle h = create("Tw Gone", serviceImage());
  ASSERT_NE(h, zp::kScHandleNone);
  ASSERT_TRUE(zp::deleteService(h));
  EXPECT_EQ(zp::openService(manager_, "Tw Gone", zp::kServiceQueryStatus), zp::kScHandleNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceDoesNotExist);
  EXPECT_FALSE(zp::startService(h, 0, nullptr));
  EXPECT_EQ(zp::getLastError(), zp::kErrorServiceMarkedForDelete);
}

TEST_F(ServiceTest, EnumerationListsEveryServiceByNameWithItsState) {
  std::vector<zp::EnumServiceStatusProcess> listed;
  // An empty root has no services, and no database folder yet.
  ASSERT_TRUE(zp::enumServicesStatusEx(manager_, listed)) << zp::getLastError();
  EXPECT_TRUE(listed.empty());

  ASSERT_NE(create("zeta", serviceImage()), zp::kScHandleNone);
  const zp::ScHandle running = create("Alpha", serviceImage());
  ASSERT_NE(running, zp::kScHandleNone);
  ASSERT_NE(create("beta", serviceImage()), zp::kScHandleNone);
  const pid_t pid = startRunning(running);
  // A key under Services that is no service (the event log's) is not listed.
  const zp::EventSourceHandle source = zp::registerEventSource("Tw Source");
  zp::RegKey key = zp::kRegKeyNone;
  ASSERT_EQ(zp::regCreateKeyEx(zp::kRegLocalMachine,
                               "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                               zp::kKeyWrite, &key, nullptr),
            zp::kErrorSuccess);
  zp::regCloseKey(key);
  zp::deregisterEventSource(source);

  ASSERT_TRUE(zp::enumServicesStatusEx(manager_, listed)) << zp::getLastError();
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].serviceName, "Alpha");
  EXPECT_EQ(listed[0].status.currentState, zp::kServiceRunning);
  EXPECT_EQ(listed[0].status.processId, static_cast<u32>(pid));
  EXPECT_EQ(listed[1].serviceName, "beta");
  EXPECT_EQ(listed[1].status.currentState, zp::kServiceStopped);
  EXPECT_EQ(listed[2].serviceName, "zeta");

  // A deleted stopped service is gone from the list at once.
  const zp::ScHandle beta = zp::openService(manager_, "beta", zp::kDelete);
  ASSERT_TRUE(zp::deleteService(beta));
  zp::closeServiceHandle(beta);
  ASSERT_TRUE(zp::enumServicesStatusEx(manager_, listed));
  EXPECT_EQ(listed.size(), 2u);

  // The right to enumerate is needed.
  const zp::ScHandle connectOnly = zp::openScManager(zp::kScManagerConnect);
  EXPECT_FALSE(zp::enumServicesStatusEx(connectOnly, listed));
  EXPECT_EQ(zp::getLastError(), zp::kErrorAccessDenied);
  zp::closeServiceHandle(connectOnly);
  stopAndWait(running);
}

TEST(ServiceImagePathTest, SplitsByTheWindowsRules) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"", {}},
      {"   ", {}},
      {"/usr/bin/agent", {"/usr/bin/agent"}},
      {"\"/opt/Tarnwell Suite/agent\"", {"/opt/Tarnwell Suite/agent"}},
      {"\"/opt/a b/agent\" -x \"two words\" last", {"/opt/a b/agent", "-x", "two words", "last"}},
      {"  /bin/p\t a  b ", {"/bin/p", "a", "b"}},
      {"p a\\\\b", {"p", "a\\\\b"}},            // backslashes without a quote stay
      {"p a\\\"b", {"p", "a\"b"}},              // 2n+1 backslashes: literal quote
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},     // 2n backslashes: n, quote delimits
      {"p \"a\"\"b\"", {"p", "a\"b"}},          // "" inside quotes
      {"p \"\"", {"p", ""}},                    // an empty argument
      {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},  // the program takes backslashes as they are
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(zp::parseImagePath(text), expected) << text;
  }
}

}  // namespace
