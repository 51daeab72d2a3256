// Text checks and the time-span conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <locale>
#include <set>
#include <string>
#include <vector>

#include "loam/dns/zuTextChecks.h"

namespace {

u32 len(const char* s) { return static_cast<u32>(std::strlen(s)); }

struct SpanCase {
  const char* text;
  bool ok;
  u32 seconds;  // 0xFFFFFFFF for failures
};

TEST(zuParseTimeSpan, Table) {
  constexpr u32 kBad = 0xFFFFFFFFu;
  const SpanCase cases[] = {
      {"3600", true, 3600},
      {"0", true, 0},
      {"1h30m", true, 5400},
      {"1W2D", true, 9 * 86400},
      {"1h1h", true, 7200},
      {"30s1h", true, 3630},
      {"1h1", false, kBad},  // digits after a unit need one of their own
      {"1h0", false, kBad},
      {"h", false, kBad},
      {"1hm", false, kBad},
      {"1x", false, kBad},
      {"1 h", false, kBad},
      {" 1", false, kBad},
      {"-1", false, kBad},
      {"+1", false, kBad},
      {"24855d", true, 24855u * 86400},
      {"24856d", false, kBad},
      {"24855d3h", true, 2147482800u},
      {"24855d4h", false, kBad},  // 2147472000 + 14400 passes the limit
      {"3550w", true, 3550u * 604800},
      {"3551w", false, kBad},
      {"596523h", true, 596523u * 3600},
      {"596524h", false, kBad},
      {"35791394M", true, 35791394u * 60},
      {"35791395M", false, kBad},
      {"2147483647", true, 2147483647u},
      {"2147483648", false, kBad},
      {"2147483647s", true, 2147483647u},
      {"2147483647s1s", false, kBad},
      {"99999999999999999999", false, kBad},
      {"00000000000000000000060", true, 60},
  };
  for (const SpanCase& c : cases) {
    u32 seconds = 12345;
    EXPECT_EQ(zuParseTimeSpan(c.text, len(c.text), seconds), c.ok) << c.text;
    EXPECT_EQ(seconds, c.seconds) << c.text;
    EXPECT_EQ(zuIsTimeSpan(c.text, len(c.text)), c.ok) << c.text;
  }
}

TEST(zuParseTimeSpan, LengthZeroLeavesSecondsAndLengthBoundsTheText) {
  u32 seconds = 77;
  EXPECT_FALSE(zuParseTimeSpan("", 0, seconds));
  EXPECT_EQ(seconds, 77u);
  EXPECT_FALSE(zuParseTimeSpan(nullptr, 0, seconds));
  EXPECT_EQ(seconds, 77u);
  // Only the given bytes count, and a NUL inside is a bad byte.
  EXPECT_TRUE(zuParseTimeSpan("12h34", 3, seconds));
  EXPECT_EQ(seconds, 12u * 3600);
  EXPECT_FALSE(zuParseTimeSpan("1\0h", 3, seconds));
  EXPECT_EQ(seconds, 0xFFFFFFFFu);
}

TEST(zuIsHexPairText, Table) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"0:1a:FF", true}, {"a", true},     {"ab", true},    {"0:1a:FF:", false},
      {":0", false},     {"0::1", false}, {"abc", false},  {"0:1a:FFF", false},
      {"", false},       {"0g", false},   {"0 :1", false}, {"00:11:22:33:44:55", true},
  };
  for (const Case& c : cases) EXPECT_EQ(zuIsHexPairText(c.text, len(c.text)), c.ok) << c.text;
  EXPECT_FALSE(zuIsHexPairText(nullptr, 0));
}

TEST(zuIsUnsignedNumber, Table) {
  EXPECT_TRUE(zuIsUnsignedNumber("4294967295"));
  EXPECT_TRUE(zuIsUnsignedNumberText("0"));
  EXPECT_FALSE(zuIsUnsignedNumber("-1"));
  EXPECT_FALSE(zuIsUnsignedNumber("4294967296"));
  EXPECT_FALSE(zuIsUnsignedNumber(""));
  EXPECT_FALSE(zuIsUnsignedNumber("1 "));
  EXPECT_FALSE(zuIsUnsignedNumber(std::string("1\0x", 3)));
  EXPECT_FALSE(zuIsUnsignedNumberText(nullptr));
}

TEST(zuIsValidDNSTextAndText, StrictAndRelaxed) {
  struct Case {
    const char* text;
    bool strict;
    bool relaxed;
  };
  const Case cases[] = {
      {"www.example.com.", true, true},
      {"a_b", true, true},
      {"-a", false, true},
      {"a-", false, true},
      {"a/b", true, true},
      {"a b", false, false},
      {"a..b", false, false},
      {"*.a", true, true},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuIsValidDNSText(c.text, len(c.text)), c.strict) << c.text;
    EXPECT_EQ(zuIsValidText(c.text, len(c.text)), c.relaxed) << c.text;
  }
  // The length decides, not a NUL.
  EXPECT_FALSE(zuIsValidDNSText("a\0b", 3));
  EXPECT_TRUE(zuIsValidDNSText("ab cd", 2));
}

TEST(zuIsValidIPAddressText, StrictAndLoose) {
  struct Case {
    const char* text;
    bool strict;
    bool loose;
  };
  const Case cases[] = {
      {"192.0.2.1", true, true},
      {"001.002.003.004", true, true},
      {"255.255.255.255", true, true},
      {"256.0.0.1", false, false},
      {"1.2.3", false, false},
      {"1.2.3.4.", false, false},
      {"10.*", false, true},
      {"*", false, true},
      {"1.2.3.*", false, true},
      {"1.2.3.4.*", false, false},
      {"4.3.2.1.in-addr.arpa.", false, false},
      {"", false, false},
      {"::1", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuIsValidIPAddressText(c.text, len(c.text)), c.strict) << c.text;
    EXPECT_EQ(zuIsValidIPAddressTextLoose(c.text, len(c.text)), c.loose) << c.text;
  }
}

TEST(zuIsValidLocText, Table) {
  struct Case {
    u32 kind;
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {kZuLocLatitude, "42 21 54.5 N", true},
      {kZuLocLatitude, "42S", true},
      {kZuLocLatitude, "42 s", true},
      {kZuLocLatitude, "42 21 N ", true},
      {kZuLocLatitude, "90 N", true},
      {kZuLocLatitude, "90 0 0 N", true},
      {kZuLocLatitude, "91 N", false},
      {kZuLocLatitude, "90 1 N", false},  // past the pole
      {kZuLocLatitude, "90 0 0.5 N", false},
      {kZuLocLatitude, "42 60 N", false},
      {kZuLocLatitude, "42 59 60 N", false},
      {kZuLocLatitude, "42 59 59.999 N", true},
      {kZuLocLatitude, "42 21N", false},  // minutes need a blank after them
      {kZuLocLatitude, "42 21 54N", false},
      {kZuLocLatitude, "42 E", false},
      {kZuLocLatitude, "42", false},
      {kZuLocLatitude, "42 N x", false},
      {kZuLocLatitude, "N", false},
      {kZuLocLongitude, "180 W", true},
      {kZuLocLongitude, "71 06 18 e", true},
      {kZuLocLongitude, "181 W", false},
      {kZuLocLongitude, "180 30 W", false},
      {kZuLocLongitude, "71 N", false},
      {kZuLocAltitude, "-24.5m", true},
      {kZuLocAltitude, "0", true},
      {kZuLocAltitude, "-100000", true},
      {kZuLocAltitude, "-100000.01", false},
      {kZuLocAltitude, "42849672.95M", true},
      {kZuLocAltitude, "42849672.96", false},
      {kZuLocAltitude, "10 m", false},
      {kZuLocAltitude, "10mm", false},
      {kZuLocAltitude, "m", false},
      {kZuLocSize, "30m", true},
      {kZuLocSize, ".5", true},
      {kZuLocSize, "90000000", true},
      {kZuLocSize, "90000001", false},
      {kZuLocSize, "-1", false},
      {kZuLocSize, " 1", false},
      {kZuLocSize, "", true},  // a size that is not there
      {kZuLocHorizontalPrecision, "10000m", true},
      {kZuLocVerticalPrecision, "10m ", true},
      {6, "1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuIsValidLocText(c.kind, c.text, len(c.text), false), c.ok)
        << c.kind << " \"" << c.text << '"';
  }
  EXPECT_TRUE(zuIsValidLocText(kZuLocLatitude, "", 0, true));
  EXPECT_FALSE(zuIsValidLocText(kZuLocLatitude, "", 0, false));
  EXPECT_FALSE(zuIsValidLocText(kZuLocLatitude, "42 N\0", 5, false));
}

TEST(zuIsValidLocText, ReadsInTheClassicLocaleWhateverTheGlobalOne) {
  // A locale with a decimal comma (and thousands grouping) must not change
  // what passes.
  struct CommaNumbers : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
  const bool dot = zuIsValidLocText(kZuLocAltitude, "-24.5m", 6, false);
  const bool comma = zuIsValidLocText(kZuLocAltitude, "-24,5m", 6, false);
  std::locale::global(previous);
  EXPECT_TRUE(dot);
  EXPECT_FALSE(comma);
}

TEST(zuAddressComparators, StrictOrderings) {
  const zuIPv4Address a(10, 0, 0, 1);
  const zuIPv4Address b(10, 0, 0, 2);
  const zuIPv4AddressLess less;
  EXPECT_TRUE(less(a, b));
  EXPECT_FALSE(less(b, a));
  EXPECT_FALSE(less(a, a));  // irreflexive: a set keeps one copy
  std::set<zuIPv4Address, zuIPv4AddressLess> set4{a, b, a};
  EXPECT_EQ(set4.size(), 2u);

  const zuIPAddress x("2001:db8::1");
  const zuIPAddress y("2001:db8::2");
  const zuIPAddress z("192.0.2.1");
  const zuIPAddressGreater greater;
  EXPECT_TRUE(greater(y, x));
  EXPECT_FALSE(greater(x, y));
  EXPECT_FALSE(greater(x, x));
  std::set<zuIPAddress, zuIPAddressGreater> set6{x, y, z, x};
  ASSERT_EQ(set6.size(), 3u);
  EXPECT_TRUE(*set6.begin() == y);
  EXPECT_TRUE(*set6.rbegin() == z);  // the IPv4 form begins with zero bytes
  const zuIPAddressEqual equal;
  EXPECT_TRUE(equal(x, zuIPAddress("2001:db8::1")));
  EXPECT_FALSE(equal(x, y));
  u8 raw[16] = {};
  raw[15] = 1;
  zuIPAddress highOnly(raw);
  raw[15] = 0;
  raw[0] = 1;
  EXPECT_FALSE(equal(highOnly, zuIPAddress(raw)));
}

}  // namespace
