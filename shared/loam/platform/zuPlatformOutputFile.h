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

}  // namespace zuPlatform
