#include "loam/platform/zuPlatformFileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "internal/zuPlatformStore.h"

namespace zuPlatform {

namespace {

// Takers that find a file being created or released at the same moment go
// round again; each round needs another process to have changed the file.
constexpr int kAttempts = 8;

bool lockNoWait(Handle fd) {
  return store::retryOnSignal([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0;
}

// True when the open file is still the one linked under path.
bool isLinkedAs(Handle fd, const std::string& path) {
  struct stat open {};
  struct stat named {};
  if (::fstat(fd, &open) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace

Handle acquireLockFile(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return kInvalidHandle;
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    OwnedHandle fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.valid()) {
      // Between create and flock another taker may have judged the new file
      // stale: then it holds the flock, or has deleted the file.
      if (lockNoWait(fd.get())) {
        if (isLinkedAs(fd.get(), path)) return fd.release();
        continue;
      }
      errno = EBUSY;
      return kInvalidHandle;
    }
    if (errno != EEXIST) return kInvalidHandle;

    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
      if (errno == ENOENT) continue;  // released meanwhile
      return kInvalidHandle;
    }
    if (!lockNoWait(fd.get())) {
      const int err = errno;
      fd.reset();
      errno = (err == EWOULDBLOCK) ? EBUSY : err;
      return kInvalidHandle;  // a live holder, or a file we cannot lock
    }
    // Nobody holds it: its holder died. While we hold the flock no one else
    // can take or delete this file, so removing it is safe.
    if (isLinkedAs(fd.get(), path)) ::unlink(path.c_str());
  }
  errno = EBUSY;
  return kInvalidHandle;
}

void releaseLockFile(Handle handle, const std::string& path) {
  if (!isValidHandle(handle)) return;
  if (isLinkedAs(handle, path)) ::unlink(path.c_str());
  closeHandle(handle);
}

bool removeUnheldLockFile(const std::string& path) {
  if (path.empty()) return false;
  const OwnedHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  return lockNoWait(fd.get()) && isLinkedAs(fd.get(), path) && ::unlink(path.c_str()) == 0;
}

std::string readLockFileStart(const std::string& path, std::size_t limit) {
  std::string out;
  if (path.empty()) return out;
  const OwnedHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return out;
  out.resize(limit);
  std::size_t done = 0;
  while (done < limit) {
    const ssize_t n =
        store::retryOnSignal([&] { return ::read(fd.get(), out.data() + done, limit - done); });
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return out;
}

}  // namespace zuPlatform
