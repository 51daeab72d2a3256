#include "loam/net/zuIPv4Address.h"

#include <bit>
#include <cstring>

#include "loam/base/zuString.h"

namespace {

// ---- Parser tables ----------------------------------------------------------
// Byte classes: the digits are their own values, then the bytes of the suffix
// in-addr.arpa.; every other byte ends the parse at once.
constexpr u8 kInvalid = 0xFF;
constexpr u8 kDot = 10;
constexpr u8 kDash = 11;
constexpr u8 kI = 12;
constexpr u8 kN = 13;
constexpr u8 kA = 14;
constexpr u8 kD = 15;
constexpr u8 kR = 16;
constexpr u8 kP = 17;
constexpr u32 kClasses = 18;
constexpr u32 kStates = 21;

struct ParserTables {
  u8 classOf[256];
  u8 next[kStates][kClasses];  // 0 fails the parse
};

constexpr ParserTables buildParserTables() {
  ParserTables t{};
  for (u8& c : t.classOf) c = kInvalid;
  for (u8 d = 0; d < 10; ++d) t.classOf['0' + d] = d;
  t.classOf[u8{'.'}] = kDot;
  t.classOf[u8{'-'}] = kDash;
  t.classOf[u8{'i'}] = kI;
  t.classOf[u8{'n'}] = kN;
  t.classOf[u8{'a'}] = kA;
  t.classOf[u8{'d'}] = kD;
  t.classOf[u8{'r'}] = kR;
  t.classOf[u8{'p'}] = kP;

  // 1: start of an octet
  t.next[1][0] = 7;
  t.next[1][1] = 3;
  t.next[1][2] = 2;
  for (u8 d = 3; d <= 9; ++d) t.next[1][d] = 4;
  t.next[1][kI] = 8;
  // 2: after the digit 2
  for (u8 d = 0; d <= 4; ++d) t.next[2][d] = 4;
  t.next[2][5] = 5;
  for (u8 d = 6; d <= 9; ++d) t.next[2][d] = 6;
  t.next[2][kDot] = 1;
  // 3: after the digit 1
  for (u8 d = 0; d <= 9; ++d) t.next[3][d] = 4;
  t.next[3][kDot] = 1;
  // 4: after 1 and a digit, after 20 to 24, or after one digit 3 to 9
  for (u8 d = 0; d <= 9; ++d) t.next[4][d] = 6;
  t.next[4][kDot] = 1;
  // 5: after 25
  for (u8 d = 0; d <= 5; ++d) t.next[5][d] = 6;
  t.next[5][kDot] = 1;
  // 6: octet complete; 7: after a leading 0
  t.next[6][kDot] = 1;
  t.next[7][kDot] = 1;
  // 8 to 19: the suffix in-addr.arpa. after the 'i'; 20 takes no further byte
  t.next[8][kN] = 9;
  t.next[9][kDash] = 10;
  t.next[10][kA] = 11;
  t.next[11][kD] = 12;
  t.next[12][kD] = 13;
  t.next[13][kR] = 14;
  t.next[14][kDot] = 15;
  t.next[15][kA] = 16;
  t.next[16][kR] = 17;
  t.next[17][kP] = 18;
  t.next[18][kA] = 19;
  t.next[19][kDot] = 20;
  return t;
}

constexpr ParserTables kParser = buildParserTables();

std::string dotted(u8 a, u8 b, u8 c, u8 d) {
  std::string s;
  s.reserve(16);
  s += std::to_string(a);
  s += '.';
  s += std::to_string(b);
  s += '.';
  s += std::to_string(c);
  s += '.';
  s += std::to_string(d);
  return s;
}

u32 hostMask(u16 prefix) {
  if (prefix == 0) return 0;
  if (prefix >= 32) return 0xFFFFFFFFu;
  return 0xFFFFFFFFu << (32u - prefix);
}

}  // namespace

zuIPv4Address::zuIPv4Address(u32 networkOrder) { std::memcpy(octets_, &networkOrder, 4); }

zuIPv4Address::zuIPv4Address(const char* text) {
  if (text != nullptr) parse(text, static_cast<u32>(std::strlen(text)));
}

zuIPv4Address::zuIPv4Address(const std::string& text) {
  parse(text.data(), static_cast<u32>(text.size()));
}

void zuIPv4Address::set(u8 o1, u8 o2, u8 o3, u8 o4) {
  octets_[0] = o1;
  octets_[1] = o2;
  octets_[2] = o3;
  octets_[3] = o4;
}

u32 zuIPv4Address::value() const {
  u32 v;
  std::memcpy(&v, octets_, 4);
  return v;
}

u32 zuIPv4Address::hostValue() const {
  return (u32{octets_[0]} << 24) | (u32{octets_[1]} << 16) | (u32{octets_[2]} << 8) |
         u32{octets_[3]};
}

zuIPv4Address zuIPv4Address::fromHostValue(u32 host) {
  return zuIPv4Address(static_cast<u8>(host >> 24), static_cast<u8>(host >> 16),
                       static_cast<u8>(host >> 8), static_cast<u8>(host));
}

bool zuIPv4Address::isLoopback() const { return hostValue() == 0x7F000001u; }

int zuIPv4Address::compare(const zuIPv4Address& a, const zuIPv4Address& b) {
  const u32 x = a.hostValue();
  const u32 y = b.hostValue();
  return x < y ? -1 : (x > y ? 1 : 0);
}

std::string zuIPv4Address::toString() const {
  return dotted(octets_[0], octets_[1], octets_[2], octets_[3]);
}

std::string zuIPv4Address::reverseName() const {
  return dotted(octets_[3], octets_[2], octets_[1], octets_[0]) + ".in-addr.arpa.";
}

std::string zuIPv4Address::reverseZoneName() const {
  return std::to_string(octets_[2]) + '.' + std::to_string(octets_[1]) + '.' +
         std::to_string(octets_[0]) + ".in-addr.arpa.";
}

bool zuIPv4Address::parse(const char* text, u32 length) {
  set(0, 0, 0, 0);
  if (text == nullptr || length == 0) return false;
  u8 parsed[4] = {};
  u32 state = 1;
  u32 value = 0;
  u32 dots = 0;
  for (u32 i = 0; i < length; ++i) {
    const u8 cls = kParser.classOf[static_cast<u8>(text[i])];
    if (cls == kInvalid) return false;
    if (cls <= 9) {
      if (dots >= 4) return false;
      value = value * 10 + cls;
    } else if (cls == kDot) {
      ++dots;
      if (dots < 4) {
        parsed[dots - 1] = static_cast<u8>(value);
        value = 0;
      }
    }
    state = kParser.next[state][cls];
    if (state == 0) return false;
  }
  // The tables admit at most 255 per octet on every accepted path.
  parsed[3] = static_cast<u8>(value);
  if (state >= 2 && state <= 7 && dots == 3) {
    set(parsed[0], parsed[1], parsed[2], parsed[3]);
    return true;
  }
  if (state == 20 && dots == 6) {
    set(parsed[3], parsed[2], parsed[1], parsed[0]);
    return true;
  }
  return false;
}

zuIPv4Address zuIPv4Address::network(const zuIPv4Address& address, u16 prefix) {
  if (prefix >= 32) return address;
  return fromHostValue(address.hostValue() & hostMask(prefix));
}

zuIPv4Address zuIPv4Address::broadcast(const zuIPv4Address& address, u16 prefix) {
  if (prefix >= 32) return address;
  return fromHostValue(address.hostValue() | ~hostMask(prefix));
}

zuIPv4Address zuIPv4Address::maskFromPrefix(u16 prefix) { return fromHostValue(hostMask(prefix)); }

u16 zuIPv4Address::maskPrefixLength(const zuIPv4Address& mask) {
  // countr_zero(0) is 32, so 0.0.0.0 gives 0.
  return static_cast<u16>(32 - std::countr_zero(mask.hostValue()));
}

u16 zuIPv4Address::rangePrefixLength(const zuIPv4Address& first, const zuIPv4Address& last) {
  const u32 a = first.hostValue();
  const u32 b = last.hostValue();
  const u32 diff = a ^ b;
  if (diff == 0) return 32;
  // One block: the differing bits are exactly the low host bits, all zero in
  // first and all one in last.
  if ((diff & (diff + 1u)) != 0) return 33;
  if ((a & diff) != 0 || (b & diff) != diff) return 33;
  return static_cast<u16>(32 - std::popcount(diff));
}

bool zuIPv4Address::parseRange(const std::string& text, u32* first, u32* last) {
  // The number conversions stop at a NUL; such a text is no range.
  if (text.find('\0') != std::string::npos) return false;
  zuIPv4Address lo;
  zuIPv4Address hi;
  const std::size_t dash = text.find('-');
  const std::size_t slash = text.find('/');
  if (dash != std::string::npos) {
    std::string a = text.substr(0, dash);
    std::string b = text.substr(dash + 1);
    zuTrim(a);
    zuTrim(b);
    // A side counts only when its text parses: a failed parse also gives
    // 0.0.0.0, which must not pass for a real 0.0.0.0.
    if (!lo.parse(a.data(), static_cast<u32>(a.size())) ||
        !hi.parse(b.data(), static_cast<u32>(b.size())))
      return false;
    if (compare(lo, hi) > 0) return false;
  } else if (slash != std::string::npos) {
    std::string a = text.substr(0, slash);
    std::string n = text.substr(slash + 1);
    zuTrim(n);
    u32 prefix = 0;
    if (!zuStrToUInt32(n.c_str(), prefix) || prefix > 32) return false;
    std::size_t dots = 0;
    for (char c : a) dots += c == '.' ? 1u : 0u;
    for (; dots < 3; ++dots) a += ".0";
    zuIPv4Address address;
    if (!address.parse(a.data(), static_cast<u32>(a.size()))) return false;
    lo = network(address, static_cast<u16>(prefix));
    hi = broadcast(lo, static_cast<u16>(prefix));
  } else {
    if (!lo.parse(text.data(), static_cast<u32>(text.size()))) return false;
    hi = lo;
  }
  if (first != nullptr) *first = lo.value();
  if (last != nullptr) *last = hi.value();
  return true;
}
