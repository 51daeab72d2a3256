#pragma once
// A set of events treated as one: set when any member is set. It does not own
// its members.
#include <vector>

#include "loam/threads/zuEvent.h"

class zuMultiEvent : public zuEvent {
 public:
  // Adds each of the two that is not null.
  explicit zuMultiEvent(zuEvent* first = nullptr, zuEvent* second = nullptr);
  ~zuMultiEvent() override = default;

  // Appends a member when not null.
  void add(zuEvent* event);
  // Removes the first equal member when not null.
  void remove(zuEvent* event);
  bool contains(const zuEvent* event) const;
  const std::vector<zuEvent*>& members() const { return members_; }

  // Members are tested in order, stopping at the first set one.
  bool isSet() const override;
  // The first member whose signalled is not null.
  zuEvent* signalled() override;
  // Sums over the members.
  u32 eventCount() const override;
  u32 setCount() const override;
  // Forwarded to every member in order.
  void set() override;
  void reset() override;
  void pulse() override;
  void collectHandles(std::vector<zuPlatform::Handle>& handles) const override;
  void setNotifyWindow(zuPlatform::WindowId window, u32 message, u64 parameter) override;
  void setNotifyThread(u32 threadId, u32 message, u64 parameter) override;
  void attach(zuThread* container) override;
  void detach(zuThread* container) override;

 private:
  std::vector<zuEvent*> members_;
};
