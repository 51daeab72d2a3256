#pragma once
// Status results of the endpoints and the layers above them; 0 is success.
#include "loam/platform/zuTypes.h"

// The stop event was set while waiting.
inline constexpr u16 zuErrStopped = 257;
// The time-out ran out.
inline constexpr u16 zuErrTimeout = 258;
// Nothing can be read: a datagram endpoint that has not sent anything yet.
inline constexpr u16 zuErrNoData = 513;
// The connection was closed or broken by the peer, or a transfer call failed.
inline constexpr u16 zuErrConnectionBroken = 514;
// Bad argument or state (not open, empty host, port 0, bad header, no usable
// address, failed connect).
inline constexpr u16 zuErrFailed = 515;
// A socket error was reported, a socket option failed, or a frame was bad.
inline constexpr u16 zuErrNetwork = 516;
// The endpoint class does not support the operation.
inline constexpr u16 zuErrNotAvailable = 517;
// A host name lookup failed.
inline constexpr u16 zuErrHostLookup = 518;
