#pragma once
// A lock held as an exclusively created file, shared between processes.
//
// The holder is whoever holds flock() on the file that is linked under the
// name right now. Windows deletes such a file when its holder's handle closes,
// crash or not; here the kernel drops the flock of a dead holder, and the next
// taker sees the file is stale and deletes it itself, so a crash never leaves
// the lock taken for ever.
#include <cstddef>
#include <string>

#include "loam/platform/zuPlatformHandle.h"

namespace zuPlatform {

// Creates the file exclusively (read access, close-on-exec) and locks it.
// Returns its handle, or kInvalidHandle at once when a live holder has it or
// anything fails; never waits for the holder.
Handle acquireLockFile(const std::string& path);

// Deletes the file and closes the handle, in that order, so the name is free
// once the handle is.
void releaseLockFile(Handle handle, const std::string& path);

// Deletes the file unless a holder has it locked (Windows refuses to delete a
// lock file while its handle is open). False when nothing was deleted.
bool removeUnheldLockFile(const std::string& path);

// Up to limit bytes from the start of the file, read beside any holder
// (read-only, close-on-exec). Empty when the file cannot be read.
std::string readLockFileStart(const std::string& path, std::size_t limit);

}  // namespace zuPlatform
