#pragma once
// Appending to a file that other processes may append to and read at the
// same time (the log file).
#include <string>
#include <string_view>

namespace zuPlatform {

// Opens (creating when missing) for appending, close-on-exec, writes data in
// full and closes again. False when the file cannot be opened or written.
bool appendToFile(const std::string& path, std::string_view data);

}  // namespace zuPlatform
