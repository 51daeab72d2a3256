#pragma once
// An IP address of 16 bytes in network order. IPv4 is held in the
// IPv4-mapped form (bytes 0 to 9 zero, 10 and 11 0xFF, 12 to 15 the octets);
// anything else is IPv6. Unset: all zero, or the IPv4 form of 0.0.0.0.
#include <string>

#include "loam/net/zuIPv4Address.h"
#include "loam/platform/zuTypes.h"

class zuIPAddress {
 public:
  static constexpr u32 kSize = 16;

  zuIPAddress() = default;
  // Copies 16 raw bytes.
  explicit zuIPAddress(const u8* bytes);
  explicit zuIPAddress(const zuIPv4Address& v4);
  explicit zuIPAddress(const char* text);
  explicit zuIPAddress(const std::string& text);

  // Text with ':' is IPv6, anything else IPv4 (dotted or reverse name); a
  // non-zero IPv4 address is stored in IPv4 form. False, with the address
  // unset, when the text does not parse.
  bool fromString(const char* text);
  // A text with a NUL byte inside does not parse.
  bool fromString(const std::string& text);

  const u8* bytes() const { return bytes_; }
  u8* bytes() { return bytes_; }
  void clear();

  bool isIPv4() const;
  zuIPv4Address toIPv4() const;
  // Set: a non-zero IPv4 address, or any non-zero byte.
  bool isValid() const;
  // 127.0.0.1 in IPv4 form, ::1 otherwise.
  bool isLoopback() const;
  // 0 unset, 1 loopback, 2 the ff00 group, 3 link-local fe80, 4 anything else
  // (the IPv4 form included).
  u32 scope() const;

  // Dotted for IPv4 form, else compressed IPv6 text without leading zeros.
  std::string toString() const;
  // Not the RFC 5952 form: the zero run nearest the right end is compressed,
  // and the last group never joins it ("1::0", "::0").
  std::string toIPv6Text(bool compress, bool suppressLeadingZeros) const;
  // in-addr.arpa. name for IPv4 form, else the 32 nibbles under ip6.arpa.
  std::string reverseName() const;

  // Every bit after the first prefix bits cleared / set; 128 or more gives
  // the address.
  static zuIPAddress network(const zuIPAddress& address, u16 prefix);
  static zuIPAddress lastAddress(const zuIPAddress& address, u16 prefix);
  // 128 when equal, the prefix when first..last is one CIDR block, else 129.
  static u16 rangePrefixLength(const zuIPAddress& first, const zuIPAddress& last);
  // Addresses from first to last when they share the first 8 bytes, 0 when
  // first is above last; saturates at all ones (a whole /64 or more).
  static u64 rangeSize(const zuIPAddress& first, const zuIPAddress& last);
  // The number of /64 prefixes from first to last, saturating the same way.
  static u64 prefix64RangeSize(const zuIPAddress& first, const zuIPAddress& last);

  bool operator==(const zuIPAddress& other) const;
  bool operator!=(const zuIPAddress& other) const { return !(*this == other); }

 private:
  u8 bytes_[kSize]{};
};
