#include "loam/platform/zuPlatformPipe.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformProcess.h"

namespace zuPlatform {

namespace {

u32 pipeError(int err) {
  if (err == EPIPE) return kPipeErrorNoData;
  if (err == EBADF) return kErrorInvalidHandle;
  return errorFromErrno(err);
}

}  // namespace

u32 createPipe(Handle& readEnd, Handle& writeEnd, u32 size) {
  ignoreBrokenPipeSignal();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return pipeError(errno);
  // Only a hint: the kernel never goes below a page, and a refusal keeps the default.
  if (size > 0) ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(size & 0x7FFFFFFF));
  readEnd = ends[0];
  writeEnd = ends[1];
  return 0;
}

u32 pipeBytesWaiting(Handle readEnd, u32& count) {
  int waiting = 0;
  if (::ioctl(readEnd, FIONREAD, &waiting) != 0) return pipeError(errno);
  count = waiting > 0 ? static_cast<u32>(waiting) : 0;
  return 0;
}

u32 readHandle(Handle handle, void* buffer, u32 length, u32& count) {
  count = 0;
  const ssize_t n = store::retryOnSignal([&] { return ::read(handle, buffer, length); });
  if (n < 0) return pipeError(errno);
  count = static_cast<u32>(n);
  return 0;
}

u32 writeHandle(Handle handle, const void* data, u32 length, u32& written) {
  written = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (written < length) {
    const ssize_t n =
        store::retryOnSignal([&] { return ::write(handle, bytes + written, length - written); });
    if (n < 0) return pipeError(errno);
    written += static_cast<u32>(n);
  }
  return 0;
}

u32 createOutputFile(const std::string& path, Handle& out) {
  const int fd =
      ::open(nativePath(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    const int err = errno;
    // With O_CREAT a missing piece can only be a folder.
    return (err == ENOENT || err == ENOTDIR) ? kFileErrorPathNotFound : errorFromErrno(err);
  }
  out = fd;
  return 0;
}

}  // namespace zuPlatform
