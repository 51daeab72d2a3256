#pragma once
// Moving one chunk of a transfer between a standard stream and a chunk
// buffer, for the stream requests and responses of both directions. A read
// error is never taken for the end of the data: a truncated transfer must
// not look complete.
#include <iosfwd>
#include <string>

#include "loam/platform/zuTypes.h"

// Fills buffer from the stream (at most maximum bytes); last is set at the
// end of the stream or without a stream. A read error throws zuException
// 1540 "Error reading from file "$f"." with $f = name.
u32 zuReadStreamChunk(std::istream* stream, u8* buffer, u32 maximum, bool& last,
                      const std::string& name);
// Writes the bytes to the stream (nothing without a stream or bytes); false
// when the stream failed.
bool zuWriteStreamChunk(std::ostream* stream, const u8* data, u32 length);
