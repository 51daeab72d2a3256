#pragma once
// Waiting for sockets to become readable, writable or exceptional. Built on
// poll(): select()'s fd_set cannot hold a descriptor of 1024 or more.
#include <span>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Wanted and returned event bits.
inline constexpr u16 kPollReadable = 2;
inline constexpr u16 kPollWritable = 4;
inline constexpr u16 kPollExceptional = 8;

// Returned by pollSockets when the wait failed.
inline constexpr u16 kPollFailed = 1;

struct PollEntry {
  i32 socket = -1;
  u16 wanted = 0;
  u16 returned = 0;
};

// Clears every entry's returned bits, then waits up to ms (0xFFFFFFFF: no
// limit) until a socket shows one of its wanted events, sets the returned
// bits and returns their OR over all entries; 0 when the time ran out,
// kPollFailed when the wait failed (a socket that is not open included).
// Readiness for events nobody asked for does not end the wait. Like the
// Windows socket sets, at most 64 sockets take part per kind of event; an
// entry past that is not watched for it. A negative socket is never watched.
u16 pollSockets(std::span<PollEntry> entries, u32 ms);

}  // namespace zuPlatform
