#include "loam/net/zuIPAddressText.h"

#include <cstring>

#include "loam/base/zuString.h"
#include "loam/net/zuIPAddressStateMachine.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const u8* asBytes(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }

// The C-string conversions below would stop early at a NUL byte.
bool hasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

u32 countDots(const std::string& s) {
  u32 n = 0;
  for (char c : s) n += c == '.' ? 1u : 0u;
  return n;
}

// The octets of a validated address text, read as decimal (leading zeros
// allowed); missing octets stay 0.
zuIPv4Address octetsOf(const std::string& text) {
  u8 octets[4] = {};
  u32 index = 0;
  u32 value = 0;
  for (char c : text) {
    if (c == '.') {
      if (index < 4) octets[index] = static_cast<u8>(value);
      ++index;
      value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<u32>(c - '0');
    }
  }
  if (index < 4) octets[index] = static_cast<u8>(value);
  return zuIPv4Address(octets[0], octets[1], octets[2], octets[3]);
}

}  // namespace

bool zuParseDottedQuad(const char* text, u32& out) {
  if (text == nullptr) return false;
  u8 octets[4] = {};
  u32 count = 0;
  u32 value = 0;
  u32 digits = 0;
  for (const char* p = text;; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      if (digits == 1 && value == 0) return false;  // leading zero
      value = value * 10 + static_cast<u32>(c - '0');
      if (value > 255) return false;
      ++digits;
    } else if (c == '.' || c == '\0') {
      if (digits == 0 || count == 4) return false;
      octets[count++] = static_cast<u8>(value);
      value = 0;
      digits = 0;
      if (c == '\0') break;
    } else {
      return false;
    }
  }
  if (count != 4) return false;
  std::memcpy(&out, octets, 4);
  return true;
}

bool zuParseIPv6Text(const char* text, u8* out16) {
  if (text == nullptr || out16 == nullptr) return false;
  u8 tmp[16] = {};
  u32 filled = 0;
  int gap = -1;  // where "::" stands, as a byte offset
  const char* p = text;
  if (*p == ':') {
    if (p[1] != ':') return false;
    ++p;
  }
  const char* groupStart = p;
  u32 value = 0;
  bool digits = false;
  while (*p != '\0') {
    const char c = *p++;
    const int d = hexValue(c);
    if (d >= 0) {
      value = (value << 4) | static_cast<u32>(d);
      if (value > 0xFFFF) return false;
      digits = true;
      continue;
    }
    if (c == ':') {
      groupStart = p;
      if (!digits) {
        if (gap >= 0) return false;
        gap = static_cast<int>(filled);
        continue;
      }
      if (*p == '\0' || filled + 2 > 16) return false;
      tmp[filled++] = static_cast<u8>(value >> 8);
      tmp[filled++] = static_cast<u8>(value);
      value = 0;
      digits = false;
      continue;
    }
    if (c == '.') {
      u32 quad = 0;
      if (filled + 4 > 16 || !zuParseDottedQuad(groupStart, quad)) return false;
      std::memcpy(tmp + filled, &quad, 4);
      filled += 4;
      digits = false;
      break;
    }
    return false;
  }
  if (digits) {
    // A ninth group must not be stored past the 16 bytes.
    if (filled + 2 > 16) return false;
    tmp[filled++] = static_cast<u8>(value >> 8);
    tmp[filled++] = static_cast<u8>(value);
  }
  if (gap >= 0) {
    if (filled == 16) return false;
    const u32 g = static_cast<u32>(gap);
    const u32 tail = filled - g;
    std::memmove(tmp + 16 - tail, tmp + g, tail);
    std::memset(tmp + g, 0, 16 - tail - g);
    filled = 16;
  }
  if (filled != 16) return false;
  std::memcpy(out16, tmp, 16);
  return true;
}

bool zuIsValidIPv4PrefixText(const std::string& text, u32* prefix) {
  if (hasNul(text)) return false;
  const std::size_t slash = text.find('/');
  zuIPAddressStateMachine machine(0, false);
  u32 length = 32;
  if (slash != std::string::npos) {
    machine.feed(asBytes(text), static_cast<u32>(slash));
    if (!machine.isPartialAddress()) return false;
    if (!zuStrToUInt32(text.c_str() + slash + 1, length) || length > 32) return false;
  } else if (!machine.feed(asBytes(text), static_cast<u32>(text.size()))) {
    return false;
  }
  if (prefix != nullptr) *prefix = length;
  return true;
}

bool zuNormalizeIPv4PrefixText(std::string& text) {
  u32 prefix = 0;
  if (!zuIsValidIPv4PrefixText(text, &prefix)) return false;
  std::string address = text.substr(0, text.find('/'));
  for (u32 dots = countDots(address); dots < 3; ++dots) address += ".255";
  const zuIPv4Address network = zuIPv4Address::network(octetsOf(address), static_cast<u16>(prefix));
  text = network.toString();
  if (prefix != 32) text += "/" + std::to_string(prefix);
  return true;
}

bool zuParseIPv4RangeText(const std::string& text, u32* first, u32* last, u16* prefix) {
  if (hasNul(text)) return false;
  const std::size_t dash = text.find('-');
  const std::size_t slash = text.find('/');
  std::string rangeText = text;
  u16 length = 32;
  if (dash == std::string::npos && slash != std::string::npos) {
    std::string n = text.substr(slash + 1);
    zuTrim(n);
    u32 number = 0;
    if (zuStrToUInt32(n.c_str(), number)) {
      if (number > 32) return false;
      length = static_cast<u16>(number);
    } else {
      zuIPv4Address mask;
      if (!mask.parse(n.data(), static_cast<u32>(n.size())) || mask.isZero()) return false;
      length = zuIPv4Address::maskPrefixLength(mask);
      rangeText = text.substr(0, slash + 1) + std::to_string(length);
    }
  }
  u32 lo = 0;
  u32 hi = 0;
  if (!zuIPv4Address::parseRange(rangeText, &lo, &hi)) return false;
  if (dash != std::string::npos) {
    length = zuIPv4Address::rangePrefixLength(zuIPv4Address(lo), zuIPv4Address(hi));
  }
  if (first != nullptr) *first = lo;
  if (last != nullptr) *last = hi;
  if (prefix != nullptr) *prefix = length;
  return true;
}

bool zuParseIPRangeText(const std::string& text, zuIPAddress* first, zuIPAddress* last,
                        u16* prefix) {
  if (hasNul(text)) return false;
  zuIPAddress lo;
  zuIPAddress hi;
  u16 length = 128;
  const std::size_t dash = text.find('-');
  const std::size_t slash = text.find('/');
  if (text.find(':') == std::string::npos) {
    u32 a = 0;
    u32 b = 0;
    if (!zuParseIPv4RangeText(text, &a, &b, &length)) return false;
    lo = zuIPAddress(zuIPv4Address(a));
    hi = zuIPAddress(zuIPv4Address(b));
  } else if (dash != std::string::npos) {
    std::string a = text.substr(0, dash);
    std::string b = text.substr(dash + 1);
    zuTrim(a);
    zuTrim(b);
    // The all-zero address counts like any other text that parses.
    if (!lo.fromString(a) || !hi.fromString(b)) return false;
    if (std::memcmp(lo.bytes(), hi.bytes(), zuIPAddress::kSize) > 0) return false;
    length = zuIPAddress::rangePrefixLength(lo, hi);
  } else if (slash != std::string::npos) {
    std::string n = text.substr(slash + 1);
    zuTrim(n);
    u32 number = 0;
    if (!zuStrToUInt32(n.c_str(), number) || number > 128) return false;
    zuIPAddress address;
    if (!address.fromString(text.substr(0, slash))) return false;
    length = static_cast<u16>(number);
    lo = zuIPAddress::network(address, length);
    hi = zuIPAddress::lastAddress(address, length);
  } else {
    if (!lo.fromString(text)) return false;
    hi = lo;
  }
  if (first != nullptr) *first = lo;
  if (last != nullptr) *last = hi;
  if (prefix != nullptr) *prefix = length;
  return true;
}

bool zuIPv4RangeToText(const zuIPv4Address& first, const zuIPv4Address& last, std::string& out) {
  const u16 length = zuIPv4Address::rangePrefixLength(first, last);
  if (length <= 32) {
    out = first.toString() + "/" + std::to_string(length);
    return true;
  }
  out = first.toString() + "-" + last.toString();
  return false;
}

bool zuIPRangeToText(const zuIPAddress& first, const zuIPAddress& last, std::string& out) {
  if (first.isIPv4() && last.isIPv4()) return zuIPv4RangeToText(first.toIPv4(), last.toIPv4(), out);
  const u16 length = zuIPAddress::rangePrefixLength(first, last);
  if (length < 129) {
    out = zuCidrText(first, length);
    return true;
  }
  out = first.toString() + "-" + last.toString();
  return false;
}

std::string zuCidrText(const zuIPAddress& address, u16 prefix) {
  return address.toString() + "/" + std::to_string(prefix);
}
