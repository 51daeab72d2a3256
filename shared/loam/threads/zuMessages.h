#pragma once
// The one place where library code hands over a message meant for the user.
// By the process-wide mode the message is queued for the program to fetch
// (0), logged at level 0 (1) or written to standard error (2).
#include <exception>
#include <vector>

#include "loam/base/zuMessage.h"
#include "loam/platform/zuTypes.h"

class zuMessages {
 public:
  static constexpr u32 kModeQueue = 0;
  static constexpr u32 kModeLog = 1;
  static constexpr u32 kModeStandardError = 2;

  struct Entry {
    u32 tag = 0;
    zuMessage message;
  };

  zuMessages() = delete;

  // Empty messages are dropped. In queue mode a message equal to one still
  // pending is not queued twice. Never throws. Other mode values post
  // nothing.
  static void post(const zuMessage& message);
  static void postMessage(const zuMessage& message) { post(message); }

  // Takes the oldest pending entry; false when there is none.
  static bool next(u32& tag, zuMessage& out);
  static void setMode(u32 mode);

  static bool isEmpty();
  // Removes the oldest pending entry, if any.
  static void dropOldest();
  // A copy of the pending entries, oldest first.
  static std::vector<Entry> pending();

  // These post the exception as an error message and never throw.
  static void reportException(const std::exception& e);
  // The exception being handled; outside a handler it does nothing.
  static void reportCurrentException();
  // Code 261, "e" = "unknown".
  static void reportUnknownException();
};
