// Stripping the origin from names and rdata, and qualifying them again.
#include <gtest/gtest.h>

#include <string>

#include "DnsTestSupport.h"
#include "loam/dns/zuRRDataNames.h"
#include "loam/dns/zuRRType.h"

namespace {

using tw::test::tabs;

struct StripCase {
  const char* origin;
  const char* text;
  const char* expected;
};

TEST(zuStripOrigin, CutsOnlyAtALabelBoundary) {
  const StripCase cases[] = {
      {"example.com.", "www.example.com.", "www"},
      {"example.com.", "a.b.EXAMPLE.Com.", "a.b"},
      {"example.com.", "EXAMPLE.COM.", ""},
      {"example.com.", "myexample.com.", "myexample.com."},
      {"example.com.", "www.example.com", "www.example.com"},  // no final dot
      {"example.com.", "xample.com.", "xample.com."},          // shorter than the origin
      {"example.com.", "10|mail.example.com.", "10|mail"},
      {"example.com.", "10|example.com.", "10|"},  // the TAB stays
      {"example.com.", "10|xexample.com.", "10|xexample.com."},
      // An empty label before the origin: cut, it would read as absolute.
      {"example.com.", "mail.example.com..example.com.", "mail.example.com..example.com."},
      {"example.com.", "10|a..example.com.", "10|a..example.com."},
      {".", "www..", "www.."},
      {"example.com.", "", ""},
      {"", "www.example.com.", "www.example.com."},
      // Literal comparison: a relative origin strips relative names.
      {"example", "www.example", "www"},
      // The root origin brings its own dot.
      {".", "www.", "www"},
      {".", ".", ""},
      {".", "10|.", "10|"},
      {".", "www", "www"},
  };
  for (const StripCase& c : cases) {
    std::string text = tabs(c.text);
    const bool changed = zuStripOrigin(c.origin, text);
    EXPECT_EQ(text, tabs(c.expected)) << c.origin << " / " << c.text;
    EXPECT_EQ(changed, tabs(c.text) != tabs(c.expected)) << c.origin << " / " << c.text;
  }
}

struct DataCase {
  const char* origin;
  u32 type;
  const char* stored;        // relative, as a collection holds it
  const char* absolute;      // as qualified for writing
  const char* fromAbsolute;  // what normalising `absolute` gives back
};

// One table for both directions. fromAbsolute differs from stored only where
// the relative form cannot be told from an absolute one.
TEST(zuRRDataNames, NormaliseAndQualifyTable) {
  const DataCase cases[] = {
      {"example.com.", zuRRType::kCNAME, "www", "www.example.com.", "www"},
      {"example.com.", zuRRType::kCNAME, "", "example.com.", ""},
      {"example.com.", zuRRType::kCNAME, "other.net.", "other.net.", "other.net."},
      {"example.com.", zuRRType::kCNAME, "myexample.com.", "myexample.com.", "myexample.com."},
      {"example.com.", zuRRType::kMX, "10|mail", "10|mail.example.com.", "10|mail"},
      {"example.com.", zuRRType::kMX, "10|", "10|example.com.", "10|"},
      // Field 0 of MX is no name: it stays "10" even though it does not end in ".".
      {"example.com.", zuRRType::kAFSDB, "1|afs", "1|afs.example.com.", "1|afs"},
      {"example.com.", zuRRType::kRP, "admin|", "admin.example.com.|example.com.", "admin|"},
      // SOA: fields 0 and 1 only; the serial and timers stay.
      {"example.com.", zuRRType::kSOA, "ns1|hostmaster|2024010101|3600|900|604800|86400",
       "ns1.example.com.|hostmaster.example.com.|2024010101|3600|900|604800|86400",
       "ns1|hostmaster|2024010101|3600|900|604800|86400"},
      {"example.com.", zuRRType::kSOA, "|ns.other.|1|2|3|4|5", "example.com.|ns.other.|1|2|3|4|5",
       "|ns.other.|1|2|3|4|5"},
      {"example.com.", zuRRType::kSRV, "0|5|5060|sip", "0|5|5060|sip.example.com.", "0|5|5060|sip"},
      // NAPTR: field 5 is the name; 2, 3 and 4 are quoted on the way out.
      {"example.com.", zuRRType::kNAPTR, "100|10|u|E2U+sip|!^.*$!sip:x@y!|",
       "100|10|\"u\"|\"E2U+sip\"|\"!^.*$!sip:x@y!\"|example.com.",
       "100|10|\"u\"|\"E2U+sip\"|\"!^.*$!sip:x@y!\"|"},
      {"example.com.", zuRRType::kNAPTR, "1|2|\"\"|\"s\"||_sip._udp",
       "1|2|\"\"|\"s\"|\"\"|_sip._udp.example.com.", "1|2|\"\"|\"s\"|\"\"|_sip._udp"},
      // RRSIG: field 7 (the signer) only; NSEC: field 0 only.
      {"example.com.", zuRRType::kRRSIG, "A|8|3|3600|20300101000000|20200101000000|1234||c2ln",
       "A|8|3|3600|20300101000000|20200101000000|1234|example.com.|c2ln",
       "A|8|3|3600|20300101000000|20200101000000|1234||c2ln"},
      {"example.com.", zuRRType::kNSEC, "next|A RRSIG NSEC", "next.example.com.|A RRSIG NSEC",
       "next|A RRSIG NSEC"},
      // No names: nothing changes either way.
      {"example.com.", zuRRType::kTXT, "\"x.example.com.\"", "\"x.example.com.\"",
       "\"x.example.com.\""},
      {"example.com.", zuRRType::kA, "192.0.2.1", "192.0.2.1", "192.0.2.1"},
      {"example.com.", 0, "example.com.", "example.com.", "example.com."},
      // The root origin.
      {".", zuRRType::kCNAME, "www", "www.", "www"},
      {".", zuRRType::kMX, "10|", "10|.", "10|"},
      {".", zuRRType::kSOA, "a.root-servers.net|", "a.root-servers.net.|.", "a.root-servers.net|"},
  };
  for (const DataCase& c : cases) {
    SCOPED_TRACE(std::string(c.origin) + " type " + std::to_string(c.type) + ": " + c.stored);
    std::string out = tabs(c.stored);
    EXPECT_EQ(zuQualifyDataNames(c.origin, c.type, out), tabs(c.stored) != tabs(c.absolute));
    EXPECT_EQ(out, tabs(c.absolute));
    std::string back = tabs(c.absolute);
    EXPECT_EQ(zuNormalizeDataNames(c.origin, c.type, back),
              tabs(c.absolute) != tabs(c.fromAbsolute));
    EXPECT_EQ(back, tabs(c.fromAbsolute));
  }
}

TEST(zuRRDataNames, EmptyOriginAndAtOrigin) {
  std::string rdata = tabs("10|mail");
  EXPECT_FALSE(zuQualifyDataNames("", zuRRType::kMX, rdata));
  EXPECT_FALSE(zuNormalizeDataNames("", zuRRType::kMX, rdata));
  EXPECT_EQ(rdata, tabs("10|mail"));
  // Under "@" names are left as they are, an empty one becomes "@"; NAPTR
  // fields are still quoted.
  EXPECT_FALSE(zuQualifyDataNames("@", zuRRType::kMX, rdata));
  EXPECT_EQ(rdata, tabs("10|mail"));
  std::string soa = tabs("|hostmaster.other.|1|2|3|4|5");
  EXPECT_TRUE(zuQualifyDataNames("@", zuRRType::kSOA, soa));
  EXPECT_EQ(soa, tabs("@|hostmaster.other.|1|2|3|4|5"));
  std::string naptr = tabs("1|2|u|s|r|");
  EXPECT_TRUE(zuQualifyDataNames("@", zuRRType::kNAPTR, naptr));
  EXPECT_EQ(naptr, tabs("1|2|\"u\"|\"s\"|\"r\"|@"));
}

TEST(zuRRDataNames, NormaliseLeavesNamesThatOnlyLookLikeTheOrigin) {
  // SOA field 1 ending in the origin without a dot before it is another name.
  std::string soa = tabs("ns.example.com.|xexample.com.|1|2|3|4|5");
  EXPECT_TRUE(zuNormalizeDataNames("example.com.", zuRRType::kSOA, soa));
  EXPECT_EQ(soa, tabs("ns|xexample.com.|1|2|3|4|5"));
  // A short RRSIG without a signer field is left alone.
  std::string rrsig = tabs("A|8|3");
  EXPECT_FALSE(zuNormalizeDataNames("example.com.", zuRRType::kRRSIG, rrsig));
  EXPECT_EQ(rrsig, tabs("A|8|3"));
}

}  // namespace
