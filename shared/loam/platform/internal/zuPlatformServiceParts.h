#pragma once
// Internal: what the parts of the service control manager share. The
// configuration lives in the registry (zuPlatformServiceConfig.cpp), the
// status and liveness records in the service's run-time folder
// (zuPlatformServiceStatus.cpp), controls travel as messages over Unix
// sockets (zuPlatformServiceControl.cpp); the manager side
// (zuPlatformServiceManager.cpp) and the service's dispatcher
// (zuPlatformServiceDispatcher.cpp) are built on them.
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformService.h"
#include "loam/platform/zuTypes.h"
#include "zuPlatformRegistryStore.h"
#include "zuPlatformStore.h"

namespace zuPlatform::service {

using Clock = std::chrono::steady_clock;

// The bound on a start and on a control's answer unless a test sets another.
inline constexpr i64 kDefaultWaitBoundMs = 30000;
// The start arguments fit one control-socket message.
inline constexpr size_t kMaxStartArgumentBytes = 60000;
// The longest service name (display names too).
inline constexpr u32 kMaxServiceNameLength = 256;
// A started program's dispatcher says this first on the start socket ("ZUSH").
inline constexpr u32 kHelloMagic = 0x5A555348;

inline i64 msLeft(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Sets the last error; false.
inline bool fail(u32 error) {
  setLastError(error);
  return false;
}

// --- names and places ------------------------------------------------------

// 123 for a name that cannot be a service's, else 0.
[[nodiscard]] u32 checkServiceName(const char* name);
// The registry folder of the service key (escaped: its escaped name).
std::string serviceKeyFolder(const std::string& escaped);
// <root>/services/<escaped>, and a file in it.
std::string runtimeFolder(const std::string& escaped);
std::string runtimeFile(const std::string& escaped, std::string_view leaf);
// The working folder of every service.
std::string workFolder();

// --- configuration in the registry -----------------------------------------

struct ServiceConfig {
  std::string name;
  u32 type = 0;
  u32 start = 0;
  u32 errorControl = 0;
  std::string imagePath;
  std::string displayName;
  std::string objectName;
  std::vector<std::string> dependencies;
  bool deleteFlag = false;
};

std::string dwordBytes(u32 value);
std::string stringBytes(std::string_view text);

// 1060 when there is no such key or the key holds no service (only a Type
// value makes one: Services also holds keys such as EventLog's).
[[nodiscard]] u32 loadConfig(const std::string& escaped, ServiceConfig& out,
                             store::RegKeyData* keyOut = nullptr);

// --- status and liveness records -------------------------------------------

// Writes the status record atomically. 0 or errno.
[[nodiscard]] int writeStatus(const std::string& escaped, const ServiceStatusProcess& s);
// The record as written; false when there is none or it does not parse.
[[nodiscard]] bool readRawStatus(const std::string& escaped, ServiceStatusProcess& s);
ServiceStatusProcess stoppedStatus(u32 win32ExitCode);

// The status as a manager sees it. A record that is not STOPPED counts only
// while its process lives (holds the liveness lock) or a start is under way
// (holds the manager lock); otherwise the process died without reporting.
// holdingManagerLock: the caller holds the manager lock itself, so no start
// is under way.
ServiceStatusProcess effectiveStatus(const std::string& escaped, bool holdingManagerLock = false);

ServiceStatus toStatus(const ServiceStatusProcess& s);

// --- control messaging -----------------------------------------------------

// A listening SOCK_SEQPACKET socket at path, mode 0600. Invalid (errno set) on failure.
[[nodiscard]] store::Fd listenUnix(const std::string& path);
// The next connection waiting on the listener (close-on-exec, non-blocking
// when asked); invalid with errno when there is none or accept failed.
[[nodiscard]] store::Fd acceptUnix(int listener, bool nonBlocking);
// Connects by the deadline; ETIMEDOUT when it passed first.
[[nodiscard]] store::Fd connectUnix(const std::string& path, Clock::time_point deadline);
// One message, whole. False on any failure.
[[nodiscard]] bool sendMessage(int fd, const void* data, size_t size);
// One message into out (resized to what arrived); false on error or end.
[[nodiscard]] bool receiveMessage(int fd, std::string& out, size_t maxSize);

// The reply to a control: an error number and the status with the pid.
struct ControlReply {
  u32 error = 0;
  ServiceStatusProcess status;
};

}  // namespace zuPlatform::service
