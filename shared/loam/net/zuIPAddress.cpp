#include "loam/net/zuIPAddress.h"

#include <cstring>
#include <limits>

#include "loam/net/zuIPAddressText.h"

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool allZero(const u8* bytes, u32 from, u32 to) {
  for (u32 i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

u64 half(const u8* bytes, u32 from) {
  u64 v = 0;
  for (u32 i = from; i < from + 8; ++i) v = (v << 8) | bytes[i];
  return v;
}

// last - first + 1 when first <= last, else 0; a full 2^64 saturates.
u64 countInclusive(u64 first, u64 last) {
  if (first > last) return 0;
  const u64 span = last - first;
  return span == std::numeric_limits<u64>::max() ? span : span + 1;
}

// The bits of byte i that lie within the first prefix bits.
u8 prefixMask(u32 i, u16 prefix) {
  const u32 start = i * 8;
  if (prefix <= start) return 0;
  const u32 bits = prefix - start;
  if (bits >= 8) return 0xFF;
  return static_cast<u8>(0xFFu << (8 - bits));
}

}  // namespace

zuIPAddress::zuIPAddress(const u8* bytes) {
  if (bytes != nullptr) std::memcpy(bytes_, bytes, kSize);
}

zuIPAddress::zuIPAddress(const zuIPv4Address& v4) {
  bytes_[10] = 0xFF;
  bytes_[11] = 0xFF;
  std::memcpy(bytes_ + 12, v4.bytes(), 4);
}

zuIPAddress::zuIPAddress(const char* text) { fromString(text); }

zuIPAddress::zuIPAddress(const std::string& text) { fromString(text); }

void zuIPAddress::clear() { std::memset(bytes_, 0, kSize); }

bool zuIPAddress::fromString(const char* text) {
  clear();
  if (text == nullptr) return false;
  if (std::strchr(text, ':') != nullptr) return zuParseIPv6Text(text, bytes_);
  zuIPv4Address v4;
  if (!v4.parse(text, static_cast<u32>(std::strlen(text)))) return false;
  if (!v4.isZero()) *this = zuIPAddress(v4);
  return true;
}

bool zuIPAddress::fromString(const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    clear();
    return false;
  }
  return fromString(text.c_str());
}

bool zuIPAddress::isIPv4() const {
  return allZero(bytes_, 0, 10) && bytes_[10] == 0xFF && bytes_[11] == 0xFF;
}

zuIPv4Address zuIPAddress::toIPv4() const {
  return zuIPv4Address(bytes_[12], bytes_[13], bytes_[14], bytes_[15]);
}

bool zuIPAddress::isValid() const {
  if (isIPv4()) return !toIPv4().isZero();
  return !allZero(bytes_, 0, kSize);
}

bool zuIPAddress::isLoopback() const {
  if (isIPv4()) return toIPv4().isLoopback();
  return allZero(bytes_, 0, 15) && bytes_[15] == 1;
}

u32 zuIPAddress::scope() const {
  if (allZero(bytes_, 0, kSize)) return 0;
  if (allZero(bytes_, 0, 15) && bytes_[15] == 1) return 1;
  if (!allZero(bytes_, 0, 8)) {
    const u32 group = (u32{bytes_[0]} << 8) | bytes_[1];
    if (group == 0xFF00) return 2;
    if (group == 0xFE80) return 3;
    return 4;
  }
  return 4;  // set bytes only from 8 on, ::1 aside
}

std::string zuIPAddress::toString() const {
  if (isIPv4()) return toIPv4().toString();
  return toIPv6Text(true, true);
}

std::string zuIPAddress::toIPv6Text(bool compress, bool suppressLeadingZeros) const {
  u32 groups[8];
  for (u32 i = 0; i < 8; ++i) groups[i] = (u32{bytes_[2 * i]} << 8) | bytes_[2 * i + 1];

  // From group 6 leftwards, the first run of two or more zero groups; group 7
  // is always written out.
  int gapStart = -1;
  int gapEnd = -1;
  if (compress) {
    int i = 6;
    while (i >= 0) {
      if (groups[i] != 0) {
        --i;
        continue;
      }
      const int end = i;
      while (i >= 0 && groups[i] == 0) --i;
      if (end - i >= 2) {
        gapStart = i + 1;
        gapEnd = end;
        break;
      }
    }
  }

  std::string out;
  out.reserve(40);
  bool afterGap = false;
  for (int g = 0; g < 8; ++g) {
    if (g == gapStart) {
      out += "::";
      g = gapEnd;
      afterGap = true;
      continue;
    }
    if (!out.empty() && !afterGap) out += ':';
    afterGap = false;
    const u32 v = groups[g];
    bool started = !suppressLeadingZeros;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const u32 nibble = (v >> shift) & 0xF;
      if (nibble != 0 || shift == 0) started = true;
      if (started) out += kHex[nibble];
    }
  }
  return out;
}

std::string zuIPAddress::reverseName() const {
  if (isIPv4()) return toIPv4().reverseName();
  std::string out;
  out.reserve(73);
  for (int i = static_cast<int>(kSize) - 1; i >= 0; --i) {
    out += kHex[bytes_[i] & 0xF];
    out += '.';
    out += kHex[bytes_[i] >> 4];
    out += '.';
  }
  out += "ip6.arpa.";
  return out;
}

zuIPAddress zuIPAddress::network(const zuIPAddress& address, u16 prefix) {
  if (prefix >= 128) return address;
  zuIPAddress out;
  for (u32 i = 0; i < kSize; ++i) out.bytes_[i] = address.bytes_[i] & prefixMask(i, prefix);
  return out;
}

zuIPAddress zuIPAddress::lastAddress(const zuIPAddress& address, u16 prefix) {
  if (prefix >= 128) return address;
  zuIPAddress out;
  for (u32 i = 0; i < kSize; ++i) {
    out.bytes_[i] = static_cast<u8>(address.bytes_[i] | ~prefixMask(i, prefix));
  }
  return out;
}

u16 zuIPAddress::rangePrefixLength(const zuIPAddress& first, const zuIPAddress& last) {
  u32 common = 0;
  while (common < 128) {
    const u32 byte = common / 8;
    const u32 bit = 7 - common % 8;
    if (((first.bytes_[byte] ^ last.bytes_[byte]) >> bit) & 1u) break;
    ++common;
  }
  if (common == 128) return 128;
  const auto prefix = static_cast<u16>(common);
  if (network(first, prefix) == first && lastAddress(first, prefix) == last) return prefix;
  return 129;
}

u64 zuIPAddress::rangeSize(const zuIPAddress& first, const zuIPAddress& last) {
  if (half(first.bytes_, 0) != half(last.bytes_, 0)) return std::numeric_limits<u64>::max();
  return countInclusive(half(first.bytes_, 8), half(last.bytes_, 8));
}

u64 zuIPAddress::prefix64RangeSize(const zuIPAddress& first, const zuIPAddress& last) {
  return countInclusive(half(first.bytes_, 0), half(last.bytes_, 0));
}

bool zuIPAddress::operator==(const zuIPAddress& other) const {
  return std::memcmp(bytes_, other.bytes_, kSize) == 0;
}
