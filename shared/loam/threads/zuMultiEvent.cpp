#include "loam/threads/zuMultiEvent.h"

#include <algorithm>

zuMultiEvent::zuMultiEvent(zuEvent* first, zuEvent* second) {
  add(first);
  add(second);
}

void zuMultiEvent::add(zuEvent* event) {
  if (event) members_.push_back(event);
}

void zuMultiEvent::remove(zuEvent* event) {
  if (!event) return;
  const auto it = std::find(members_.begin(), members_.end(), event);
  if (it != members_.end()) members_.erase(it);
}

bool zuMultiEvent::contains(const zuEvent* event) const {
  return std::find(members_.begin(), members_.end(), event) != members_.end();
}

bool zuMultiEvent::isSet() const {
  return std::any_of(members_.begin(), members_.end(), [](const zuEvent* e) { return e->isSet(); });
}

zuEvent* zuMultiEvent::signalled() {
  for (zuEvent* e : members_)
    if (zuEvent* s = e->signalled()) return s;
  return nullptr;
}

u32 zuMultiEvent::eventCount() const {
  u32 sum = 0;
  for (const zuEvent* e : members_) sum += e->eventCount();
  return sum;
}

u32 zuMultiEvent::setCount() const {
  u32 sum = 0;
  for (const zuEvent* e : members_) sum += e->setCount();
  return sum;
}

void zuMultiEvent::set() {
  for (zuEvent* e : members_) e->set();
}

void zuMultiEvent::reset() {
  for (zuEvent* e : members_) e->reset();
}

void zuMultiEvent::pulse() {
  for (zuEvent* e : members_) e->pulse();
}

void zuMultiEvent::collectHandles(std::vector<zuPlatform::Handle>& handles) const {
  for (const zuEvent* e : members_) e->collectHandles(handles);
}

void zuMultiEvent::setNotifyWindow(zuPlatform::WindowId window, u32 message, u64 parameter) {
  for (zuEvent* e : members_) e->setNotifyWindow(window, message, parameter);
}

void zuMultiEvent::setNotifyThread(u32 threadId, u32 message, u64 parameter) {
  for (zuEvent* e : members_) e->setNotifyThread(threadId, message, parameter);
}

void zuMultiEvent::attach(zuThread* container) {
  for (zuEvent* e : members_) e->attach(container);
}

void zuMultiEvent::detach(zuThread* container) {
  for (zuEvent* e : members_) e->detach(container);
}
