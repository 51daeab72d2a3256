#pragma once
// Reading and writing address text: the IPv6 and dotted-quad parsers, IPv4
// prefix texts (10.1/16), and range texts (A-B, A/N, A/netmask, a lone
// address) for IPv4 and IPv6.
#include <string>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuIPv4Address.h"
#include "loam/platform/zuTypes.h"

// IPv6 text, with "::" and an optional trailing dotted quad, into 16 bytes
// (written only on success). Groups of more than four hex digits pass when
// their value fits in 16 bits.
bool zuParseIPv6Text(const char* text, u8* out16);

// Exactly four decimal octets, at most 255 each, no leading zeros; out
// receives the value in network order.
bool zuParseDottedQuad(const char* text, u32& out);

// "a[.b[.c[.d]]]/N" with N at most 32, or a full dotted address (prefix 32).
// Leading zeros in octets are allowed here.
bool zuIsValidIPv4PrefixText(const std::string& text, u32* prefix);

// Validates as above and rewrites the text as the network address followed by
// "/N", or the address alone for prefix 32 (10.1/16 becomes 10.1.0.0/16).
bool zuNormalizeIPv4PrefixText(std::string& text);

// The range forms of zuIPv4Address::parseRange, plus A/netmask. first and
// last receive network-order values; prefix the length of the block (for
// A-B: 32 when equal, 33 when the range is not one block).
bool zuParseIPv4RangeText(const std::string& text, u32* first, u32* last, u16* prefix);

// IPv4 range text (results in IPv4 form) or IPv6 A-B, A/N (N at most 128) or
// a lone address (prefix 128). For A-B the prefix is that of the range (129
// when it is not one block).
bool zuParseIPRangeText(const std::string& text, zuIPAddress* first, zuIPAddress* last,
                        u16* prefix);

// "first/N" and true for one CIDR block, else "first-last" and false.
bool zuIPv4RangeToText(const zuIPv4Address& first, const zuIPv4Address& last, std::string& out);
bool zuIPRangeToText(const zuIPAddress& first, const zuIPAddress& last, std::string& out);

// Address text, "/", decimal prefix.
std::string zuCidrText(const zuIPAddress& address, u16 prefix);
