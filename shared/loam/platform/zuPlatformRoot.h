#pragma once
// The one folder that holds this machine's state in place of Windows' own
// stores (common application data, and later the service database, registry
// and event log). Named by the environment variable ZU_PLATFORM_ROOT so that
// tests and side-by-side installs can point it elsewhere.
#include <chrono>
#include <optional>
#include <string>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

inline constexpr const char* kPlatformRootVariable = "ZU_PLATFORM_ROOT";
inline constexpr const char* kDefaultPlatformRoot = "/var/lib/tarnwell";

// $ZU_PLATFORM_ROOT when set and not empty, else /var/lib/tarnwell; read on
// every call, without a trailing separator (unless it is "/").
std::string rootFolder();

// The stand-in for the common application-data folder: <root>/ProgramData.
// With create, the folder (and the root) is made when missing, as
// SHGetFolderPath does with CSIDL_FLAG_CREATE. Returns a Windows error number.
u32 commonAppDataFolder(std::string& out, bool create);

// Test seam: the bound on waiting for a lock that another process holds on
// the registry, a service's start or the event log (10000 ms unless set;
// std::nullopt restores it).
void setLockWaitBoundForTest(std::optional<std::chrono::milliseconds> bound);

}  // namespace zuPlatform
