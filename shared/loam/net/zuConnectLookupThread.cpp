#include "loam/net/zuConnectLookupThread.h"

#include <new>
#include <utility>

#include "loam/base/zuException.h"
#include "loam/net/zuSocket.h"
#include "loam/platform/zuPlatformWait.h"

std::atomic<u32> zuConnectLookupThread::running_{0};

zuConnectLookupThread::zuConnectLookupThread(const char* host)
    : slot_(std::make_shared<Slot>(host != nullptr ? host : "")) {}

zuConnectLookupThread::~zuConnectLookupThread() {
  // The thread's first steps still read this object; it takes its share of
  // the slot right after them.
  if (started_) zuPlatform::waitForOne(slot_->taken.handle(), zuPlatform::kWaitForever);
}

bool zuConnectLookupThread::begin() {
  running_.fetch_add(1);
  try {
    start();
  } catch (const std::bad_alloc&) {
    running_.fetch_sub(1);
    return false;
  }
  started_ = true;
  return true;
}

std::vector<zuPlatform::AddressInfo> zuConnectLookupThread::takeResult() {
  std::lock_guard<std::mutex> hold(slot_->mutex);
  return std::move(slot_->result);
}

void zuConnectLookupThread::run() {
  // From here on only the slot is touched: the owner may abandon this
  // thread and destroy the object while the lookup still runs.
  const std::shared_ptr<Slot> slot = slot_;
  slot->taken.set();
  std::vector<zuPlatform::AddressInfo> found;
  const u16 status = zuResolveHost(slot->name.c_str(), found);
  {
    std::lock_guard<std::mutex> hold(slot->mutex);
    slot->result = std::move(found);
  }
  running_.fetch_sub(1);
  if (status != 0) throw zuException(status, "Host name lookup failed.");
}
