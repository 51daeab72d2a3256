#pragma once
// Yes/no checks of short texts, applied by the field validators and the
// master-file parser before they store a value, and the conversion of a DNS
// time-span (TTL) text into seconds. Every check answers false rather than
// throwing; a null text counts as empty.
#include <string>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuIPv4Address.h"
#include "loam/platform/zuTypes.h"

// zuStrToUInt32 accepts the text.
bool zuIsUnsignedNumber(const std::string& text);
bool zuIsUnsignedNumberText(const char* text);

// A strict DNS-name machine (underscore allowed, no leading hyphen) accepts
// the bytes. A length of 0 is refused (the start state does not accept).
bool zuIsValidDNSText(const char* bytes, u32 length);
// The same with the relaxed machine: '-', '/' and '_' count as letters.
bool zuIsValidText(const char* bytes, u32 length);

// A dotted IPv4 address: four octets of 0 to 255, leading zeros allowed
// (unlike the address parser). The loose form also takes a trailing "*"
// wildcard after fewer than three dots ("10.1.*", "*").
bool zuIsValidIPAddressText(const char* bytes, u32 length);
bool zuIsValidIPAddressTextLoose(const char* bytes, u32 length);

// Groups of one or two hex digits (either case) separated by single ':'.
bool zuIsHexPairText(const char* bytes, u32 length);

// Numbers, each optionally followed by a unit letter W, D, H, M or S (any
// case, any order, repeats add up: "1h1h" is 7200); a plain number is seconds.
// The total may not pass 2147483647. A length of 0 gives false and leaves
// seconds untouched; every other failure sets it to 0xFFFFFFFF.
bool zuParseTimeSpan(const char* bytes, u32 length, u32& seconds);
bool zuIsTimeSpan(const char* bytes, u32 length);

// One field of a LOC record's text form, read in the classic locale:
// kind 0 latitude, 1 longitude, 2 altitude, 3 size, 4 horizontal precision,
// 5 vertical precision. With allowEmpty an empty text passes.
inline constexpr u32 kZuLocLatitude = 0;
inline constexpr u32 kZuLocLongitude = 1;
inline constexpr u32 kZuLocAltitude = 2;
inline constexpr u32 kZuLocSize = 3;
inline constexpr u32 kZuLocHorizontalPrecision = 4;
inline constexpr u32 kZuLocVerticalPrecision = 5;
bool zuIsValidLocText(u32 kind, const char* bytes, u32 length, bool allowEmpty);

// Ordering predicates for address containers. Strict orderings (never
// "less or equal", which is no ordering a container can use).
struct zuIPv4AddressLess {
  bool operator()(const zuIPv4Address& a, const zuIPv4Address& b) const {
    return zuCompareAddress(a, b) < 0;
  }
};
// Byte order of the 16 bytes, greatest first.
struct zuIPAddressGreater {
  bool operator()(const zuIPAddress& a, const zuIPAddress& b) const;
};
struct zuIPAddressEqual {
  bool operator()(const zuIPAddress& a, const zuIPAddress& b) const;
};
