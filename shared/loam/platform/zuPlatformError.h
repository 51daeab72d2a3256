#pragma once
// The Windows error numbers that the platform reports (each defined here
// once), the one mapping from errno to them, and the thread's last error as
// GetLastError/SetLastError keep it (sockets keep theirs in it too). Registry calls return their
// error instead, as on Windows; service and event-log calls set the last error.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

inline constexpr u32 kErrorSuccess = 0;
inline constexpr u32 kErrorFileNotFound = 2;
inline constexpr u32 kErrorPathNotFound = 3;
inline constexpr u32 kErrorTooManyOpenFiles = 4;
inline constexpr u32 kErrorAccessDenied = 5;
inline constexpr u32 kErrorInvalidHandle = 6;  // not open, or not of the right kind
inline constexpr u32 kErrorNotEnoughMemory = 8;
inline constexpr u32 kErrorInvalidData = 13;
inline constexpr u32 kErrorNotSameDevice = 17;
inline constexpr u32 kErrorWriteProtect = 19;
inline constexpr u32 kErrorGenFailure = 31;
// Another process has the file, or holds the lock of the registry or event
// log past the bound.
inline constexpr u32 kErrorSharingViolation = 32;
inline constexpr u32 kErrorFileExists = 80;
inline constexpr u32 kErrorInvalidParameter = 87;
inline constexpr u32 kErrorBufferOverflow = 111;
inline constexpr u32 kErrorDiskFull = 112;
inline constexpr u32 kErrorInsufficientBuffer = 122;
inline constexpr u32 kErrorInvalidName = 123;
inline constexpr u32 kErrorDirNotEmpty = 145;
inline constexpr u32 kErrorBadPathname = 161;
inline constexpr u32 kErrorAlreadyExists = 183;
inline constexpr u32 kErrorBadExeFormat = 193;
inline constexpr u32 kErrorFilenameExcedRange = 206;
inline constexpr u32 kErrorMoreData = 234;
inline constexpr u32 kErrorNoMoreItems = 259;
inline constexpr u32 kErrorDirectory = 267;
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
inline constexpr u32 kErrorIoDevice = 1117;
inline constexpr u32 kErrorCantResolveFilename = 1921;

// The Windows error number for an errno value of a file-system call (0 for
// 0); unmapped for a value the table does not name.
u32 errorFromErrno(int err, u32 unmapped = kErrorGenFailure);

// The calling thread's last error (0 at thread start).
u32 getLastError();
void setLastError(u32 error);

}  // namespace zuPlatform
