#pragma once
// File streams opened close-on-exec, so files the library reads or writes
// are never inherited by the programs it starts.
#include <istream>
#include <memory>
#include <ostream>
#include <string>

namespace zuPlatform {

// Creates or truncates the file for binary output. The stream's buffer is a
// std::filebuf, so is_open() tells whether the file opened; when it did not,
// the stream is returned anyway, with no file behind it and failbit set.
std::unique_ptr<std::ostream> openOutputFile(const std::string& name);

// Opens an existing file for binary input, as openOutputFile does for output:
// a seekable std::filebuf behind it, or failbit set when it did not open.
std::unique_ptr<std::istream> openInputFile(const std::string& name);

// For a path that came from the network, resolved inside root: the checks
// are made on the opened descriptor, so a path swapped after it was checked
// cannot lead elsewhere. A link as the last component is not followed
// (ELOOP), nothing blocks (a pipe or a device opens at once and is then
// refused), and the file opened must be a regular file (EISDIR for a folder,
// EACCES otherwise) whose resolved path lies inside root (EACCES). Null with
// error set to an errno value when refused.
std::unique_ptr<std::istream> openInputFileInside(const std::string& name, const std::string& root,
                                                  int& error);
// The same for writing to an existing file, which is emptied once it has
// passed the checks (the temporary file made beside a target); a file with
// more than one name (a hard link) is refused too (EACCES).
std::unique_ptr<std::ostream> openOutputFileInside(const std::string& name,
                                                   const std::string& root, int& error);
// Sets the permission bits of the file behind a stream that one of these
// functions opened: 0, or an errno value (EBADF for any other stream).
int setStreamFileMode(std::ostream& stream, unsigned mode);

}  // namespace zuPlatform
