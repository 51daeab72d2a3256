// zu_service_host: the stand-in's service manager at boot and shutdown.
//
//   zu_service_host boot     starts the automatic services, then stays; on
//                            SIGTERM (or SIGINT, SIGHUP) stops every running
//                            service and exits 0 when each one stopped, else 1
//   zu_service_host events   prints the Application event log, one record a line
//
// Machine state is under $ZU_PLATFORM_ROOT (default /var/lib/tarnwell).
#include <iostream>
#include <string>

#include "loam/platform/service_host/zuServiceHost.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformSignals.h"
#include "loam/platform/zuPlatformWait.h"

namespace zp = zuPlatform;

namespace {

constexpr int kExitStopFailed = 1;
constexpr int kExitUsage = 2;

zp::Handle g_stopEvent = zp::kInvalidHandle;

bool onSignal(u32) {
  zp::setEvent(g_stopEvent);
  return true;
}

int boot() {
  // Lives as long as the process: the signal thread may set it until the very end.
  g_stopEvent = zp::createEvent();
  if (!zp::isValidHandle(g_stopEvent)) {
    std::cerr << "No stop event: error " << zp::getLastError() << "." << std::endl;
    return kExitStopFailed;
  }
  if (!zp::setConsoleCtrlHandler(onSignal, true)) {
    std::cerr << "No signal handler: error " << zp::getLastError() << "." << std::endl;
    return kExitStopFailed;
  }
  zuServiceHost host(std::cerr, g_stopEvent);
  const u32 failed = host.boot();
  std::cerr << "Boot done: " << failed << " service(s) failed to start." << std::endl;
  const zp::Handle waitOn[] = {g_stopEvent};
  while (zp::waitForAny(waitOn, zp::kWaitForever) != 0) {
  }
  std::cerr << "Stop requested: stopping every running service." << std::endl;
  const bool stopped = host.stopAll();
  std::cerr << (stopped ? "Every service stopped." : "Not every service stopped.") << std::endl;
  return stopped ? 0 : kExitStopFailed;
}

int events() {
  const bool read = zp::forEachEventRecord(
      [](const zp::EventRecord& record) { std::cout << zp::formatEventRecord(record) << '\n'; });
  std::cout << std::flush;
  if (read) return 0;
  std::cerr << "The event log cannot be read: error " << zp::getLastError() << "." << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 2 ? argv[1] : "";
  if (command == "boot") return boot();
  if (command == "events") return events();
  std::cerr << "usage: zu_service_host boot|events" << std::endl;
  return kExitUsage;
}
