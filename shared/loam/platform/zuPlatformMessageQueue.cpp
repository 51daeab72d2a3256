#include "loam/platform/zuPlatformMessageQueue.h"

#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace zuPlatform {

namespace {

using Key = std::pair<MessageTarget::Kind, u64>;

struct Queues {
  std::mutex mutex;
  std::map<Key, std::deque<PostedMessage>> byTarget;
};

// Built on first use.
Queues& queues() {
  static Queues q;
  return q;
}

Key keyOf(MessageTarget target) { return {target.kind, target.id}; }

}  // namespace

bool postMessage(MessageTarget target, u32 message, u64 param1, u64 param2) {
  if (target.id == 0) return false;
  Queues& q = queues();
  std::lock_guard hold(q.mutex);
  std::deque<PostedMessage>& queue = q.byTarget[keyOf(target)];
  if (queue.size() >= kMessageQueueLimit) return false;
  queue.push_back(PostedMessage{message, param1, param2});
  return true;
}

bool peekMessage(MessageTarget target, PostedMessage& out, bool remove) {
  Queues& q = queues();
  std::lock_guard hold(q.mutex);
  auto it = q.byTarget.find(keyOf(target));
  if (it == q.byTarget.end() || it->second.empty()) return false;
  out = it->second.front();
  if (remove) {
    it->second.pop_front();
    if (it->second.empty()) q.byTarget.erase(it);
  }
  return true;
}

u32 pendingMessages(MessageTarget target) {
  Queues& q = queues();
  std::lock_guard hold(q.mutex);
  auto it = q.byTarget.find(keyOf(target));
  return it == q.byTarget.end() ? 0 : static_cast<u32>(it->second.size());
}

}  // namespace zuPlatform
