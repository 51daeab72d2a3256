#pragma once
// A 32-bit IPv4 address: four octets in network order (octet 1 first), with
// network and broadcast arithmetic and the dotted and reverse-lookup texts.
// All zero means no address.
#include <string>

#include "loam/platform/zuTypes.h"

class zuIPv4Address {
 public:
  zuIPv4Address() = default;
  zuIPv4Address(u8 o1, u8 o2, u8 o3, u8 o4) : octets_{o1, o2, o3, o4} {}
  // A value whose bytes in memory are already in network order (as in_addr).
  explicit zuIPv4Address(u32 networkOrder);
  // Parses the text; a text that does not parse leaves the address zero.
  explicit zuIPv4Address(const char* text);
  explicit zuIPv4Address(const std::string& text);

  // Octet 1 to 4; other indexes wrap ((i - 1) mod 4) + 1, so 0 is octet 4.
  u8 octet(u32 i) const { return octets_[(i - 1u) & 3u]; }
  void setOctet(u32 i, u8 value) { octets_[(i - 1u) & 3u] = value; }
  void set(u8 o1, u8 o2, u8 o3, u8 o4);

  // The four octets as they lie in memory (network order).
  u32 value() const;
  // The address as a number with octet 1 most significant.
  u32 hostValue() const;
  static zuIPv4Address fromHostValue(u32 host);
  const u8* bytes() const { return octets_; }

  bool isZero() const { return hostValue() == 0; }
  // Exactly 127.0.0.1.
  bool isLoopback() const;

  // Three-way comparison as unsigned numbers, octet 1 most significant.
  static int compare(const zuIPv4Address& a, const zuIPv4Address& b);
  bool operator>(const zuIPv4Address& other) const { return compare(*this, other) > 0; }
  bool operator==(const zuIPv4Address& other) const { return compare(*this, other) == 0; }
  bool operator!=(const zuIPv4Address& other) const { return !(*this == other); }

  std::string toString() const;
  // d.c.b.a.in-addr.arpa. for a.b.c.d
  std::string reverseName() const;
  // c.b.a.in-addr.arpa.: the zone of the address's /24 network.
  std::string reverseZoneName() const;

  // A dotted quad without leading zeros, or the reverse name d.c.b.a.in-addr.arpa.
  // (stored as a.b.c.d). On failure the address is zero and false is returned.
  bool parse(const char* text, u32 length);

  // Prefix 0 gives 0.0.0.0 (network) or 255.255.255.255 (broadcast); 32 or
  // more gives the address itself.
  static zuIPv4Address network(const zuIPv4Address& address, u16 prefix);
  static zuIPv4Address broadcast(const zuIPv4Address& address, u16 prefix);
  // prefix leading one bits; 32 or more is all ones.
  static zuIPv4Address maskFromPrefix(u16 prefix);
  // 32 minus the trailing zero bits; contiguity is not checked.
  static u16 maskPrefixLength(const zuIPv4Address& mask);
  // The prefix when first..last is exactly one CIDR block, 32 when they are
  // equal, else 33.
  static u16 rangePrefixLength(const zuIPv4Address& first, const zuIPv4Address& last);

  // "A-B", "A/N" (10/8 reads as 10.0.0.0/8) or a lone address; first and last
  // receive network-order values. False for anything else.
  static bool parseRange(const std::string& text, u32* first, u32* last);

 private:
  u8 octets_[4]{};
};

// The same three-way comparison as a free function, for ordering predicates.
inline int zuCompareAddress(const zuIPv4Address& a, const zuIPv4Address& b) {
  return zuIPv4Address::compare(a, b);
}
