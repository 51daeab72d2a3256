#pragma once
// Windows error numbers that the stand-ins for the service control manager,
// the registry and the event log report, and the thread's last error as
// GetLastError/SetLastError keep it. Registry calls return their error
// instead, as on Windows; service and event-log calls set the last error.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

inline constexpr u32 kErrorSuccess = 0;
inline constexpr u32 kErrorFileNotFound = 2;
inline constexpr u32 kErrorAccessDenied = 5;
inline constexpr u32 kErrorInvalidHandle = 6;
inline constexpr u32 kErrorNotEnoughMemory = 8;
inline constexpr u32 kErrorInvalidData = 13;
inline constexpr u32 kErrorGenFailure = 31;
// Another process holds the lock of the registry or event log past the bound.
inline constexpr u32 kErrorSharingViolation = 32;
inline constexpr u32 kErrorInvalidParameter = 87;
inline constexpr u32 kErrorDiskFull = 112;
inline constexpr u32 kErrorInsufficientBuffer = 122;
inline constexpr u32 kErrorInvalidName = 123;
inline constexpr u32 kErrorBadPathname = 161;
inline constexpr u32 kErrorBadExeFormat = 193;
inline constexpr u32 kErrorMoreData = 234;
inline constexpr u32 kErrorNoMoreItems = 259;
inline constexpr u32 kErrorBadDatabase = 1009;  // the registry file is corrupt
inline constexpr u32 kErrorRegistryIoFailed = 1016;
inline constexpr u32 kErrorKeyDeleted = 1018;
inline constexpr u32 kErrorInvalidServiceControl = 1052;
inline constexpr u32 kErrorServiceRequestTimeout = 1053;
inline constexpr u32 kErrorServiceNoThread = 1054;
// Another process holds a service's start lock past the bound.
inline constexpr u32 kErrorServiceDatabaseLocked = 1055;
inline constexpr u32 kErrorServiceAlreadyRunning = 1056;
inline constexpr u32 kErrorServiceDisabled = 1058;
inline constexpr u32 kErrorServiceDoesNotExist = 1060;
inline constexpr u32 kErrorServiceCannotAcceptControl = 1061;
inline constexpr u32 kErrorServiceNotActive = 1062;
inline constexpr u32 kErrorFailedServiceControllerConnect = 1063;
inline constexpr u32 kErrorProcessAborted = 1067;
inline constexpr u32 kErrorServiceMarkedForDelete = 1072;
inline constexpr u32 kErrorServiceExists = 1073;
inline constexpr u32 kErrorServiceDependencyDeleted = 1075;
inline constexpr u32 kErrorServiceNeverStarted = 1077;

// The calling thread's last error (0 at thread start).
u32 getLastError();
void setLastError(u32 error);

}  // namespace zuPlatform
