#pragma once
// Files that nobody else can redirect: a folder of its own under a shared
// temporary folder, and files that must be new (a link or anything else
// already under the name is refused, never followed).
#include <cstddef>
#include <string>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Makes a new folder in dir, named prefix, this process's id, "-" and six
// random characters, that only this user may enter (0700); out is its path.
// 0 or the errno value (a C run-time number, not a Windows one, as the file
// errors that report it name it so).
int createPrivateFolder(const std::string& dir, const std::string& prefix, std::string& out);

// Removes, with what they hold, the folders in dir that createPrivateFolder
// made with prefix for processes that are gone (killed before they could
// remove them). Links, others' folders and those of live processes stay.
void removeStalePrivateFolders(const std::string& dir, const std::string& prefix);

// Creates path for writing (mode 0600, 0700 when executable); the path
// must not exist. kInvalidHandle on failure, with errno set.
Handle createNewFile(const std::string& path, bool executable);

// Writes all n bytes; false (errno set) when that fails.
bool writeAll(Handle file, const void* data, std::size_t n);

}  // namespace zuPlatform
