#pragma once
// The short-lived thread that looks a host name up for connectTo, so that
// the endpoint's time-out and stop event can cut the wait for the lookup
// short. A caller that stops waiting abandons the thread and never kills it:
// the thread owns a copy of the name and shares its result slot with the
// caller, so it can finish alone after the caller and this object are gone.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformSocket.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"

class zuConnectLookupThread : public zuThread {
 public:
  // What the lookup shares with its caller.
  struct Slot {
    explicit Slot(std::string host) : name(std::move(host)) {}
    const std::string name;
    std::mutex mutex;
    std::vector<zuPlatform::AddressInfo> result;
    // Set once run holds its own share of the slot.
    zuSingleEvent taken;
  };

  // A null host counts as the empty name.
  explicit zuConnectLookupThread(const char* host);
  // Waits, if the thread was started, until its run holds its own share of
  // the slot: from then on the thread touches nothing of this object.
  ~zuConnectLookupThread() override;

  // Starts the thread; false when it cannot be created.
  bool begin();
  // The addresses found; empty unless the lookup has succeeded and ended.
  std::vector<zuPlatform::AddressInfo> takeResult();

  // Lookups whose run has not yet finished with the slot, abandoned ones
  // included.
  static u32 runningCount() { return running_.load(); }

 protected:
  // zuResolveHost; a failure is raised as a zuException with its status.
  void run() override;

 private:
  std::shared_ptr<Slot> slot_;
  bool started_ = false;
  static std::atomic<u32> running_;
};
