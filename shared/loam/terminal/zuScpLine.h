#pragma once
// The control line of the remote scp announcing one file ("C0644 5 name",
// line feed removed), read strictly: "C", four octal digits, one blank, the
// size in decimal (at most 0xFFFFFFFF), one blank, and a name that is not
// empty, "." or ".." and holds no '/'.
#include <string>

#include "loam/platform/zuTypes.h"

// True with size set when the line is such a line; size is untouched else.
bool zuParseScpLine(const std::string& line, u32& size);
