// A small program for the service manager tests, run as a service by the
// stand-in or as a helper that uses the stand-in from a second process.
//
//   service [args...]          run under the dispatcher; writes <name>.report
//                              in the working folder before it reports RUNNING;
//                              its handler stalls for ever on control 201.
//                              Among the args: boot-record (write <name>.deps,
//                              the state of each dependency at start, and
//                              <name>.stopped from the stop handler),
//                              running-after=<ms> (stay start pending that
//                              long), start-hint=<ms> (the wait hint while
//                              start pending), fail-start=<code> (report
//                              STOPPED with that exit code instead of
//                              RUNNING), stop-hangs=<ms> (answer the stop with
//                              stop pending and that wait hint, never stop)
//   no-dispatcher              never connects (writes no-dispatcher.pid in the
//                              working folder, waits until killed)
//   query <name>               exit code: the service's state, 100 on failure
//   start <name>               exit code: 0 when started, 100 on failure
//   reg-writer <prefix> <n>    sets n values <prefix><i> in one registry key
//   report-events <n>          reports n events from its own source
//   hold-lock <path>           holds flock on path, makes <path>.held, waits
//   leader-ends                its first thread ends, another waits until killed
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformService.h"

namespace zp = zuPlatform;

namespace {

constexpr int kFailed = 100;

std::vector<std::string> g_processArgs;
zp::ServiceStatusHandle g_statusHandle = zp::kServiceStatusHandleNone;
std::mutex g_statusLock;  // the handler and the service main both report
zp::ServiceStatus g_status{};
int g_stopEvent = -1;

void report(u32 state) {
  std::lock_guard<std::mutex> lock(g_statusLock);
  g_status.serviceType = zp::kServiceWin32OwnProcess;
  g_status.currentState = state;
  g_status.controlsAccepted = state == zp::kServiceRunning ? zp::kServiceAcceptStop : 0;
  zp::setServiceStatus(g_statusHandle, &g_status);
}

// A user control whose handler never returns.
constexpr u32 kStallControl = 201;

std::string g_serviceName;

// The value of "<key>=<value>" among the process's arguments; empty when absent.
std::string processOption(const std::string& key) {
  for (const std::string& a : g_processArgs) {
    if (a.rfind(key + "=", 0) == 0) return a.substr(key.size() + 1);
  }
  return std::string();
}

bool processFlag(const std::string& flag) {
  for (const std::string& a : g_processArgs) {
    if (a == flag) return true;
  }
  return false;
}

void writeFileAtomically(const std::string& name, const std::string& text) {
  {
    std::ofstream out(name + ".tmp");
    out << text;
  }
  std::rename((name + ".tmp").c_str(), name.c_str());
}

// Each dependency of this service with its state right now, one "name=state" a line.
void recordDependencies() {
  const zp::ScHandle manager = zp::openScManager(zp::kScManagerConnect);
  const zp::ScHandle self =
      zp::openService(manager, g_serviceName.c_str(), zp::kServiceQueryConfig);
  u32 needed = 0;
  (void)zp::queryServiceConfig(self, nullptr, 0, &needed);
  std::vector<zp::QueryServiceConfig> buffer(needed / sizeof(zp::QueryServiceConfig) + 1);
  std::string text;
  if (zp::queryServiceConfig(self, buffer.data(),
                             static_cast<u32>(buffer.size() * sizeof(zp::QueryServiceConfig)),
                             &needed)) {
    for (const char* d = buffer[0].dependencies; *d; d += std::strlen(d) + 1) {
      const zp::ScHandle h = zp::openService(manager, d, zp::kServiceQueryStatus);
      zp::ServiceStatus status;
      text += std::string(d) + "=" +
              (zp::queryServiceStatus(h, &status) ? std::to_string(status.currentState) : "none") +
              "\n";
      zp::closeServiceHandle(h);
    }
  }
  zp::closeServiceHandle(self);
  zp::closeServiceHandle(manager);
  writeFileAtomically(g_serviceName + ".deps", text);
}

void handler(u32 control) {
  if (control == kStallControl) {
    for (;;) ::pause();
  }
  if (control == zp::kServiceControlStop) {
    if (processFlag("boot-record"))
      writeFileAtomically(g_serviceName + ".stopped", "stop control\n");
    if (const std::string hang = processOption("stop-hangs"); !hang.empty()) {
      std::lock_guard<std::mutex> lock(g_statusLock);
      g_status.currentState = zp::kServiceStopPending;
      g_status.controlsAccepted = 0;
      g_status.checkPoint = 1;
      g_status.waitHint = static_cast<u32>(std::atoi(hang.c_str()));
      zp::setServiceStatus(g_statusHandle, &g_status);
      return;
    }
    report(zp::kServiceStopPending);
    const u64 one = 1;
    (void)!::write(g_stopEvent, &one, sizeof one);
    return;
  }
  std::lock_guard<std::mutex> lock(g_statusLock);
  if (control >= zp::kServiceControlUserFirst && control <= zp::kServiceControlUserLast) {
    g_status.checkPoint = control;  // lets the test see that its control was served
  }
  zp::setServiceStatus(g_statusHandle, &g_status);
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "|" : "") + items[i];
  return out;
}

bool stdinIsDevNull() {
  struct stat in {};
  struct stat null {};
  return ::fstat(0, &in) == 0 && ::stat("/dev/null", &null) == 0 && in.st_dev == null.st_dev &&
         in.st_ino == null.st_ino;
}

void writeReport(const std::string& name, const std::vector<std::string>& mainArgs) {
  char cwd[4096] = {};
  if (!::getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
  const char* marker = std::getenv(zp::kServiceMarkerVariable);
  const std::string temp = name + ".report.tmp";
  {
    std::ofstream out(temp);
    out << "argv=" << joined(g_processArgs) << "\n"
        << "main=" << joined(mainArgs) << "\n"
        << "cwd=" << cwd << "\n"
        << "marker=" << (marker ? marker : "none") << "\n"
        << "stdin=" << (stdinIsDevNull() ? "null" : "other") << "\n"
        << "pid=" << ::getpid() << "\n";
  }
  std::rename(temp.c_str(), (name + ".report").c_str());
}

void serviceMain(u32 argc, char** argv) {
  std::vector<std::string> mainArgs(argv, argv + argc);
  g_serviceName = mainArgs[0];
  g_statusHandle = zp::registerServiceCtrlHandler(argv[0], handler);
  if (g_statusHandle == zp::kServiceStatusHandleNone) return;
  if (const std::string hint = processOption("start-hint"); !hint.empty()) {
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_status.waitHint = static_cast<u32>(std::atoi(hint.c_str()));
  }
  report(zp::kServiceStartPending);
  if (processFlag("boot-record")) recordDependencies();
  if (const std::string code = processOption("fail-start"); !code.empty()) {
    std::lock_guard<std::mutex> lock(g_statusLock);
    g_status.currentState = zp::kServiceStopped;
    g_status.win32ExitCode = static_cast<u32>(std::atoi(code.c_str()));
    zp::setServiceStatus(g_statusHandle, &g_status);
    return;
  }
  if (const std::string delay = processOption("running-after"); !delay.empty()) {
    // A slow start: whoever waits for RUNNING must wait for this.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay.c_str())));
  }
  writeReport(mainArgs[0], mainArgs);
  std::printf("service main running\n");
  std::fflush(stdout);
  report(zp::kServiceRunning);
  u64 value = 0;
  while (::read(g_stopEvent, &value, sizeof value) < 0) {
  }
  report(zp::kServiceStopped);
}

int runService() {
  g_stopEvent = ::eventfd(0, EFD_CLOEXEC);
  const zp::ServiceTableEntry table[] = {{"Tw Test Service", serviceMain}, {nullptr, nullptr}};
  if (!zp::startServiceCtrlDispatcher(table)) {
    std::printf("dispatcher failed: %u\n", zp::getLastError());
    return kFailed;
  }
  return 0;
}

int queryService(const char* name) {
  const zp::ScHandle manager = zp::openScManager(zp::kScManagerConnect);
  const zp::ScHandle service = zp::openService(manager, name, zp::kServiceQueryStatus);
  zp::ServiceStatus status;
  if (!zp::queryServiceStatus(service, &status)) return kFailed;
  zp::closeServiceHandle(service);
  zp::closeServiceHandle(manager);
  return static_cast<int>(status.currentState);
}

int startService(const char* name) {
  const zp::ScHandle manager = zp::openScManager(zp::kScManagerConnect);
  const zp::ScHandle service = zp::openService(manager, name, zp::kServiceStart);
  if (!zp::startService(service, 0, nullptr)) {
    std::printf("start failed: %u\n", zp::getLastError());
    return kFailed;
  }
  zp::closeServiceHandle(service);
  zp::closeServiceHandle(manager);
  return 0;
}

int writeRegistry(const std::string& prefix, int count) {
  zp::RegKey key = zp::kRegKeyNone;
  if (zp::regCreateKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Tarnwell\\Concurrency", zp::kKeyWrite,
                         &key, nullptr) != zp::kErrorSuccess) {
    return kFailed;
  }
  for (int i = 0; i < count; ++i) {
    const u32 value = static_cast<u32>(i);
    const std::string name = prefix + std::to_string(i);
    if (zp::regSetValueEx(key, name.c_str(), zp::kRegDword, reinterpret_cast<const u8*>(&value),
                          4) != zp::kErrorSuccess) {
      return kFailed;
    }
  }
  zp::regCloseKey(key);
  return 0;
}

int reportEvents(int count) {
  const std::string source = "Writer " + std::to_string(::getpid());
  const zp::EventSourceHandle handle = zp::registerEventSource(source.c_str());
  for (int i = 0; i < count; ++i) {
    const std::string text = std::to_string(i);
    const char* strings[] = {text.c_str()};
    if (!zp::reportEvent(handle, zp::kEventLogInformationType, 0, 109, 1, strings)) return kFailed;
  }
  zp::deregisterEventSource(handle);
  return 0;
}

int holdLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return kFailed;
  const int held = ::open((path + ".held").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (held < 0) return kFailed;
  ::close(held);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  g_processArgs.assign(argv, argv + argc);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "service") return runService();
  if (mode == "no-dispatcher") {
    std::ofstream("no-dispatcher.pid") << ::getpid();
    for (;;) ::pause();
  }
  if (mode == "query" && argc == 3) return queryService(argv[2]);
  if (mode == "start" && argc == 3) return startService(argv[2]);
  if (mode == "reg-writer" && argc == 4) return writeRegistry(argv[2], std::atoi(argv[3]));
  if (mode == "report-events" && argc == 3) return reportEvents(std::atoi(argv[2]));
  if (mode == "hold-lock" && argc == 3) return holdLock(argv[2]);
  if (mode == "leader-ends") {
    std::thread([] {
      for (;;) ::pause();
    }).detach();
    ::pthread_exit(nullptr);
  }
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}
