#pragma once
// The zone text as this library writes it: one line per record, fields joined
// by a separator (TAB throughout), with two extensions of its own: an aging
// value "[AGE:...]" after the owner, and disabled records kept inside
// ";<!dis:...>" comments. The master-file parser reads all of it back.
//
// Every field is written as the parser reads it back: no line can carry a
// line end, control bytes are "\DDD" escapes (a comment, read back raw, keeps
// them but for CR, LF and NUL), a quote that would open a string and, in a
// disabled line, a '>' that would end it are escaped.
#include <ostream>
#include <string>

#include "loam/platform/zuTypes.h"

class zuResourceRecord;

// One line without its line end. origin may be null (names are then written
// as stored, "@" for the origin); the other texts may be empty, never null.
void writeZoneLine(std::ostream& stream, const char* name, const char* ttl, u32 type,
                   const char* rdata, const char* comment, const char* aging, bool enabled,
                   const char* origin = nullptr, bool writeIN = true, char separator = '\t');
std::string toString(const char* name, const char* ttl, u32 type, const char* rdata,
                     const char* comment, const char* aging, bool enabled,
                     const char* origin = nullptr, bool writeIN = true, char separator = '\t');
// The record's line as stored: no origin, "IN", TAB.
std::ostream& operator<<(std::ostream& stream, const zuResourceRecord& record);
