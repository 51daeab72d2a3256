#include "loam/dns/zuTextChecks.h"

#include <cstring>
#include <locale>
#include <sstream>
#include <string>

#include "loam/base/zuString.h"
#include "loam/dns/zuDNSStateMachine.h"
#include "loam/net/zuIPAddressStateMachine.h"

namespace {

const u8* asBytes(const char* bytes) { return reinterpret_cast<const u8*>(bytes); }

template <typename Machine>
bool machineAccepts(Machine&& machine, const char* bytes, u32 length) {
  if (bytes == nullptr) length = 0;
  return machine.feed(asBytes(bytes), length);
}

constexpr u64 kMaxSpan = 2147483647u;

}  // namespace

bool zuIsUnsignedNumber(const std::string& text) {
  u32 v = 0;
  // A NUL inside would cut the text short.
  return text.find('\0') == std::string::npos && zuStrToUInt32(text.c_str(), v);
}

bool zuIsUnsignedNumberText(const char* text) {
  u32 v = 0;
  return zuStrToUInt32(text, v);
}

bool zuIsValidDNSText(const char* bytes, u32 length) {
  return machineAccepts(zuDNSStateMachine(0, false), bytes, length);
}

bool zuIsValidText(const char* bytes, u32 length) {
  return machineAccepts(zuDNSStateMachine(0, true), bytes, length);
}

bool zuIsValidIPAddressText(const char* bytes, u32 length) {
  return machineAccepts(zuIPAddressStateMachine(0, false), bytes, length);
}

bool zuIsValidIPAddressTextLoose(const char* bytes, u32 length) {
  return machineAccepts(zuIPAddressStateMachine(0, true), bytes, length);
}

bool zuIsHexPairText(const char* bytes, u32 length) {
  if (bytes == nullptr || length == 0) return false;
  u32 digits = 0;
  for (u32 i = 0; i < length; ++i) {
    if (bytes[i] == ':') {
      if (digits == 0) return false;
      digits = 0;
    } else if (zuIsHexDigit(bytes[i])) {
      if (++digits > 2) return false;
    } else {
      return false;
    }
  }
  return digits != 0;
}

bool zuParseTimeSpan(const char* bytes, u32 length, u32& seconds) {
  if (bytes == nullptr || length == 0) return false;
  u64 total = 0;
  u64 number = 0;
  bool haveDigits = false;
  bool unitSeen = false;
  bool lastWasUnit = false;
  const auto fail = [&seconds] {
    seconds = 0xFFFFFFFFu;
    return false;
  };
  for (u32 i = 0; i < length; ++i) {
    const auto c = static_cast<u8>(bytes[i]);
    if (zuIsDigit(c)) {
      number = number * 10 + (c - u8{'0'});
      if (number > kMaxSpan) return fail();
      haveDigits = true;
      lastWasUnit = false;
      continue;
    }
    if (!haveDigits) return fail();
    u64 limit = 0;
    u64 factor = 0;
    switch (zuToUpper(c)) {
      case 'W':
        limit = 3550;
        factor = 604800;
        break;
      case 'D':
        limit = 24855;
        factor = 86400;
        break;
      case 'H':
        limit = 596523;
        factor = 3600;
        break;
      case 'M':
        limit = 35791394;
        factor = 60;
        break;
      case 'S':
        limit = kMaxSpan;
        factor = 1;
        break;
      default:
        return fail();
    }
    if (number > limit) return fail();
    total += number * factor;
    if (total > kMaxSpan) return fail();
    number = 0;
    haveDigits = false;
    unitSeen = true;
    lastWasUnit = true;
  }
  if (!lastWasUnit) {
    // A plain number of seconds; digits after a unit need a unit of their own.
    if (unitSeen) return fail();
    total += number;
    if (total > kMaxSpan) return fail();
  }
  seconds = static_cast<u32>(total);
  return true;
}

bool zuIsTimeSpan(const char* bytes, u32 length) {
  u32 seconds = 0;
  return zuParseTimeSpan(bytes, length, seconds);
}

namespace {

bool isBlank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Only white space may follow.
bool atEnd(std::istream& in) {
  for (int c = in.peek(); c != std::char_traits<char>::eof(); c = in.peek()) {
    if (!isBlank(c)) return false;
    in.get();
  }
  return true;
}

void skipBlanks(std::istream& in) {
  while (isBlank(in.peek())) in.get();
}

bool followedByBlank(std::istream& in) { return isBlank(in.peek()); }

bool isHemisphere(int c, u32 kind) {
  const int u = zuToUpper(c);
  return kind == kZuLocLatitude ? (u == 'N' || u == 'S') : (u == 'E' || u == 'W');
}

// Degrees [minutes [seconds]] hemisphere.
bool isAngle(std::istream& in, u32 kind) {
  const unsigned maxDegrees = kind == kZuLocLatitude ? 90 : 180;
  unsigned degrees = 0;
  if (!(in >> degrees) || degrees > maxDegrees) return false;
  skipBlanks(in);
  if (!isHemisphere(in.peek(), kind)) {
    unsigned minutes = 0;
    if (!(in >> minutes) || minutes > 59 || !followedByBlank(in)) return false;
    skipBlanks(in);
    double secs = 0;
    if (!isHemisphere(in.peek(), kind)) {
      if (!(in >> secs) || !(secs >= 0.0 && secs < 60.0) || !followedByBlank(in)) return false;
      skipBlanks(in);
      if (!isHemisphere(in.peek(), kind)) return false;
    }
    // 90 degrees and 30 minutes is no latitude.
    if (degrees == maxDegrees && (minutes != 0 || secs != 0.0)) return false;
  }
  in.get();
  return atEnd(in);
}

// A number in [low, high] metres, with an optional "m" or "M".
bool isMetres(std::istream& in, double low, double high) {
  double v = 0;
  if (!(in >> v) || !(v >= low && v <= high)) return false;
  const int c = in.peek();
  if (c == 'm' || c == 'M') in.get();
  return atEnd(in);
}

}  // namespace

bool zuIsValidLocText(u32 kind, const char* bytes, u32 length, bool allowEmpty) {
  if (bytes == nullptr) length = 0;
  if (length == 0 && allowEmpty) return true;
  std::istringstream in(std::string(bytes == nullptr ? "" : bytes, length));
  in.imbue(std::locale::classic());
  switch (kind) {
    case kZuLocLatitude:
    case kZuLocLongitude:
      return isAngle(in, kind);
    case kZuLocAltitude:
      return isMetres(in, -100000.0, 42849672.95);
    case kZuLocSize:
    case kZuLocHorizontalPrecision:
    case kZuLocVerticalPrecision: {
      if (length == 0) return true;
      if (!zuIsDigit(static_cast<u8>(bytes[0])) && bytes[0] != '.') return false;
      return isMetres(in, 0.0, 90000000.0);
    }
    default:
      return false;
  }
}

bool zuIPAddressGreater::operator()(const zuIPAddress& a, const zuIPAddress& b) const {
  return std::memcmp(a.bytes(), b.bytes(), zuIPAddress::kSize) > 0;
}

bool zuIPAddressEqual::operator()(const zuIPAddress& a, const zuIPAddress& b) const {
  u64 ha[2];
  u64 hb[2];
  std::memcpy(ha, a.bytes(), sizeof ha);
  std::memcpy(hb, b.bytes(), sizeof hb);
  return ha[0] == hb[0] && ha[1] == hb[1];
}
