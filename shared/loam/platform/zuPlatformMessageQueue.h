#pragma once
// Posted notifications to a window or a thread: an in-process queue per
// target, standing in for the Windows message queues.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// A window is known by a non-zero id; 0 is "no window".
using WindowId = u64;
inline constexpr WindowId kNoWindow = 0;

struct MessageTarget {
  enum class Kind : u8 { window, thread };
  Kind kind = Kind::window;
  u64 id = 0;

  static MessageTarget window(WindowId window) { return {Kind::window, window}; }
  static MessageTarget thread(u32 threadId) { return {Kind::thread, threadId}; }
  bool operator==(const MessageTarget&) const = default;
};

struct PostedMessage {
  u32 message = 0;
  u64 param1 = 0;
  u64 param2 = 0;
};

// Like a Windows queue, one target holds at most this many unread messages,
// so a target nobody reads cannot grow without bound.
inline constexpr u32 kMessageQueueLimit = 10000;

// Appends a message to the target's queue. False for target id 0 or a full
// queue.
bool postMessage(MessageTarget target, u32 message, u64 param1, u64 param2);

// The oldest message of the target, removed from the queue when remove is
// true. False when the queue is empty.
bool peekMessage(MessageTarget target, PostedMessage& out, bool remove);

// Number of unread messages of the target.
u32 pendingMessages(MessageTarget target);

}  // namespace zuPlatform
