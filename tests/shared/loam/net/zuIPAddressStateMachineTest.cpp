// The IPv4 text validator on the byte state machine.
#include <gtest/gtest.h>

#include <string>

#include "loam/net/zuIPAddressStateMachine.h"

namespace {

const u8* bytesOf(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }
u32 sizeOf(const std::string& s) { return static_cast<u32>(s.size()); }

bool accepts(const std::string& text, bool wildcard) {
  zuIPAddressStateMachine m(0, wildcard);
  return m.feed(bytesOf(text), sizeOf(text));
}

TEST(zuIPAddressStateMachine, AcceptsFullAddressesAndWildcardsOnlyWithTheFlag) {
  struct Case {
    const char* text;
    bool plain;
    bool wildcard;
  };
  const Case cases[] = {
      {"1.2.3.4", true, true},
      {"255.255.255.255", true, true},
      {"0.0.0.0", true, true},
      // Leading zeros pass here, unlike the parser.
      {"192.168.001.1", true, true},
      {"01.012.0.00", true, true},
      {"256.1.1.1", false, false},
      {"260.1.1.1", false, false},
      {"1.2.3.1000", false, false},
      {"399.1.1.1", false, false},
      {"1.2.3", false, false},
      {"1.2.3.4.5", false, false},
      {"1.2.3.4.", false, false},
      {"1..3.4", false, false},
      {".1.2.3", false, false},
      {"1.2.3.i", false, false},
      {"10.1.*", false, true},
      {"10.*", false, true},
      {"*", false, true},
      {"1.2.3.*", false, true},
      {"1.2.3.4.*", false, false},
      {"10.1.*.1", false, false},
      {"10.1*", false, false},
      {"4.3.2.1.in-addr.arpa.", false, false},
      {"4.3.2.1.in-addr.arpa", false, false},
      {"1.2.3.4 ", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(accepts(c.text, false), c.plain) << c.text;
    EXPECT_EQ(accepts(c.text, true), c.wildcard) << c.text << " (wildcard)";
  }
}

// Every digit string of up to four digits in every octet place: an octet is
// one to three digits worth at most 255, leading zeros included.
TEST(zuIPAddressStateMachine, OctetsAreUpToThreeDigitsWorthAtMost255) {
  for (u32 length = 1; length <= 4; ++length) {
    u32 count = 1;
    for (u32 i = 0; i < length; ++i) count *= 10;
    for (u32 v = 0; v < count; ++v) {
      std::string octet = std::to_string(v);
      octet.insert(0, length - octet.size(), '0');
      const bool valid = length <= 3 && v <= 255;
      for (u32 place = 0; place < 4; ++place) {
        std::string text;
        for (u32 k = 0; k < 4; ++k) text += (k != 0 ? "." : "") + (k == place ? octet : "7");
        ASSERT_EQ(accepts(text, false), valid) << text;
        ASSERT_EQ(accepts(text, true), valid) << text;
      }
      zuIPAddressStateMachine partial;
      partial.feed(bytesOf(octet), sizeOf(octet));
      ASSERT_EQ(partial.isPartialAddress(), valid) << octet;
    }
  }
}

TEST(zuIPAddressStateMachine, PartialAddresses) {
  struct Case {
    const char* text;
    bool partial;
  };
  const Case cases[] = {
      {"10", true},    {"10.1", true},  {"10.1.2", true},         {"10.1.2.3", true},
      {"010.1", true}, {"10.", false},  {"10.1.2.3.4", false},    {"", false},
      {"300", false},  {"10.*", false}, {"in-addr.arpa.", false},
  };
  for (const Case& c : cases) {
    const std::string text = c.text;
    zuIPAddressStateMachine m;
    m.feed(bytesOf(text), sizeOf(text));
    EXPECT_EQ(m.isPartialAddress(), c.partial) << c.text;
  }
  zuIPAddressStateMachine wild(0, true);
  const std::string w = "10.*";
  wild.feed(bytesOf(w), sizeOf(w));
  EXPECT_TRUE(wild.isPartialAddress());
}

TEST(zuIPAddressStateMachine, FormQueriesLookAtTheFinalState) {
  const std::string reverse = "4.3.2.1.in-addr.arpa.";
  const std::string wildcard = "10.1.*";
  EXPECT_TRUE(zuIPAddressStateMachine().isReverseForm(bytesOf(reverse), sizeOf(reverse)));
  EXPECT_FALSE(zuIPAddressStateMachine().isReverseForm(bytesOf(wildcard), sizeOf(wildcard)));
  EXPECT_TRUE(zuIPAddressStateMachine().isWildcardForm(bytesOf(wildcard), sizeOf(wildcard)));
  EXPECT_FALSE(zuIPAddressStateMachine().isWildcardForm(bytesOf(reverse), sizeOf(reverse)));
  const std::string capitals = "4.3.2.1.IN-ADDR.ARPA.";
  EXPECT_FALSE(zuIPAddressStateMachine().isReverseForm(bytesOf(capitals), sizeOf(capitals)));
}

TEST(zuIPAddressStateMachine, CountsDotsAndBytesUpToTheRejectingOne) {
  zuIPAddressStateMachine m;
  const std::string text = "1.2.x.4";
  EXPECT_FALSE(m.feed(bytesOf(text), sizeOf(text)));
  EXPECT_EQ(m.charCount(), 5u);  // the rejecting 'x' is counted
  EXPECT_EQ(m.dotCount(), 2u);
  EXPECT_FALSE(m.step('4'));
  EXPECT_EQ(m.charCount(), 5u);
}

}  // namespace
