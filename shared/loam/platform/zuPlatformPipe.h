#pragma once
// Anonymous pipes and the files a child writes to, as handles. Every end is
// opened close-on-exec; a child gets only what startProcess hands it as a
// standard handle.
#include <string>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Windows error numbers of pipe operations.
inline constexpr u32 kPipeErrorBroken = 109;  // ERROR_BROKEN_PIPE: no writer left
inline constexpr u32 kPipeErrorNoData = 232;  // ERROR_NO_DATA: written after the reader closed

// A new pipe with a buffer of at least size bytes (the size is a hint: the
// kernel rounds it up). Ignores SIGPIPE for the process, so a write after the
// reader is gone is a failure result. Returns a Windows error number.
u32 createPipe(Handle& readEnd, Handle& writeEnd, u32 size);

// Bytes waiting in the pipe without taking them (FIONREAD).
u32 pipeBytesWaiting(Handle readEnd, u32& count);

// One read of up to length bytes; count 0 means every writer is gone.
// Blocks while the pipe is empty and has a writer.
u32 readHandle(Handle handle, void* buffer, u32 length, u32& count);

// Writes every byte (blocking while the pipe is full); kPipeErrorNoData when
// the reader has gone. written tells how many bytes went out.
u32 writeHandle(Handle handle, const void* data, u32 length, u32& written);

// Creates (or empties) a file for reading and writing, for a child's output.
// A missing folder gives 3 (ERROR_PATH_NOT_FOUND).
u32 createOutputFile(const std::string& path, Handle& out);

}  // namespace zuPlatform
