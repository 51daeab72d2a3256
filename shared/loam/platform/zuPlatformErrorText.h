#pragma once
// Texts of the operating system's error numbers. On this platform the errno
// values stand where Windows error numbers stood.
#include <string>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// The system's text for an error number, at most 511 characters; empty when
// the system knows no such number.
std::string errorText(u32 code);

}  // namespace zuPlatform
