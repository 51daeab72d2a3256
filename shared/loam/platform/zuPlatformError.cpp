#include "loam/platform/zuPlatformError.h"

#include <cerrno>

namespace zuPlatform {

namespace {
thread_local u32 t_lastError = kErrorSuccess;
}  // namespace

u32 getLastError() { return t_lastError; }

void setLastError(u32 error) { t_lastError = error; }

u32 errorFromErrno(int err, u32 unmapped) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EEXIST:
      return kErrorAlreadyExists;
    case ETXTBSY:
    case EBUSY:
      return kErrorSharingViolation;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EXDEV:
      return kErrorNotSameDevice;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EINVAL:
      return kErrorInvalidParameter;
    case ERANGE:
      return kErrorBufferOverflow;
    case ELOOP:
      return kErrorCantResolveFilename;
    case EIO:
      return kErrorIoDevice;
    default:
      return unmapped;
  }
}

}  // namespace zuPlatform
