#include "loam/threads/zuSingleEvent.h"

#include <algorithm>
#include <cstdint>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/platform/zuPlatformEvent.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuStMutex.h"

zuSingleEvent::zuSingleEvent(zuPlatform::Handle handle, bool create) {
  if (zuPlatform::isValidHandle(handle)) {
    handle_ = handle;
    owned_ = create ? 1 : 0;
  } else if (create) {
    handle_ = zuPlatform::createEvent();
    if (!zuPlatform::isValidHandle(handle_)) throw zuException(kzuCodeEventFailed, "");
    owned_ = 1;
  }
}

zuSingleEvent::~zuSingleEvent() {
  if (owned_) zuPlatform::closeHandle(handle_);
}

bool zuSingleEvent::isSet() const {
  const bool set = zuPlatform::isSignalled(handle_);
  lastState_.store(set ? 1 : 0, std::memory_order_release);
  return set;
}

zuEvent* zuSingleEvent::signalled() { return isSet() ? this : nullptr; }

zuSingleEvent::Notify zuSingleEvent::markSignalled(u8 state) {
  zuStMutex hold(zuEventLock);
  lastState_.store(state, std::memory_order_release);
  setCount_.fetch_add(1, std::memory_order_acq_rel);
  return notify_;
}

void zuSingleEvent::post(const Notify& notify) {
  // Receivers get the event's address; they must not use it once the event
  // is gone.
  const u64 self = reinterpret_cast<std::uintptr_t>(this);
  if (notify.window != zuPlatform::kNoWindow)
    zuPlatform::postMessage(zuPlatform::MessageTarget::window(notify.window), notify.message, self,
                            notify.parameter);
  if (notify.thread != 0)
    zuPlatform::postMessage(zuPlatform::MessageTarget::thread(notify.thread), notify.message, self,
                            notify.parameter);
}

// set and pulse leave the event lock before they signal and post, so woken
// threads and posted messages never run under it.
void zuSingleEvent::set() {
  const Notify notify = markSignalled(1);
  if (!zuPlatform::setEvent(handle_)) throw zuException(kzuCodeEventFailed, "");
  post(notify);
}

void zuSingleEvent::pulse() {
  const Notify notify = markSignalled(0);
  if (!zuPlatform::pulseEvent(handle_)) throw zuException(kzuCodeEventFailed, "");
  post(notify);
}

void zuSingleEvent::reset() {
  zuStMutex hold(zuEventLock);
  lastState_.store(0, std::memory_order_release);
  if (!zuPlatform::resetEvent(handle_)) throw zuException(kzuCodeEventFailed, "");
}

void zuSingleEvent::collectHandles(std::vector<zuPlatform::Handle>& handles) const {
  handles.push_back(handle_);
}

void zuSingleEvent::setNotifyWindow(zuPlatform::WindowId window, u32 message, u64 parameter) {
  zuStMutex hold(zuEventLock);
  notify_.window = window;
  notify_.message = message;
  notify_.parameter = parameter;
}

void zuSingleEvent::setNotifyThread(u32 threadId, u32 message, u64 parameter) {
  zuStMutex hold(zuEventLock);
  notify_.thread = threadId;
  notify_.message = message;
  notify_.parameter = parameter;
}

void zuSingleEvent::attach(zuThread* container) {
  zuStMutex hold(zuEventLock);
  containers_.push_back(container);
}

void zuSingleEvent::detach(zuThread* container) {
  zuStMutex hold(zuEventLock);
  const auto it = std::find(containers_.begin(), containers_.end(), container);
  if (it != containers_.end()) containers_.erase(it);
}

void zuSingleEvent::detachAll() {}

std::vector<zuThread*> zuSingleEvent::containers() const {
  zuStMutex hold(zuEventLock);
  return containers_;
}
