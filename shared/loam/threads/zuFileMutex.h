#pragma once
// A lock held as an exclusively created file, so it also excludes other
// processes. Taking it never waits; the file goes away when it is released,
// and a holder that died leaves no lock behind.
#include <atomic>
#include <mutex>
#include <string>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"
#include "loam/threads/zuMutex.h"

class zuFileMutex : public zuMutex {
 public:
  explicit zuFileMutex(const std::string& fileName = std::string());
  // Releases a lock still held.
  ~zuFileMutex() override;

  // By the owner: counts again. Otherwise creates the file; false at once
  // when another holder has it or anything fails.
  bool lock() override;
  // By the owner: at the last unlock the file is deleted.
  void unlock() override;
  bool isLocked() const override { return owner_.load(std::memory_order_acquire) != 0; }

  // False while locked.
  bool setFileName(const std::string& fileName);
  std::string fileName() const;
  // The decimal number at the start of the file; 0 when there is none or the
  // name is empty.
  u32 readNumber() const;
  // Deletes the file when the name is not empty, unless a holder has it
  // locked.
  void removeFile();

  u32 owner() const { return owner_.load(std::memory_order_acquire); }
  u32 count() const { return count_.load(std::memory_order_acquire); }

 private:
  std::atomic<u32> count_{0};
  std::atomic<u32> owner_{0};
  std::string fileName_;
  zuPlatform::Handle handle_ = zuPlatform::kInvalidHandle;
  // Guards the name and handle against threads that share this object.
  mutable std::mutex state_;
};
