#pragma once
// How file errors name the C run-time error number in their messages.
#include <string>

// "0x" and the number in upper-case hexadecimal ("0x2" for ENOENT).
std::string zuErrnoText(int error);
