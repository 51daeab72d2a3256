#pragma once
// The operating system as the library names it: the description shown in the
// version banner and the Connect reply, the operating-system type table, and
// the texts of system error numbers.
#include <string>

#include "loam/platform/zuTypes.h"

// "Microsoft ", the Windows name and " v<major>.<minor>", from the version
// record (extended, else basic); empty when neither can be read. Computed on
// each call.
std::string zuGetOSDescription();

// Operating-system types: 0 "Unknown" 'U', 1 "Windows" 'W', 2 "MacOS" 'M',
// 3 "Linux" 'L', 4 "SunOS" 'S', 5 "MacOS-X" 'X', 6 "FreeBSD" 'F', 7 "HP-UX"
// 'H', 8 "Windows64" 'W'. Types outside 0 to 8 (negative ones included) are
// "NONE" and 'X'.
std::string zuOSTypeName(i32 type);
char zuOSTypeCode(i32 type);
// The first type with that letter among 0 to 7 (so 'W' is 1); 9 when none.
u32 zuOSTypeFromCode(char code);

// The system's message for an error number without trailing CR and LF, at
// most 511 characters; empty when the system has none.
std::string zuSystemErrorText(u32 code);
