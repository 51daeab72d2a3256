// 16-byte address values: the IPv4 form, scope, the IPv6 text (its own
// compression rule, checked by inet_pton), reverse names (against Python's
// ipaddress) and prefix and range arithmetic.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "NetTestSupport.h"
#include "loam/net/zuIPAddress.h"
#include "loam/net/zuIPAddressText.h"

namespace {

#include "zuIPAddressReverseFixture.inc"

using tw::test::ip;

TEST(zuIPAddress, IPv4FormHoldsTheMappedLayout) {
  const zuIPAddress a(zuIPv4Address(192, 0, 2, 1));
  EXPECT_EQ(a, ip("::ffff:192.0.2.1"));
  EXPECT_TRUE(a.isIPv4());
  EXPECT_EQ(a.toIPv4(), zuIPv4Address(192, 0, 2, 1));
  EXPECT_EQ(a.toString(), "192.0.2.1");
  EXPECT_EQ(a.reverseName(), "1.2.0.192.in-addr.arpa.");
  EXPECT_FALSE(ip("::192.0.2.1").isIPv4());
  EXPECT_FALSE(ip("::fffe:192.0.2.1").isIPv4());
  EXPECT_FALSE(ip("1::ffff:192.0.2.1").isIPv4());
}

TEST(zuIPAddress, ValidLoopbackAndScope) {
  struct Case {
    const char* text;
    bool valid;
    bool loopback;
    u32 scope;
  };
  const Case cases[] = {
      {"::", false, false, 0},
      {"::ffff:0.0.0.0", false, false, 4},
      {"::1", true, true, 1},
      {"::ffff:127.0.0.1", true, true, 4},
      {"::ffff:10.0.0.1", true, false, 4},
      {"ff00::1", true, false, 2},
      {"ff02::1", true, false, 4},
      {"fe80::1", true, false, 3},
      {"fe80:0:0:1::", true, false, 3},
      {"fec0::1", true, false, 4},
      {"2001:db8::1", true, false, 4},
      {"::2", true, false, 4},
      {"::1:0:0", true, false, 4},
      {"::1.2.3.4", true, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const zuIPAddress a = ip(c.text);
    EXPECT_EQ(a.isValid(), c.valid);
    EXPECT_EQ(a.isLoopback(), c.loopback);
    EXPECT_EQ(a.scope(), c.scope);
  }
  EXPECT_FALSE(zuIPAddress().isValid());
}

TEST(zuIPAddress, TextCompressesTheRightmostZeroRunAndNeverTheLastGroup) {
  struct Case {
    const char* address;
    bool compress;
    bool suppress;
    const char* text;
  };
  const Case cases[] = {
      {"1::", true, true, "1::0"},
      {"::", true, true, "::0"},
      {"::1", true, true, "::1"},
      {"1:0:0:0:2:0:0:3", true, true, "1:0:0:0:2::3"},
      {"0:0:1:0:0:0:0:0", true, true, "0:0:1::0"},
      {"0:0:0:1:2:3:0:4", true, true, "::1:2:3:0:4"},
      {"1:0:2:0:3:0:4:0", true, true, "1:0:2:0:3:0:4:0"},
      {"1:2:3:4:5:6:0:0", true, true, "1:2:3:4:5:6:0:0"},
      {"1:2:3:4:5:0:0:0", true, true, "1:2:3:4:5::0"},
      {"1:2:3:4:5:0:0:6", true, true, "1:2:3:4:5::6"},
      {"0:0:1:2:3:4:5:6", true, true, "::1:2:3:4:5:6"},
      {"2001:db8::1", true, true, "2001:db8::1"},
      {"fe80::1:2", true, true, "fe80::1:2"},
      {"::ffff:192.0.2.1", true, true, "::ffff:c000:201"},
      {"2001:db8::1", false, true, "2001:db8:0:0:0:0:0:1"},
      {"2001:db8::1", false, false, "2001:0db8:0000:0000:0000:0000:0000:0001"},
      {"2001:db8::1", true, false, "2001:0db8::0001"},
      {"::", true, false, "::0000"},
      {"::", false, true, "0:0:0:0:0:0:0:0"},
      {"ABCD:EF01::", true, true, "abcd:ef01::0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ip(c.address).toIPv6Text(c.compress, c.suppress), c.text)
        << c.address << " compress=" << c.compress << " suppress=" << c.suppress;
  }
  EXPECT_EQ(ip("1::").toString(), "1::0");
  EXPECT_EQ(zuIPAddress().toString(), "::0");
}

TEST(zuIPAddress, EveryTextFormReadsBackThroughInetPton) {
  std::mt19937 gen(99);
  auto rng = [&gen] { return static_cast<u32>(gen()); };
  for (int i = 0; i < 20000; ++i) {
    u8 bytes[16];
    // Groups are zero half the time so that runs of every length and place occur.
    for (int g = 0; g < 8; ++g) {
      const u32 v = rng() % 2 == 0 ? 0u : (rng() % 3 == 0 ? rng() % 16 : rng() & 0xFFFF);
      bytes[2 * g] = static_cast<u8>(v >> 8);
      bytes[2 * g + 1] = static_cast<u8>(v);
    }
    const zuIPAddress a(bytes);
    for (int flags = 0; flags < 4; ++flags) {
      const std::string text = a.toIPv6Text((flags & 1) != 0, (flags & 2) != 0);
      u8 theirs[16] = {};
      ASSERT_EQ(inet_pton(AF_INET6, text.c_str(), theirs), 1) << text;
      ASSERT_EQ(std::memcmp(theirs, bytes, 16), 0) << text;
      u8 ours[16] = {};
      ASSERT_TRUE(zuParseIPv6Text(text.c_str(), ours)) << text;
      ASSERT_EQ(std::memcmp(ours, bytes, 16), 0) << text;
    }
  }
}

TEST(zuIPAddress, ReverseNamesMatchPythonIpaddress) {
  for (const auto& row : kReverse6) {
    EXPECT_EQ(ip(row[0]).reverseName(), std::string(row[1]) + ".") << row[0];
  }
  for (const auto& row : kReverse4) {
    in_addr in{};
    ASSERT_EQ(inet_pton(AF_INET, row[0], &in), 1);
    const zuIPv4Address a(in.s_addr);
    EXPECT_EQ(a.reverseName(), std::string(row[1]) + ".") << row[0];
    EXPECT_EQ(zuIPAddress(a).reverseName(), std::string(row[1]) + ".") << row[0];
  }
}

TEST(zuIPAddress, NetworkAndLastAddress) {
  struct Case {
    const char* address;
    u16 prefix;
    const char* network;
    const char* last;
  };
  const Case cases[] = {
      {"2001:db8:1:2:3:4:5:6", 0, "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2:3:4:5:6", 1, "::", "7fff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2:3:4:5:6", 32, "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2:3:4:5:6", 61, "2001:db8:1::", "2001:db8:1:7:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2:3:4:5:6", 64, "2001:db8:1:2::", "2001:db8:1:2:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2:3:4:5:6", 127, "2001:db8:1:2:3:4:5:6", "2001:db8:1:2:3:4:5:7"},
      {"2001:db8:1:2:3:4:5:6", 128, "2001:db8:1:2:3:4:5:6", "2001:db8:1:2:3:4:5:6"},
      {"2001:db8:1:2:3:4:5:6", 200, "2001:db8:1:2:3:4:5:6", "2001:db8:1:2:3:4:5:6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + "/" + std::to_string(c.prefix));
    EXPECT_EQ(zuIPAddress::network(ip(c.address), c.prefix), ip(c.network));
    EXPECT_EQ(zuIPAddress::lastAddress(ip(c.address), c.prefix), ip(c.last));
  }
}

TEST(zuIPAddress, RangePrefixLength) {
  struct Case {
    const char* first;
    const char* last;
    u16 prefix;
  };
  const Case cases[] = {
      {"2001:db8::1", "2001:db8::1", 128},
      {"2001:db8::", "2001:db8::1", 127},
      {"2001:db8::", "2001:db8::ffff:ffff:ffff:ffff", 64},
      {"::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 0},
      {"8000::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 1},
      {"2001:db8::1", "2001:db8::ffff:ffff:ffff:ffff", 129},
      {"2001:db8::", "2001:db8::ffff:ffff:ffff:fffe", 129},
      {"2001:db8::1", "2001:db8::", 129},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuIPAddress::rangePrefixLength(ip(c.first), ip(c.last)), c.prefix)
        << c.first << " - " << c.last;
  }
}

TEST(zuIPAddress, RangeSizesSaturateInsteadOfWrapping) {
  constexpr u64 kAll = std::numeric_limits<u64>::max();
  struct Case {
    const char* first;
    const char* last;
    u64 size;
    u64 prefixes;
  };
  const Case cases[] = {
      {"2001:db8::1", "2001:db8::1", 1, 1},
      {"2001:db8::1", "2001:db8::100", 256, 1},
      {"2001:db8::100", "2001:db8::1", 0, 1},
      // A whole /64 holds 2^64 addresses: too many to count, never 0.
      {"2001:db8::", "2001:db8::ffff:ffff:ffff:ffff", kAll, 1},
      {"2001:db8::1", "2001:db8::ffff:ffff:ffff:ffff", kAll, 1},
      {"2001:db8::", "2001:db8:0:1::", kAll, 2},
      {"2001:db8:0:5::", "2001:db8:0:1::", kAll, 0},
      {"::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", kAll, kAll},
      {"::", "0:0:0:ffff::", kAll, 0x10000},
      {"::1:0:0:0:0", "::ffff:ffff:ffff:ffff:ffff", kAll, 0xFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " - " + c.last);
    EXPECT_EQ(zuIPAddress::rangeSize(ip(c.first), ip(c.last)), c.size);
    EXPECT_EQ(zuIPAddress::prefix64RangeSize(ip(c.first), ip(c.last)), c.prefixes);
  }
}

}  // namespace
