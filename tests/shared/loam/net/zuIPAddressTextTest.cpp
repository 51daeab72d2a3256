// Address text: the IPv6 and dotted-quad parsers (checked against glibc's
// inet_pton), prefix texts and range texts in both directions.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "loam/net/zuIPAddressText.h"

namespace {

using tw::test::ip;

zuIPAddress ip4(u8 a, u8 b, u8 c, u8 d) { return zuIPAddress(zuIPv4Address(a, b, c, d)); }

// Rewrites every run of five or more hex digits that is not the first octet
// of a dotted quad as its value without leading zeros: the one form the
// parser accepts and inet_pton refuses.
std::string shortenLongGroups(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) {
      out += text[i++];
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && std::isxdigit(static_cast<unsigned char>(text[j]))) ++j;
    std::string run = text.substr(i, j - i);
    if (run.size() >= 5 && (j == text.size() || text[j] != '.')) {
      const std::size_t nz = run.find_first_not_of('0');
      run = nz == std::string::npos ? "0" : run.substr(nz);
    }
    out += run;
    i = j;
  }
  return out;
}

void expectAgreesWithInetPton6(const std::string& text) {
  u8 theirs[16] = {};
  const bool theirOk = inet_pton(AF_INET6, text.c_str(), theirs) == 1;
  u8 ours[16];
  std::memset(ours, 0xA5, sizeof ours);
  const bool ourOk = zuParseIPv6Text(text.c_str(), ours);
  if (!ourOk) {
    ASSERT_FALSE(theirOk) << '"' << text << '"';
    for (u8 b : ours) ASSERT_EQ(b, 0xA5) << "written on failure: " << text;
    return;
  }
  if (!theirOk) {
    // Only long zero-padded groups may be ours alone.
    const std::string shortened = shortenLongGroups(text);
    ASSERT_NE(shortened, text) << '"' << text << '"';
    ASSERT_EQ(inet_pton(AF_INET6, shortened.c_str(), theirs), 1) << text;
  }
  ASSERT_EQ(std::memcmp(ours, theirs, 16), 0) << text;
}

TEST(zuIPAddressText, IPv6EdgeCases) {
  u8 out[16];
  EXPECT_TRUE(zuParseIPv6Text("::ffff:1.2.3.4", out));
  EXPECT_TRUE(zuIPAddress(out).isIPv4());
  EXPECT_EQ(zuIPAddress(out).toIPv4(), zuIPv4Address(1, 2, 3, 4));
  EXPECT_FALSE(zuParseIPv6Text("1::2::3", out));
  EXPECT_FALSE(zuParseIPv6Text("12345::", out));
  EXPECT_TRUE(zuParseIPv6Text("00000000001::", out));
  EXPECT_EQ(zuIPAddress(out), ip("1::"));
  // Nine groups: the last must not be stored past the 16 bytes.
  EXPECT_FALSE(zuParseIPv6Text("1:2:3:4:5:6:7:8:9", out));
  EXPECT_FALSE(zuParseIPv6Text("1:2:3:4:5:6:7:8:9:a:b:c", out));
  EXPECT_FALSE(zuParseIPv6Text("1:2:3:4:5:6:7:1.2.3.4", out));
  EXPECT_FALSE(zuParseIPv6Text("1:2:3:4:5:6:7:8::", out));
  EXPECT_FALSE(zuParseIPv6Text("::1:2:3:4:5:6:7:8", out));
  EXPECT_TRUE(zuParseIPv6Text("1:2:3:4:5:6:7::", out));
  EXPECT_TRUE(zuParseIPv6Text("1:2:3:4:5:6:1.2.3.4", out));
  EXPECT_FALSE(zuParseIPv6Text(":1::", out));
  EXPECT_FALSE(zuParseIPv6Text("1:", out));
  EXPECT_FALSE(zuParseIPv6Text("", out));
  EXPECT_FALSE(zuParseIPv6Text("::1.2.3", out));
  EXPECT_FALSE(zuParseIPv6Text("::01.2.3.4", out));
  EXPECT_FALSE(zuParseIPv6Text(nullptr, out));
}

TEST(zuIPAddressText, IPv6AgreesWithInetPtonOnEveryShortText) {
  const char alphabet[] = {'0', '1', 'F', ':', '.'};
  std::vector<std::string> level{""};
  for (int length = 1; length <= 8; ++length) {
    std::vector<std::string> next;
    next.reserve(level.size() * sizeof alphabet);
    for (const std::string& s : level) {
      for (char c : alphabet) next.push_back(s + c);
    }
    for (const std::string& s : next) expectAgreesWithInetPton6(s);
    level.swap(next);
  }
}

TEST(zuIPAddressText, IPv6AgreesWithInetPtonOnGeneratedTexts) {
  const char* const groups[] = {"",          "0",       "1",        "ff",        "FFFF",
                                "ffff",      "abcd",    "AbCd",     "12345",     "00000",
                                "0001",      "00001",   "0ffff",    "10000",     "g",
                                "1.2.3.4",   "1.2.3",   "01.2.3.4", "1.2.3.4.5", "255.255.255.255",
                                "256.1.1.1", "0.0.0.0", "7",        "dead",      "beef"};
  std::mt19937 gen(4242);
  auto rng = [&gen] { return static_cast<u32>(gen()); };
  auto pick = [&rng](u32 n) { return static_cast<u32>(rng() % n); };
  for (int i = 0; i < 200000; ++i) {
    const u32 count = 1 + pick(10);
    std::string text = pick(6) == 0 ? ":" : "";
    for (u32 k = 0; k < count; ++k) {
      if (k != 0) text += pick(12) == 0 ? "::" : ":";
      text += groups[pick(std::size(groups))];
    }
    if (pick(10) == 0) text += ":";
    expectAgreesWithInetPton6(text);
  }
}

TEST(zuIPAddressText, DottedQuadAgreesWithInetPton) {
  const char* const texts[] = {"1.2.3.4", "0.0.0.0",  "255.255.255.255", "256.0.0.0", "01.2.3.4",
                               "1.2.3",   "1.2.3.4.", "1..2.3",          ".1.2.3",    "1.2.3.4 ",
                               "",        "1.2.3.00", "10.20.30.40",     "1.2.3.a"};
  for (const char* text : texts) {
    in_addr in{};
    const bool theirs = inet_pton(AF_INET, text, &in) == 1;
    u32 ours = 0;
    ASSERT_EQ(zuParseDottedQuad(text, ours), theirs) << text;
    if (theirs) {
      EXPECT_EQ(ours, in.s_addr) << text;
    }
  }
}

TEST(zuIPAddressText, FromStringChoosesTheFamilyByColon) {
  zuIPAddress a;
  EXPECT_TRUE(a.fromString("192.0.2.1"));
  EXPECT_EQ(a, ip("::ffff:192.0.2.1"));
  EXPECT_TRUE(a.fromString("1.2.0.192.in-addr.arpa."));
  EXPECT_EQ(a, ip("::ffff:192.0.2.1"));
  EXPECT_TRUE(a.fromString("2001:db8::1"));
  EXPECT_EQ(a, ip("2001:db8::1"));
  // 0.0.0.0 is not stored in IPv4 form; either way the address is unset.
  EXPECT_TRUE(a.fromString("0.0.0.0"));
  EXPECT_EQ(a, zuIPAddress());
  a = ip("2001:db8::1");
  EXPECT_FALSE(a.fromString("192.0.2.01"));
  EXPECT_EQ(a, zuIPAddress());
  a = ip("2001:db8::1");
  EXPECT_FALSE(a.fromString("1:2:3:4:5:6:7:8:9"));
  EXPECT_EQ(a, zuIPAddress());
  EXPECT_EQ(zuIPAddress("10.0.0.1"), ip4(10, 0, 0, 1));
  EXPECT_EQ(zuIPAddress(std::string("::1")), ip("::1"));
}

TEST(zuIPAddressText, IPv4PrefixTexts) {
  struct Case {
    const char* text;
    bool valid;
    u32 prefix;
    const char* normalized;
  };
  const Case cases[] = {
      {"10.1/16", true, 16, "10.1.0.0/16"},
      {"10.1.2.3", true, 32, "10.1.2.3"},
      {"10.1.2.3/32", true, 32, "10.1.2.3"},
      {"192.168.001.1", true, 32, "192.168.1.1"},
      {"10/8", true, 8, "10.0.0.0/8"},
      {"10.1/24", true, 24, "10.1.255.0/24"},
      {"10.1.2.3/0", true, 0, "0.0.0.0/0"},
      {"010.1/16", true, 16, "10.1.0.0/16"},
      {"10.1/33", false, 0, ""},
      {"10.1/", false, 0, ""},
      {"10.1/x", false, 0, ""},
      {"10.1.2.3.4/8", false, 0, ""},
      {"10.1./8", false, 0, ""},
      {"/8", false, 0, ""},
      {"10.1", false, 0, ""},
      {"10.1.*/16", false, 0, ""},
      {"10.1.2.*", false, 0, ""},
      {"256.1.1.1", false, 0, ""},
      {"4.3.2.1.in-addr.arpa.", false, 0, ""},
      {"in-addr.arpa./8", false, 0, ""},
      {"", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    u32 prefix = 99;
    EXPECT_EQ(zuIsValidIPv4PrefixText(c.text, &prefix), c.valid);
    std::string text = c.text;
    EXPECT_EQ(zuNormalizeIPv4PrefixText(text), c.valid);
    if (c.valid) {
      EXPECT_EQ(prefix, c.prefix);
      EXPECT_EQ(text, c.normalized);
    } else {
      EXPECT_EQ(text, c.text);
    }
  }
}

TEST(zuIPAddressText, IPv4RangeTexts) {
  struct Case {
    const char* text;
    bool ok;
    const char* first;
    const char* last;
    u16 prefix;
  };
  const Case cases[] = {
      {"10.1.2.3/24", true, "10.1.2.0", "10.1.2.255", 24},
      {"10.1.2.3/255.255.255.0", true, "10.1.2.0", "10.1.2.255", 24},
      {"10.1.2.3/ 255.255.0.0 ", true, "10.1.0.0", "10.1.255.255", 16},
      {"10/255.0.0.0", true, "10.0.0.0", "10.255.255.255", 8},
      {"10.1.2.3/0.0.0.0", false, "", "", 0},
      {"10.1.2.3/255.255.255.256", false, "", "", 0},
      {"10.1.2.3/33", false, "", "", 0},
      {"10.1.2.3/0", true, "0.0.0.0", "255.255.255.255", 0},
      {"10.0.0.0-10.0.0.255", true, "10.0.0.0", "10.0.0.255", 24},
      {"10.0.0.1-10.0.0.255", true, "10.0.0.1", "10.0.0.255", 33},
      {"10.0.0.4-10.0.0.4", true, "10.0.0.4", "10.0.0.4", 32},
      {"10.0.0.4", true, "10.0.0.4", "10.0.0.4", 32},
      {"10.0.0.4-10.0.0.3", false, "", "", 0},
      {"junk", false, "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    u32 first = 0;
    u32 last = 0;
    u16 prefix = 99;
    ASSERT_EQ(zuParseIPv4RangeText(c.text, &first, &last, &prefix), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(zuIPv4Address(first).toString(), c.first);
    EXPECT_EQ(zuIPv4Address(last).toString(), c.last);
    EXPECT_EQ(prefix, c.prefix);
  }
}

TEST(zuIPAddressText, IPRangeTexts) {
  struct Case {
    const char* text;
    bool ok;
    zuIPAddress first;
    zuIPAddress last;
    u16 prefix;
  };
  const Case cases[] = {
      {"10.1.2.3/24", true, ip4(10, 1, 2, 0), ip4(10, 1, 2, 255), 24},
      {"10.1.2.3", true, ip4(10, 1, 2, 3), ip4(10, 1, 2, 3), 32},
      {"2001:db8::/32", true, ip("2001:db8::"), ip("2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"), 32},
      {"2001:db8::5/ 126", true, ip("2001:db8::4"), ip("2001:db8::7"), 126},
      {"::/0", true, ip("::"), ip("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), 0},
      {"2001:db8::/129", false, {}, {}, 0},
      {"2001:db8::/x", false, {}, {}, 0},
      {"2001:db8::1 - 2001:db8::9", true, ip("2001:db8::1"), ip("2001:db8::9"), 129},
      {"2001:db8::-2001:db8::1", true, ip("2001:db8::"), ip("2001:db8::1"), 127},
      {"2001:db8::9-2001:db8::1", false, {}, {}, 0},
      {"0::0-::5", true, ip("::"), ip("::5"), 129},
      // Every all-zero text that parses counts, including our own "::0".
      {"::0-::5", true, ip("::"), ip("::5"), 129},
      {"::-::5", true, ip("::"), ip("::5"), 129},
      {"junk-::5", false, {}, {}, 0},
      {"2001:db8::1", true, ip("2001:db8::1"), ip("2001:db8::1"), 128},
      {"::0", true, ip("::"), ip("::"), 128},
      {"::", true, ip("::"), ip("::"), 128},
      {"1:2:3:4:5:6:7:8:9", false, {}, {}, 0},
      {"1::2::3", false, {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    zuIPAddress first;
    zuIPAddress last;
    u16 prefix = 99;
    ASSERT_EQ(zuParseIPRangeText(c.text, &first, &last, &prefix), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(last, c.last);
    EXPECT_EQ(prefix, c.prefix);
  }
}

TEST(zuIPAddressText, RangesToText) {
  struct Case {
    zuIPAddress first;
    zuIPAddress last;
    bool block;
    const char* text;
  };
  const Case cases[] = {
      {ip4(10, 0, 0, 0), ip4(10, 0, 0, 255), true, "10.0.0.0/24"},
      {ip4(10, 0, 0, 1), ip4(10, 0, 0, 255), false, "10.0.0.1-10.0.0.255"},
      {ip4(10, 0, 0, 1), ip4(10, 0, 0, 1), true, "10.0.0.1/32"},
      {ip4(0, 0, 0, 0), ip4(255, 255, 255, 255), true, "0.0.0.0/0"},
      {ip("2001:db8::"), ip("2001:db8::ffff:ffff:ffff:ffff"), true, "2001:db8::0/64"},
      {ip("2001:db8::1"), ip("2001:db8::1"), true, "2001:db8::1/128"},
      {ip("::"), ip("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), true, "::0/0"},
      {ip("::"), ip("::5"), false, "::0-::5"},
      {ip("2001:db8::1"), ip("2001:db8::9"), false, "2001:db8::1-2001:db8::9"},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(zuIPRangeToText(c.first, c.last, text), c.block) << c.text;
    EXPECT_EQ(text, c.text);
  }
  EXPECT_EQ(zuCidrText(ip("fe80::1"), 64), "fe80::1/64");
  std::string text;
  EXPECT_FALSE(zuIPv4RangeToText(zuIPv4Address(10, 0, 0, 9), zuIPv4Address(10, 0, 0, 1), text));
  EXPECT_EQ(text, "10.0.0.9-10.0.0.1");
}

// What the range writer produces, the range reader must take back unchanged.
TEST(zuIPAddressText, RangeTextsReadBackWhatTheyWrite) {
  std::mt19937 gen(5);
  auto rng = [&gen] { return static_cast<u32>(gen()); };
  for (int i = 0; i < 5000; ++i) {
    u8 bytes[16] = {};
    for (int b = 0; b < 16; ++b) bytes[b] = rng() % 3 == 0 ? 0 : static_cast<u8>(rng());
    zuIPAddress a(bytes);
    if (i % 4 == 0) a = zuIPAddress(zuIPv4Address::fromHostValue(rng()));
    const bool v4 = a.isIPv4();
    const u16 prefix = static_cast<u16>(rng() % (v4 ? 33 : 129));
    zuIPAddress first;
    zuIPAddress last;
    if (v4) {
      first = zuIPAddress(zuIPv4Address::network(a.toIPv4(), prefix));
      last = zuIPAddress(zuIPv4Address::broadcast(a.toIPv4(), prefix));
    } else {
      first = zuIPAddress::network(a, prefix);
      last = zuIPAddress::lastAddress(a, prefix);
    }
    if (i % 2 == 0) first = a;  // mostly not a block
    std::string text;
    zuIPRangeToText(first, last, text);
    zuIPAddress readFirst;
    zuIPAddress readLast;
    ASSERT_TRUE(zuParseIPRangeText(text, &readFirst, &readLast, nullptr)) << text;
    ASSERT_EQ(readFirst, first) << text;
    ASSERT_EQ(readLast, last) << text;
  }
}

TEST(zuIPAddressText, ANulInsideAStringIsNoAddress) {
  const std::string nul("\0", 1);
  zuIPAddress a;
  EXPECT_FALSE(a.fromString("::1" + nul + "junk"));
  u32 first = 0;
  u32 last = 0;
  u32 prefix = 0;
  EXPECT_FALSE(zuIPv4Address::parseRange("10.0.0.0/8" + nul + "x", &first, &last));
  EXPECT_FALSE(zuParseIPv4RangeText("10.0.0.0/8" + nul, &first, &last, nullptr));
  EXPECT_FALSE(zuIsValidIPv4PrefixText("10.1/16" + nul, &prefix));
  EXPECT_FALSE(zuParseIPRangeText("::/0" + nul, nullptr, nullptr, nullptr));
}

}  // namespace
