#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"
#include "loam/dns/zuZoneWriter.h"

namespace {

struct Line {
  const char* name;
  const char* ttl;
  u32 type;
  const char* rdata;
  const char* comment;
  const char* aging;
  bool enabled;
  const char* origin;
  const char* expected;
};

TEST(zuZoneWriter, LinesByRecordKind) {
  const Line lines[] = {
      {"", "", zuRRType::kA, "10.0.0.1", "", "", true, nullptr, "@\t\tIN\tA\t10.0.0.1"},
      {"mx", "60", zuRRType::kMX, "10\tmail", "old", "", false, nullptr,
       ";<!dis:mx\t60\tIN\tMX\t10\tmail>old"},
      {"h", "", zuRRType::kHINFO, "PC\tLinux", "", "", true, nullptr,
       "h\t\tIN\tHINFO\t\"PC\"\t\"Linux\""},
      {"t", "", zuRRType::kTXT, "say \"hi\"", "", "", true, nullptr,
       "t\t\tIN\tTXT\t\"say \\\"hi\\\"\""},
      {"t", "", zuRRType::kTXT, "say \\\"hi\\\"", "", "", true, nullptr,
       "t\t\tIN\tTXT\t\"say \\\"hi\\\"\""},
      // An escaped backslash does not escape the quote after it.
      {"t", "", zuRRType::kTXT, "a\\\\\"b", "", "", true, nullptr, "t\t\tIN\tTXT\t\"a\\\\\\\"b\""},
      // A lone backslash before a string boundary would escape the quote.
      {"t", "", zuRRType::kTXT, "a\\\tb\\", "", "", true, nullptr,
       "t\t\tIN\tTXT\t\"a\\092\"\t\"b\\092\""},
      {"t", "", zuRRType::kTXT, "", "", "", true, nullptr, "t\t\tIN\tTXT\t\"\""},
      {"a", "", zuRRType::kA, "10.0.0.2", "", "40", true, nullptr,
       "a\t[AGE:40]\t\tIN\tA\t10.0.0.2"},
      {"x", "", zuRRType::kNone, "raw", "", "", true, nullptr, "x\t\tIN\tN/A\traw"},
      {"", "", zuRRType::kNone, "", "note", "", true, nullptr, ";note"},
      {"", "", zuRRType::kNone, "", "note", "", false, nullptr, ";<!dis:>note"},
      {"", "", zuRRType::kTTL, "", "", "", true, nullptr, "$TTL 86400"},
      {"", "1h", zuRRType::kTTL, "", "", "", true, nullptr, "$TTL 1h"},
      {"n", "", zuRRType::kInclude, "$INCLUDE sub.zone", "c", "", true, nullptr,
       "$INCLUDE sub.zone\t;c"},
      // A disabled directive stays inside its comment.
      {"n", "", zuRRType::kInclude, "$INCLUDE sub.zone", "", "", false, nullptr,
       ";<!dis:$INCLUDE sub.zone>"},
      {"", "", zuRRType::kCNAME, "", "", "", true, nullptr, "@\t\tIN\tCNAME\t@"},
      {"www", "", zuRRType::kCNAME, "host", "", "", true, "example.com.",
       "www.example.com.\t\tIN\tCNAME\thost.example.com."},
      {"", "", zuRRType::kMX, "5\t", "", "", true, "example.com.",
       "example.com.\t\tIN\tMX\t5\texample.com."},
      {"www", "", zuRRType::kA, "1.2.3.4", "", "", true, ".", "www.\t\tIN\tA\t1.2.3.4"},
      {"big", "", 65000, "x", "", "", true, nullptr, "big\t\tIN\t\tx"},
      {"$x", "", zuRRType::kA, "1.2.3.4", "", "", true, nullptr, "\\$x\t\tIN\tA\t1.2.3.4"},
  };
  for (const Line& l : lines) {
    EXPECT_EQ(toString(l.name, l.ttl, l.type, l.rdata, l.comment, l.aging, l.enabled, l.origin),
              l.expected)
        << l.expected;
  }
  EXPECT_EQ(toString("a", "", zuRRType::kA, "1.2.3.4", "", "", true, nullptr, false, ' '),
            "a  A 1.2.3.4");
}

TEST(zuZoneWriter, NoFieldCanBreakTheLine) {
  const std::string line =
      toString("a\nb", "1\r", zuRRType::kTXT, "x\ny\x7f\tz", "c\nd\te", "g\n", true);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_EQ(line, "a\\010b\t[AGE:g\\010]\t1\\013\tIN\tTXT\t\"x\\010y\\127\"\t\"z\"\t;c\\010d\te");
  EXPECT_EQ(toString("", "", zuRRType::kNone, "", "x\ny", "", true), ";x\\010y");
}

// Text that would read back otherwise: a '>' ending a disabled line early, a
// quote opening a string, an escaped control byte, a last backslash.
TEST(zuZoneWriter, WritesWhatReadsBackTheSame) {
  const Line lines[] = {
      {"q>r", "", zuRRType::kA, "1>2", "", "a>b", true, nullptr, "q>r\t[AGE:a>b]\t\tIN\tA\t1>2"},
      {"q>r", "", zuRRType::kA, "1>2", "n>", "a>b", false, nullptr,
       ";<!dis:q\\062r\t[AGE:a\\062b]\t\tIN\tA\t1\\0622>n>"},
      // Inside quotes a '>' ends nothing; an escaped one is left alone.
      {"t", "", zuRRType::kTXT, "a>b", "", "", false, nullptr, ";<!dis:t\t\tIN\tTXT\t\"a>b\">"},
      {"x\\>", "", zuRRType::kA, "\"1>2\"", "", "", false, nullptr,
       ";<!dis:x\\>\t\tIN\tA\t\"1>2\">"},
      {"t", "", zuRRType::kTXT, "x\\\x03y", "", "", true, nullptr, "t\t\tIN\tTXT\t\"x\\003y\""},
      {"a\\\x03" "b", "", zuRRType::kCNAME, "c\\\x7f", "", "", true, nullptr,
       "a\\003b\t\tIN\tCNAME\tc\\127"},
      {"a\"b", "", zuRRType::kCNAME, "\"c\"", "", "", true, nullptr,
       "a\\\"b\t\tIN\tCNAME\t\\\"c\\\""},
      {"a", "", zuRRType::kA, "\"1.2.3.4\"", "", "", true, nullptr, "a\t\tIN\tA\t\"1.2.3.4\""},
      {"a", "", zuRRType::kA, "1\"2", "", "", true, nullptr, "a\t\tIN\tA\t1\\\"2"},
      {"w", "", zuRRType::kWKS, "1.2.3.4\ttcp\tsmtp \"x y\"", "", "", true, nullptr,
       "w\t\tIN\tWKS\t1.2.3.4\ttcp\tsmtp \"x y\""},
      {"a\\", "", zuRRType::kA, "1\\", "", "", true, nullptr, "a\\092\t\tIN\tA\t1\\092"},
      // A comment is read back raw: only line ends (and NUL) are escaped.
      {"a", "", zuRRType::kA, "1", "x\x03\"\\\n", "", true, nullptr,
       "a\t\tIN\tA\t1\t;x\x03\"\\\\010"},
  };
  for (const Line& l : lines) {
    EXPECT_EQ(toString(l.name, l.ttl, l.type, l.rdata, l.comment, l.aging, l.enabled, l.origin),
              l.expected)
        << l.expected;
  }
  // A stored NUL is written, not cut off.
  zuRecordCollection zone("");
  const zuResourceRecord* r = zone.addRecord(std::string("a\0b", 3), "", zuRRType::kTXT,
                                             std::string("x\0y", 3), "", "", true);
  std::ostringstream out;
  out << *r;
  EXPECT_EQ(out.str(), "a\\000b\t\tIN\tTXT\t\"x\\000y\"");
}

TEST(zuZoneWriter, RecordOperatorWritesStoredForm) {
  zuRecordCollection zone("example.com.");
  const zuResourceRecord* r =
      zone.addRecord("www.example.com.", "", zuRRType::kCNAME, "host.example.com.", "", "", true);
  std::ostringstream out;
  out << *r;
  EXPECT_EQ(out.str(), "www\t\tIN\tCNAME\thost");
}

TEST(zuZoneWriter, ZoneStartsWithTTLAndOneLiveSOA) {
  zuRecordCollection zone("example.com.");
  zone.addRecord("", "", zuRRType::kNone, "", "head", "", true);
  zone.addRecord("", "", zuRRType::kNS, "ns", "", "", true);
  zone.addRecord("", "", zuRRType::kSOA, "old\thm\t1\t2\t3\t4\t5", "", "", false);
  zone.addRecord("", "", zuRRType::kSOA, "ns\thm\t1\t2\t3\t4\t5", "", "", true);
  zone.addRecord("a", "", zuRRType::kA, "10.0.0.1", "", "", true);
  zone.addRecord("", "", zuRRType::kSOA, "ns2\thm\t9\t2\t3\t4\t5", "", "", true);
  std::ostringstream out;
  zone.writeZone(out, true);
  EXPECT_EQ(out.str(),
            "$TTL 86400\n"
            ";head\n"
            "@\t\tIN\tSOA\tns\thm\t1\t2\t3\t4\t5\n"
            "@\t\tIN\tNS\tns\n"
            ";<!dis:@\t\tIN\tSOA\told\thm\t1\t2\t3\t4\t5>\n"
            "a\t\tIN\tA\t10.0.0.1\n");
  zone.setZoneTTL("3600");
  std::ostringstream again;
  zone.writeZone(again, true);
  EXPECT_EQ(again.str().substr(0, 10), "$TTL 3600\n");
  std::ostringstream bare;
  zone.writeZone(bare, false);
  EXPECT_EQ(bare.str().substr(0, 6), ";head\n");
  zuRecordCollection empty("x.");
  std::ostringstream none;
  empty.writeZone(none, false);
  EXPECT_EQ(none.str(), "");
}

}  // namespace
