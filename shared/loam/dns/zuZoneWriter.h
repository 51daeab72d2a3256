#pragma once
// The zone text as this library writes it: one line per record, fields joined
// by a separator (TAB throughout), with two extensions of its own: an aging
// value "[AGE:...]" after the owner, and disabled records kept inside
// ";<!dis:...>" comments. The master-file parser reads all of it back.
//
// No line can carry a line end or another control byte: those are written as
// "\DDD" escapes wherever they occur (a TAB only outside the rdata, where it is
// the field separator and the boundary between strings).
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
