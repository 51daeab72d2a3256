#include "loam/threads/zuFileMutex.h"

#include <cctype>
#include <charconv>

#include "loam/platform/zuPlatformFileLock.h"
#include "loam/platform/zuPlatformThread.h"

zuFileMutex::zuFileMutex(const std::string& fileName) : fileName_(fileName) {}

zuFileMutex::~zuFileMutex() {
  if (zuPlatform::isValidHandle(handle_)) zuPlatform::releaseLockFile(handle_, fileName_);
}

bool zuFileMutex::lock() {
  const u32 me = zuPlatform::currentThreadId();
  std::lock_guard hold(state_);
  if (owner_.load(std::memory_order_relaxed) == me) {
    count_.fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  // Another thread of this process holding it makes the take fail like any
  // other holder.
  const zuPlatform::Handle h = zuPlatform::acquireLockFile(fileName_);
  if (!zuPlatform::isValidHandle(h)) return false;
  handle_ = h;
  count_.store(1, std::memory_order_relaxed);
  owner_.store(me, std::memory_order_release);
  return true;
}

void zuFileMutex::unlock() {
  const u32 me = zuPlatform::currentThreadId();
  std::lock_guard hold(state_);
  if (owner_.load(std::memory_order_relaxed) != me) return;
  if (count_.fetch_sub(1, std::memory_order_relaxed) != 1) return;
  owner_.store(0, std::memory_order_release);
  zuPlatform::releaseLockFile(handle_, fileName_);
  handle_ = zuPlatform::kInvalidHandle;
}

bool zuFileMutex::setFileName(const std::string& fileName) {
  std::lock_guard hold(state_);
  if (isLocked()) return false;
  fileName_ = fileName;
  return true;
}

std::string zuFileMutex::fileName() const {
  std::lock_guard hold(state_);
  return fileName_;
}

u32 zuFileMutex::readNumber() const {
  const std::string name = fileName();
  if (name.empty()) return 0;
  const std::string text = zuPlatform::readLockFileStart(name, 31);
  const char* const first = text.data();
  const std::size_t n = text.size();
  std::size_t start = 0;
  while (start < n && std::isspace(static_cast<unsigned char>(first[start]))) ++start;
  u32 value = 0;
  const auto [end, err] = std::from_chars(first + start, first + n, value);
  (void)end;
  return err == std::errc() ? value : 0;
}

void zuFileMutex::removeFile() {
  const std::string name = fileName();
  if (!name.empty()) zuPlatform::removeUnheldLockFile(name);
}
