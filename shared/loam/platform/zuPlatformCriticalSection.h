#pragma once
// A recursive in-process lock, the counterpart of a Windows critical section.
#include <mutex>

namespace zuPlatform {

class CriticalSection {
 public:
  CriticalSection() = default;
  ~CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Waits as long as needed; the owning thread may enter again.
  void enter();
  // Enters only when that needs no wait.
  bool tryEnter();
  // Each enter needs its own leave, by the thread that entered.
  void leave();

 private:
  std::recursive_mutex mutex_;
};

}  // namespace zuPlatform
