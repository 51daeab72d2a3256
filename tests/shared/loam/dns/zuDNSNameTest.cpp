// DNS name utilities: validity, labels, wire label form, suffixes, mailboxes,
// time-span text and the SOA serial rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "loam/base/zuDate.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuDNSName.h"

namespace {

TEST(zuIsValidDNSName, StrictWithUnderscore) {
  EXPECT_TRUE(zuIsValidDNSName("a-b.c."));
  EXPECT_TRUE(zuIsValidDNSName("*.b.c"));
  EXPECT_TRUE(zuIsValidDNSName("a_b"));
  EXPECT_FALSE(zuIsValidDNSName("a-.c"));
  EXPECT_FALSE(zuIsValidDNSName("-a"));
  EXPECT_FALSE(zuIsValidDNSName("a*.b"));
  EXPECT_FALSE(zuIsValidDNSName("a..b"));
  EXPECT_FALSE(zuIsValidDNSName("a b"));
  EXPECT_FALSE(zuIsValidDNSName(""));
  EXPECT_FALSE(zuIsValidDNSName(nullptr));
  // No length limit at this level.
  EXPECT_TRUE(zuIsValidDNSName(std::string(300, 'a').c_str()));
}

TEST(zuIsPrintableDNSText, VisibleAsciiOnlyAndNotEmpty) {
  EXPECT_TRUE(zuIsPrintableDNSText("!~abc"));
  EXPECT_FALSE(zuIsPrintableDNSText(""));
  EXPECT_FALSE(zuIsPrintableDNSText(nullptr));
  EXPECT_FALSE(zuIsPrintableDNSText("a b"));
  EXPECT_FALSE(zuIsPrintableDNSText("a\x7f"));  // DEL is a control byte
  EXPECT_FALSE(zuIsPrintableDNSText("a\x80"));
  EXPECT_FALSE(zuIsPrintableDNSText("a\t"));
  // The foundation's check is another rule: the blank and the empty text pass.
  EXPECT_TRUE(zuIsPrintableText("a b"));
  EXPECT_TRUE(zuIsPrintableText(""));
}

TEST(zuCountLabels, RootCounts) {
  EXPECT_EQ(zuCountLabels(""), 0u);
  EXPECT_EQ(zuCountLabels(nullptr), 0u);
  EXPECT_EQ(zuCountLabels("."), 1u);
  EXPECT_EQ(zuCountLabels("b.c"), 2u);
  EXPECT_EQ(zuCountLabels("a.b.c."), 4u);
}

TEST(zuNthToken, PiecesAndBufferSizes) {
  EXPECT_EQ(zuNthToken("a,bc,,d", 0, ','), "a");
  EXPECT_EQ(zuNthToken("a,bc,,d", 1, ','), "bc");
  EXPECT_EQ(zuNthToken("a,bc,,d", 2, ','), "");
  EXPECT_EQ(zuNthToken("a,bc,,d", 3, ','), "d");
  EXPECT_EQ(zuNthToken("a,bc,,d", 4, ','), "");
  char out[3];
  EXPECT_EQ(zuNthToken("a,bc", 1, out, sizeof out, ','), out);
  EXPECT_STREQ(out, "bc");
  // "bcd" and its NUL need 4 bytes: refused, nothing written past the buffer.
  char small[4] = {'x', 'x', 'x', 'G'};
  EXPECT_EQ(zuNthToken("a,bcd", 1, small, 3, ','), nullptr);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(small[3], 'G');
  EXPECT_EQ(zuNthToken("a", 0, small, 0, ','), nullptr);
}

TEST(zuLastLabels, RootCountsAsOneLabel) {
  struct Case {
    const char* name;
    u32 n;
    const char* expected;
  };
  const Case cases[] = {
      {"b.c.", 0, ""},
      {"b.c.", 1, "."},
      {"b.c.", 2, "c."},
      {"b.c.", 3, "b.c."},
      {"b.c.", 9, "b.c."},
      {"a.b.c.", 3, "b.c."},
      {"www.example.com", 1, "com"},
      {"www.example.com", 2, "example.com"},
      {"www.example.com", 3, "www.example.com"},
      {".", 1, "."},
      {"", 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuLastLabels(std::string(c.name), c.n), c.expected) << c.name << " " << c.n;
    char out[32];
    EXPECT_EQ(zuLastLabels(c.name, c.n, out, sizeof out), out);
    EXPECT_STREQ(out, c.expected);
  }
  char tiny[2];
  EXPECT_EQ(zuLastLabels("b.c.", 2, tiny, sizeof tiny), nullptr);
}

TEST(zuCommonSuffixLabels, Table) {
  struct Case {
    const char* a;
    const char* b;
    u32 shared;
  };
  const Case cases[] = {
      {"www.example.com.", "mail.example.com.", 3},
      {"www.example.com.", "WWW.EXAMPLE.COM.", 4},
      {"example.com.", "www.example.com.", 3},
      {"www.example.com.", "example.com.", 3},
      {"example.com.", "wwwexample.com.", 2},
      {"a.com.", "b.com.", 2},
      {"ab.com.", "b.com.", 2},
      {"ab.", "cb.", 1},
      {"m.", "com.", 1},
      {".", "x.", 1},
      {".", ".", 1},
      {"a.", "a", 0},
      {"a", "b", 0},
      {"com", "x.com", 1},
      {"", "x.", 0},
      {"", "", 0},
      {nullptr, "a", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuCommonSuffixLabels(c.a, c.b), c.shared) << (c.a ? c.a : "null") << " / " << c.b;
    EXPECT_EQ(zuCommonSuffixLabels(c.b, c.a), c.shared) << c.b << " / " << (c.a ? c.a : "null");
  }
}

std::string wire(std::initializer_list<std::string> labels) {
  std::string out;
  for (const std::string& l : labels) {
    out += static_cast<char>(l.size());
    out += l;
  }
  out += '\0';
  return out;
}

TEST(zuLabelForms, RoundTripAndLimits) {
  const std::string labels = wire({"a", "bc", "d"});
  EXPECT_EQ(zuLabelsToDotted(labels), "a.bc.d.");
  EXPECT_EQ(zuDottedToLabels("a.bc.d."), labels);
  EXPECT_EQ(zuDottedToLabels("a.bc.d"), labels);
  EXPECT_EQ(zuDottedToLabels("a"), wire({"a"}));
  EXPECT_EQ(zuDottedToLabels("."), std::string(1, '\0'));
  EXPECT_EQ(zuLabelsToDotted(std::string(1, '\0')), ".");

  const std::string l63(63, 'x');
  const std::string l64(64, 'x');
  EXPECT_EQ(zuDottedToLabels(l63 + ".com."), wire({l63, "com"}));
  EXPECT_EQ(zuDottedToLabels(l64 + ".com."), "");
  EXPECT_EQ(zuLabelsToDotted(wire({l64, "com"})), "");
  // 255 bytes in label form pass, 256 do not.
  std::string name253 = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'y') + ".";
  ASSERT_EQ(zuDottedToLabels(name253).size(), 255u);
  EXPECT_EQ(zuLabelsToDotted(zuDottedToLabels(name253)), name253);
  std::string name254 = l63 + "." + l63 + "." + l63 + "." + std::string(62, 'y') + ".";
  EXPECT_EQ(zuDottedToLabels(name254), "");
  std::string wire256 = wire({l63, l63, l63, std::string(62, 'y')});
  ASSERT_EQ(wire256.size(), 256u);
  EXPECT_EQ(zuLabelsToDotted(wire256), "");

  for (const char* bad : {"a..b", ".a", "a.b..", ".."}) {
    EXPECT_EQ(zuDottedToLabels(bad), "") << bad;
  }
}

TEST(zuLabelForms, LengthBytesAreNeverTrustedPastTheEnd) {
  const std::string cases[] = {
      std::string("\x05"
                  "ab",
                  3),  // label runs past the end
      std::string("\x01"
                  "a",
                  2),  // no zero length
      std::string(),   // nothing
      std::string("\x02"
                  "a\0"
                  "\0",
                  4),  // NUL inside a label
      std::string("\x40", 1) + std::string(64, 'x') + std::string(1, '\0'),
  };
  for (const std::string& c : cases) {
    EXPECT_EQ(zuLabelsToDotted(c), "") << c.size();
    std::string buffer = c;
    buffer.resize(buffer.size() + 8, 'z');  // room that the data's size does not grant
    EXPECT_EQ(zuLabelsToDotted(buffer.data(), static_cast<u32>(c.size())), nullptr);
    EXPECT_EQ(buffer.substr(0, c.size()), c);
  }
}

TEST(zuLabelForms, InPlaceConversionsRespectTheBufferSize) {
  char absolute[] = "a.bc.d.";  // 8 bytes: the label form fits exactly
  ASSERT_EQ(zuDottedToLabels(absolute, sizeof absolute), absolute);
  EXPECT_EQ(std::string(absolute, sizeof absolute), wire({"a", "bc", "d"}));
  ASSERT_EQ(zuLabelsToDotted(absolute, sizeof absolute), absolute);
  EXPECT_STREQ(absolute, "a.bc.d.");

  // A relative name needs one byte more than its text and NUL.
  char relative[6] = "a.bc";
  EXPECT_EQ(zuDottedToLabels(relative, 5), nullptr);
  EXPECT_STREQ(relative, "a.bc");
  EXPECT_EQ(zuDottedToLabels(relative, 6), relative);
  EXPECT_EQ(std::string(relative, 6), wire({"a", "bc"}));

  // The root alone: "." and its NUL need two bytes.
  char root[2] = {'\0', 'q'};
  EXPECT_EQ(zuLabelsToDotted(root, 1), nullptr);
  EXPECT_EQ(zuLabelsToDotted(root, 2), root);
  EXPECT_STREQ(root, ".");

  char empty[1] = {'\0'};
  EXPECT_EQ(zuDottedToLabels(empty, 1), empty);
  char unterminated[3] = {'a', '.', 'b'};
  EXPECT_EQ(zuDottedToLabels(unterminated, 3), nullptr);
}

TEST(zuTimeSpanText, PartsAndPlurals) {
  EXPECT_EQ(zuTimeSpanText(0), "0 seconds");
  EXPECT_EQ(zuTimeSpanText(1), "1 second");
  EXPECT_EQ(zuTimeSpanText(60), "1 minute");
  EXPECT_EQ(zuTimeSpanText(3600 * 2 + 5), "2 hours, 5 seconds");
  EXPECT_EQ(zuTimeSpanText(86400 + 3600 + 60 + 1), "1 day, 1 hour, 1 minute, 1 second");
  EXPECT_EQ(zuTimeSpanText(0xFFFFFFFFu), "49710 days, 6 hours, 28 minutes, 15 seconds");
  char out[56];
  EXPECT_EQ(zuTimeSpanText(0xFFFFFFFFu, out, sizeof out), out);
  EXPECT_STREQ(out, "49710 days, 6 hours, 28 minutes, 15 seconds");
  char small[8];
  EXPECT_EQ(zuTimeSpanText(86400 * 2, small, sizeof small), small);  // "2 days" fits,
  EXPECT_EQ(zuTimeSpanText(90000, small, sizeof small), nullptr);    // "1 day, 1 hour" not
  EXPECT_STREQ(small, "");
}

TEST(zuNextSerial, WithAFixedToday) {
  const u32 t = 20240315;
  struct Case {
    u32 serial;
    u32 next;
  };
  const Case cases[] = {
      {0, t * 100 + 1},
      {5, 6},
      {t * 100, t * 100 + 1},
      {t * 100 + 7, t * 100 + 8},
      {t * 100 + 98, t * 100 + 99},
      {t * 100 + 99, t * 100 + 100},  // outside the date forms: the next number
      {2023123105, t * 100 + 1},      // an older date restarts at today
      {t, t * 100 + 1},               // an eight-digit date serial
      {19991231, t * 100 + 1},
      {19700100, 19700101},      // just below the date range
      {t + 1, t + 2},            // a date in the future is only a number
      {t * 10 + 3, t * 10 + 4},  // nine digits: one-digit count
      {200001015, t * 10 + 1},
      {t * 10 + 9, t * 10 + 10},
      {2099010101, 2099010102},  // tomorrow and later: counts on
      {0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuNextSerial(c.serial, t), c.next) << c.serial;
  }
}

TEST(zuNextSerial, TakesTheLocalDate) {
  const zuDate today(true);
  const u32 t = u32{today.year()} * 10000 + u32{today.month()} * 100 + today.day();
  const u32 next = zuNextSerial(0);
  // Midnight may pass between the two reads.
  EXPECT_TRUE(next == t * 100 + 1 || next == zuNextSerial(0, t + 1)) << next;
}

TEST(zuIsReverseZone, Suffixes) {
  EXPECT_TRUE(zuIsReverseZone("2.0.192.in-addr.arpa."));
  EXPECT_TRUE(zuIsReverseZone("8.B.D.0.1.0.0.2.IP6.ARPA."));
  EXPECT_FALSE(zuIsReverseZone("in-addr.arpa."));
  EXPECT_FALSE(zuIsReverseZone("2.0.192.in-addr.arpa"));
  EXPECT_FALSE(zuIsReverseZone("example.com."));
}

TEST(zuMailbox, LocalPartsAndForms) {
  EXPECT_TRUE(zuIsMailboxLocalPart("first last"));
  EXPECT_FALSE(zuIsMailboxLocalPart(""));
  EXPECT_FALSE(zuIsMailboxLocalPart("a@b"));
  EXPECT_FALSE(zuIsMailboxLocalPart("a\\b"));
  EXPECT_FALSE(zuIsMailboxLocalPart("a\tb"));
  EXPECT_FALSE(zuIsMailboxLocalPart("a\x7f"));

  struct Case {
    const char* text;
    bool dnsForm;
    bool refuseAt;
    bool valid;
  };
  const Case cases[] = {
      {"hostmaster@example.com", false, false, true},
      {"host master@example.com.", true, false, true},
      {"hostmaster@example.com", true, true, false},
      {"hostmaster@exa mple.com", true, false, false},
      {"host\\master@example.com", true, false, false},
      {"hostmaster.example.com.", true, false, true},
      {"hostmaster.example.com.", false, false, false},
      {"first\\.last.example.com.", true, false, true},
      {"first last.example.com.", true, false, true},
      {"first@last.example.com.", true, true, false},
      {"nodot", true, false, true},  // a one-label DNS name
      {"no dot", true, false, false},
      {"a b.", true, false, false},
      {"@example.com", true, false, false},
      {"", true, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuIsValidMailbox(c.text, c.dnsForm, c.refuseAt), c.valid)
        << c.text << " " << c.dnsForm << c.refuseAt;
  }

  EXPECT_EQ(zuMailboxToDnsName("first.last@example.com"), "first\\.last.example.com.");
  EXPECT_EQ(zuMailboxToDnsName("hostmaster@example.com."), "hostmaster.example.com.");
  EXPECT_EQ(zuMailboxToDnsName(".x@example.com"), ".x.example.com.");
  EXPECT_EQ(zuMailboxToDnsName("hostmaster.example.com."), "hostmaster.example.com.");
  EXPECT_EQ(zuMailboxToDnsName("a.b.c@d"), "a\\.b\\.c.d.");
}

TEST(zuEqualsNoCase, AsciiOnly) {
  EXPECT_TRUE(zuEqualsNoCase("Example.COM", "example.com"));
  EXPECT_FALSE(zuEqualsNoCase("example.com", "example.co"));
  EXPECT_FALSE(zuEqualsNoCase("\xe9", "\xc9"));
  EXPECT_TRUE(zuEqualsNoCase(nullptr, ""));
}

}  // namespace
