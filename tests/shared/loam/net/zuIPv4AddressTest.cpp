// IPv4 address values: octets, arithmetic, text forms, the table-driven parser
// (checked against glibc's inet_pton) and range texts.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "loam/net/zuIPv4Address.h"

namespace {

zuIPv4Address v4(const char* text) {
  zuIPv4Address a;
  EXPECT_TRUE(a.parse(text, static_cast<u32>(std::strlen(text)))) << text;
  return a;
}

bool parses(const std::string& text, zuIPv4Address* out = nullptr) {
  zuIPv4Address a(9, 9, 9, 9);
  const bool ok = a.parse(text.data(), static_cast<u32>(text.size()));
  if (!ok) {
    EXPECT_TRUE(a.isZero()) << "a failed parse must leave 0: " << text;
  }
  if (out != nullptr) *out = a;
  return ok;
}

TEST(zuIPv4Address, NetworkOrderValueMatchesInAddr) {
  in_addr in{};
  ASSERT_EQ(inet_pton(AF_INET, "192.0.2.1", &in), 1);
  const zuIPv4Address a(in.s_addr);
  EXPECT_EQ(a.octet(1), 192);
  EXPECT_EQ(a.octet(4), 1);
  EXPECT_EQ(a.value(), in.s_addr);
  EXPECT_EQ(a.hostValue(), 0xC0000201u);
  EXPECT_EQ(zuIPv4Address::fromHostValue(0xC0000201u), a);
  EXPECT_EQ(zuIPv4Address(std::string("192.0.2.1")), a);
  EXPECT_TRUE(zuIPv4Address("192.0.2.01").isZero());
}

TEST(zuIPv4Address, OctetIndexOutsideOneToFourWraps) {
  zuIPv4Address a(1, 2, 3, 4);
  EXPECT_EQ(a.octet(0), 4);
  EXPECT_EQ(a.octet(5), 1);
  EXPECT_EQ(a.octet(0xFFFFFFFFu), 3);
  a.setOctet(6, 20);  // ((6 - 1) mod 4) + 1 = 2
  a.setOctet(0, 40);
  EXPECT_EQ(a, zuIPv4Address(1, 20, 3, 40));
}

TEST(zuIPv4Address, LoopbackIsOnlyTheOneAddress) {
  EXPECT_TRUE(zuIPv4Address(127, 0, 0, 1).isLoopback());
  EXPECT_FALSE(zuIPv4Address(127, 0, 0, 2).isLoopback());
  EXPECT_FALSE(zuIPv4Address(1, 0, 0, 127).isLoopback());
}

TEST(zuIPv4Address, CompareTakesTheFirstOctetAsMostSignificant) {
  EXPECT_GT(zuIPv4Address::compare(zuIPv4Address(2, 0, 0, 0), zuIPv4Address(1, 255, 255, 255)), 0);
  EXPECT_LT(zuIPv4Address::compare(zuIPv4Address(10, 0, 0, 1), zuIPv4Address(10, 0, 1, 0)), 0);
  EXPECT_EQ(zuIPv4Address::compare(zuIPv4Address(10, 0, 0, 1), zuIPv4Address(10, 0, 0, 1)), 0);
  EXPECT_TRUE(zuIPv4Address(128, 0, 0, 0) > zuIPv4Address(127, 255, 255, 255));
  EXPECT_FALSE(zuIPv4Address(1, 1, 1, 1) > zuIPv4Address(1, 1, 1, 1));
  EXPECT_LT(zuCompareAddress(zuIPv4Address(9, 0, 0, 0), zuIPv4Address(10, 0, 0, 0)), 0);
}

TEST(zuIPv4Address, TextAndReverseNames) {
  const zuIPv4Address a(10, 1, 2, 3);
  EXPECT_EQ(a.toString(), "10.1.2.3");
  EXPECT_EQ(a.reverseName(), "3.2.1.10.in-addr.arpa.");
  EXPECT_EQ(a.reverseZoneName(), "2.1.10.in-addr.arpa.");
  EXPECT_EQ(zuIPv4Address(255, 0, 100, 9).toString(), "255.0.100.9");
}

TEST(zuIPv4Address, NetworkBroadcastAndMasks) {
  struct Case {
    const char* address;
    u16 prefix;
    const char* network;
    const char* broadcast;
    const char* mask;
  };
  const Case cases[] = {
      {"10.1.2.3", 0, "0.0.0.0", "255.255.255.255", "0.0.0.0"},
      {"10.1.2.3", 1, "0.0.0.0", "127.255.255.255", "128.0.0.0"},
      {"200.1.2.3", 1, "128.0.0.0", "255.255.255.255", "128.0.0.0"},
      {"10.1.2.3", 8, "10.0.0.0", "10.255.255.255", "255.0.0.0"},
      {"10.1.2.3", 23, "10.1.2.0", "10.1.3.255", "255.255.254.0"},
      {"10.1.2.3", 31, "10.1.2.2", "10.1.2.3", "255.255.255.254"},
      {"10.1.2.3", 32, "10.1.2.3", "10.1.2.3", "255.255.255.255"},
      {"10.1.2.3", 33, "10.1.2.3", "10.1.2.3", "255.255.255.255"},
      {"10.1.2.3", 65535, "10.1.2.3", "10.1.2.3", "255.255.255.255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + "/" + std::to_string(c.prefix));
    const zuIPv4Address a = v4(c.address);
    EXPECT_EQ(zuIPv4Address::network(a, c.prefix).toString(), c.network);
    EXPECT_EQ(zuIPv4Address::broadcast(a, c.prefix).toString(), c.broadcast);
    EXPECT_EQ(zuIPv4Address::maskFromPrefix(c.prefix).toString(), c.mask);
  }
}

TEST(zuIPv4Address, MaskPrefixLengthCountsTrailingZeros) {
  EXPECT_EQ(zuIPv4Address::maskPrefixLength(v4("0.0.0.0")), 0);
  EXPECT_EQ(zuIPv4Address::maskPrefixLength(v4("128.0.0.0")), 1);
  EXPECT_EQ(zuIPv4Address::maskPrefixLength(v4("255.255.255.0")), 24);
  EXPECT_EQ(zuIPv4Address::maskPrefixLength(v4("255.255.255.255")), 32);
  // Not checked for contiguity: only the lowest one bit matters.
  EXPECT_EQ(zuIPv4Address::maskPrefixLength(v4("0.0.1.0")), 24);
}

TEST(zuIPv4Address, RangePrefixLength) {
  struct Case {
    const char* first;
    const char* last;
    u16 prefix;
  };
  const Case cases[] = {
      {"10.0.0.0", "10.0.0.255", 24},    {"10.0.0.1", "10.0.0.255", 33},
      {"10.0.0.0", "10.0.0.254", 33},    {"10.0.0.7", "10.0.0.7", 32},
      {"0.0.0.0", "255.255.255.255", 0}, {"128.0.0.0", "255.255.255.255", 1},
      {"10.0.0.0", "10.0.1.255", 23},    {"10.0.1.0", "10.0.2.255", 33},
      {"10.0.0.255", "10.0.0.0", 33},    {"10.0.0.2", "10.0.0.3", 31},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuIPv4Address::rangePrefixLength(v4(c.first), v4(c.last)), c.prefix)
        << c.first << " - " << c.last;
  }
}

TEST(zuIPv4Address, ParseEdgeCases) {
  zuIPv4Address a;
  EXPECT_FALSE(parses("192.168.001.1"));
  EXPECT_FALSE(parses("256.1.1.1"));
  EXPECT_FALSE(parses("1.2.3"));
  EXPECT_FALSE(parses(""));
  EXPECT_FALSE(parses("1.2.3.4."));
  EXPECT_FALSE(parses("1.2.3.4.5"));
  EXPECT_TRUE(parses("0.0.0.0", &a));
  EXPECT_TRUE(a.isZero());
  EXPECT_TRUE(parses("255.249.200.10", &a));
  EXPECT_EQ(a, zuIPv4Address(255, 249, 200, 10));
  // The reverse-lookup form is read back in the forward order.
  EXPECT_TRUE(parses("4.3.2.1.in-addr.arpa.", &a));
  EXPECT_EQ(a, zuIPv4Address(1, 2, 3, 4));
  EXPECT_FALSE(parses("4.3.2.1.IN-ADDR.ARPA."));
  EXPECT_FALSE(parses("4.3.2.1.in-addr.arpa"));
  EXPECT_FALSE(parses("3.2.1.in-addr.arpa."));
  EXPECT_FALSE(parses("5.4.3.2.1.in-addr.arpa."));
  EXPECT_FALSE(parses("4.3.2.01.in-addr.arpa."));
  EXPECT_FALSE(parses("4.3.2.1.in-addr.arpa.x"));
  EXPECT_FALSE(parses("in-addr.arpa."));
  // The length bounds the text: the byte after it is not read.
  EXPECT_TRUE(a.parse("1.2.3.45", 7));
  EXPECT_EQ(a, zuIPv4Address(1, 2, 3, 4));
}

TEST(zuIPv4Address, ReverseNameParsesBackToTheAddress) {
  std::mt19937 gen(7);
  auto rng = [&gen] { return static_cast<u32>(gen()); };
  for (int i = 0; i < 2000; ++i) {
    const zuIPv4Address a = zuIPv4Address::fromHostValue(rng());
    zuIPv4Address back;
    ASSERT_TRUE(parses(a.reverseName(), &back)) << a.reverseName();
    EXPECT_EQ(back, a);
    ASSERT_TRUE(parses(a.toString(), &back));
    EXPECT_EQ(back, a);
  }
}

// Every text must get the same answer, and on success the same bytes, as
// inet_pton(AF_INET); it refuses leading zeros just as the parser does.
void expectAgreesWithInetPton(const std::string& text) {
  in_addr in{};
  const bool theirs = inet_pton(AF_INET, text.c_str(), &in) == 1;
  zuIPv4Address a;
  const bool ours = parses(text, &a);
  ASSERT_EQ(ours, theirs) << '"' << text << '"';
  if (ours) {
    ASSERT_EQ(a.value(), in.s_addr) << text;
  }
}

TEST(zuIPv4Address, ParseAgreesWithInetPtonOnEveryShortText) {
  const char alphabet[] = {'0', '1', '2', '5', '6', '9', '.'};
  std::vector<std::string> level{""};
  for (int length = 1; length <= 7; ++length) {
    std::vector<std::string> next;
    next.reserve(level.size() * sizeof alphabet);
    for (const std::string& s : level) {
      for (char c : alphabet) next.push_back(s + c);
    }
    for (const std::string& s : next) expectAgreesWithInetPton(s);
    level.swap(next);
  }
}

TEST(zuIPv4Address, ParseAgreesWithInetPtonOnGeneratedQuads) {
  const char* const octets[] = {"0",   "00",  "01",  "1",   "9",   "10",   "99",  "100",
                                "109", "199", "200", "240", "249", "250",  "255", "256",
                                "259", "260", "299", "300", "999", "1000", "012", "0255"};
  const char* const junk[] = {" ", "-", "+", "x", ":", "/", "..", "\t", "a", "i"};
  std::mt19937 gen(2024);
  auto rng = [&gen] { return static_cast<u32>(gen()); };
  auto pick = [&rng](u32 n) { return static_cast<u32>(rng() % n); };
  for (int i = 0; i < 100000; ++i) {
    const u32 count = 2 + pick(4);  // 2 to 5 octets
    std::string text;
    for (u32 k = 0; k < count; ++k) {
      if (k != 0) text += '.';
      if (pick(3) == 0) {
        const u32 digits = 1 + pick(4);
        for (u32 d = 0; d < digits; ++d) text += static_cast<char>('0' + pick(10));
      } else {
        text += octets[pick(std::size(octets))];
      }
    }
    if (pick(8) == 0) text.insert(pick(static_cast<u32>(text.size()) + 1), junk[pick(10)]);
    expectAgreesWithInetPton(text);
  }
}

TEST(zuIPv4Address, ParseRangeForms) {
  struct Case {
    const char* text;
    bool ok;
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {"10.0.0.1-10.0.0.9", true, "10.0.0.1", "10.0.0.9"},
      {" 10.0.0.1 - 10.0.0.9 ", true, "10.0.0.1", "10.0.0.9"},
      {"10.0.0.9-10.0.0.1", false, "", ""},
      {"10.0.0.5-10.0.0.5", true, "10.0.0.5", "10.0.0.5"},
      {"0.0.0.0-1.2.3.4", true, "0.0.0.0", "1.2.3.4"},
      // A side that fails to parse is refused, never read as 0.0.0.0.
      {"010.0.0.1-10.0.0.5", false, "", ""},
      {"00.0.0.0-10.0.0.5", false, "", ""},
      {"junk-10.0.0.5", false, "", ""},
      {"10.0.0.1-", false, "", ""},
      {"10.1.2.3/24", true, "10.1.2.0", "10.1.2.255"},
      {"10/8", true, "10.0.0.0", "10.255.255.255"},
      {"172.16/12", true, "172.16.0.0", "172.31.255.255"},
      {"10.1.2.3/ 16 ", true, "10.1.0.0", "10.1.255.255"},
      {"10.1.2.3/0", true, "0.0.0.0", "255.255.255.255"},
      {"0/0", true, "0.0.0.0", "255.255.255.255"},
      {"10.1.2.3/32", true, "10.1.2.3", "10.1.2.3"},
      {"10.1.2.3/33", false, "", ""},
      {"10.1.2.3/x", false, "", ""},
      {"10.1.2.3/", false, "", ""},
      {"10.1.2.3/-1", false, "", ""},
      {"10.01/8", false, "", ""},
      {"10.1.2.3", true, "10.1.2.3", "10.1.2.3"},
      {"10.1.2", false, "", ""},
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    u32 first = 1;
    u32 last = 1;
    ASSERT_EQ(zuIPv4Address::parseRange(c.text, &first, &last), c.ok);
    if (c.ok) {
      EXPECT_EQ(zuIPv4Address(first).toString(), c.first);
      EXPECT_EQ(zuIPv4Address(last).toString(), c.last);
    }
  }
}

}  // namespace
