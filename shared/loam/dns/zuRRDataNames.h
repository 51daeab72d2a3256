#pragma once
// Moving domain names between their relative form (inside a record
// collection, relative to the zone origin) and their absolute form (for
// writing), over an owner name or over a record's TAB-joined rdata.
//
// The comparisons are literal and ASCII case-insensitive: nothing checks that
// an origin or a name ends with "." (a relative name never matches an
// absolute origin). An origin that begins with "." (the root ".") carries its
// own label separator, both when it is stripped and when it is appended.
#include <string>

#include "loam/platform/zuTypes.h"

// Removes the origin from the end of a name, or of the last field of TAB-joined
// rdata, when it starts on a label boundary: "www.example.com." loses
// ".example.com.", a text equal to the origin becomes empty, a last field equal
// to the origin becomes an empty field (the TAB stays), and "myexample.com."
// and "a..example.com." (an empty label before the origin) are kept. True when the text was cut; an empty origin changes nothing.
bool zuStripOrigin(const std::string& origin, std::string& text);

// Strips the origin from the domain-name fields of the type's rdata. True when
// anything changed.
bool zuNormalizeDataNames(const std::string& origin, u32 type, std::string& rdata);

// The reverse, for writing: every domain-name field made absolute against the
// origin (an empty field becomes the origin, "@" included; a field ending in
// "." stays, and so does every other field under the origin "@"), and NAPTR's
// flags, services and regular expression fields quoted. Every field keeps its
// place, empty ones included. True when a field changed; an empty origin
// changes nothing.
bool zuQualifyDataNames(const std::string& origin, u32 type, std::string& rdata);
