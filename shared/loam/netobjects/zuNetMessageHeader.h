#pragma once
// The 6-byte header in front of every chunk of the netobject protocol:
// message id u16, type u8, flags u8, error code u16, integers big-endian.
#include "loam/platform/zuTypes.h"

struct zuNetMessageHeader {
  static constexpr u32 kSize = 6;

  // Flag bits; bits 4 to 7 are always 0.
  static constexpr u8 kFlagRequest = 1;     // the sender's object is a request
  static constexpr u8 kFlagFirstChunk = 2;  // first chunk of a request only
  static constexpr u8 kFlagCancel = 4;      // cancel or abort; no data follows
  static constexpr u8 kFlagLastChunk = 8;   // also on control messages
  // The requester's cancel and the responder's acknowledgement, before the
  // request bit (see controlFlags).
  static constexpr u8 kCancelFlags = kFlagCancel | kFlagLastChunk;

  u16 id = 0;
  u8 type = 0;
  u8 flags = 0;
  u16 error = 0;

  // Reads the fields from the first six bytes; 0, with the fields untouched,
  // when fewer than six are given.
  u32 read(const void* data, u32 length);
  // Writes the six bytes; returns 6.
  u32 write(void* out) const;

  bool isRequest() const { return (flags & kFlagRequest) != 0; }
  bool isFirstChunk() const { return (flags & kFlagFirstChunk) != 0; }
  bool isCancel() const { return (flags & kFlagCancel) != 0; }
  bool isLastChunk() const { return (flags & kFlagLastChunk) != 0; }

  // Flags of a data chunk: last chunk, the request bit for a request, and the
  // first-chunk bit on a request's first send (sendCount 1).
  static u8 chunkFlags(bool request, u32 sendCount, bool last);
  // Flags of a control message: the given bits with the request bit set or
  // cleared.
  static u8 controlFlags(bool asRequest, u8 flags);
};
