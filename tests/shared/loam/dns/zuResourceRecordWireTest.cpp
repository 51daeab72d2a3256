// The record and stream wire forms of resource records.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"
#include "loam/dns/zuResourceRecordWire.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"
#include "shared/loam/netobjects/NetTestSupport.h"

namespace {

using nettest::bytesOf;
using nettest::fromHex;

std::vector<u8> operator+(std::vector<u8> a, const std::vector<u8>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A text and its NUL.
std::vector<u8> str(const std::string& s) {
  std::vector<u8> out(s.begin(), s.end());
  out.push_back(0);
  return out;
}

TEST(zuResourceRecordWire, RecordFormOfTheARecordExample) {
  const zuResourceRecord r(nullptr, "", "3600", zuRRType::kA, "10.0.0.1", "", true);
  zuDynamicNetWriter w;
  r.write(w);
  EXPECT_EQ(bytesOf(w), fromHex("FFFFFFFF 00 3336303000 0001 31302E302E302E3100 00 01"));

  zuDynamicNetWriter s;
  s << r;
  EXPECT_EQ(bytesOf(s), fromHex("00 3336303000 0001 31302E302E302E3100 00 00 01 FFFFFFFF"));
}

// One record of every type in the table: the type goes out as stored (DLV
// too), and both forms read back to the same record.
TEST(zuResourceRecordWire, EveryTypeInBothFormsAndBack) {
  struct Case {
    u32 type;
    const char* typeBytes;
    const char* rdata;
  };
  const Case cases[] = {
      {zuRRType::kA, "0001", "10.0.0.1"},
      {zuRRType::kAAAA, "001C", "fe80::1"},
      {zuRRType::kAFSDB, "0012", "1\tafs"},
      {zuRRType::kCNAME, "0005", "host"},
      {zuRRType::kDLV, "0068", "1\t5\t1\tABCD"},
      {zuRRType::kDNAME, "0027", "other."},
      {zuRRType::kDNSKEY, "0030", "256\t3\t5\tAwEAAQ=="},
      {zuRRType::kDS, "002B", "60485\t5\t1\t2BB183AF"},
      {zuRRType::kHINFO, "000D", "PC\tLinux"},
      {zuRRType::kLOC, "001D", "52 22 23.000 N\t4 53 32.000 E\t-2.00m\t0.00m\t10000m\t10m"},
      {zuRRType::kMX, "000F", "10\tmail"},
      {zuRRType::kNAPTR, "0023", "100\t10\tU\tE2U+sip\t!^.*$!sip:x@y!\t"},
      {zuRRType::kNS, "0002", "ns1"},
      {zuRRType::kNSEC, "002F", "next\tA MX RRSIG NSEC"},
      {zuRRType::kPTR, "000C", "host"},
      {zuRRType::kRP, "0011", "admin\tinfo"},
      {zuRRType::kRRSIG, "002E", "A\t5\t3\t86400\t20300101000000\t20200101000000\t2642\t\tsig"},
      {zuRRType::kSOA, "0006", "ns1\thostmaster\t2024010101\t3600\t600\t86400\t300"},
      {zuRRType::kSRV, "0021", "0\t5\t5060\tsip"},
      {zuRRType::kTXT, "0010", "v=spf1 -all"},
      {zuRRType::kWINS, "FF01", "0\t900\t10.0.0.5"},
      {zuRRType::kWINSR, "FF02", "0\t900\tres.example."},
      {zuRRType::kWKS, "000B", "10.0.0.1\tTCP\tsmtp"},
  };
  ASSERT_EQ(std::size(cases), kZuRRTypeCount);
  for (const Case& c : cases) {
    SCOPED_TRACE(zuRRTypeName(c.type));
    zuResourceRecord r(nullptr, "www", "1h", c.type, c.rdata, "note", "40", false);
    r.setId(0x01020304);
    r.properties().set("never", "sent");

    zuDynamicNetWriter recordForm;
    r.write(recordForm);
    EXPECT_EQ(bytesOf(recordForm), fromHex("01020304") + str("www") + str("1h") +
                                       fromHex(c.typeBytes) + str(c.rdata) + str("note") +
                                       fromHex("00"));
    zuNetReader reader(recordForm.getStart(), recordForm.size());
    zuRecordCollection zone("example.");
    zuResourceRecord back(&zone, "old", "", 0, "", "", "aging", true);
    back.properties().set("old", "1");
    back.read(reader);
    EXPECT_EQ(reader.bytesLeft(), 0u);
    EXPECT_TRUE(back.equals(r, true, false, false));
    EXPECT_EQ(back.id(), r.id());
    EXPECT_EQ(back.aging(), "");
    EXPECT_EQ(back.properties().count(), 0u);
    EXPECT_EQ(back.collection(), nullptr);

    zuDynamicNetWriter streamForm;
    streamForm << r;
    EXPECT_EQ(bytesOf(streamForm), str("www") + str("1h") + fromHex(c.typeBytes) + str(c.rdata) +
                                       str("note") + str("40") + fromHex("00 01020304"));
    zuNetReader streamReader(streamForm.getStart(), streamForm.size());
    zuResourceRecord streamed;
    streamReader >> streamed;
    EXPECT_EQ(streamReader.bytesLeft(), 0u);
    EXPECT_TRUE(streamed.equals(r, true, false, false));
    EXPECT_EQ(streamed.aging(), "40");
    EXPECT_EQ(streamed.id(), r.id());
  }
}

TEST(zuResourceRecordWire, StreamFormIntoACollectionRecordNormalisesAndKeepsTheLink) {
  const zuResourceRecord r(nullptr, "www.example.com.", "", zuRRType::kMX, "10\tmail.example.com.",
                           "", true);
  zuDynamicNetWriter w;
  w << r;
  zuRecordCollection zone("example.com.");
  zuResourceRecord target(&zone, "", "", 0, "", "", true);
  zuNetReader reader(w.getStart(), w.size());
  reader >> target;
  EXPECT_EQ(target.name(), "www");
  EXPECT_EQ(target.data(), "10\tmail");
  EXPECT_EQ(target.collection(), &zone);
}

TEST(zuResourceRecordWire, EveryTruncationThrowsOutOfRange) {
  const zuResourceRecord r(nullptr, "a", "1", zuRRType::kA, "10.0.0.1", "c", true);
  zuDynamicNetWriter recordForm;
  r.write(recordForm);
  zuDynamicNetWriter streamForm;
  streamForm << r;
  for (u32 n = 0; n < recordForm.size(); ++n) {
    zuNetReader reader(recordForm.getStart(), n);
    zuResourceRecord back;
    EXPECT_THROW(back.read(reader), std::out_of_range) << n;
  }
  for (u32 n = 0; n < streamForm.size(); ++n) {
    zuNetReader reader(streamForm.getStart(), n);
    zuResourceRecord back;
    EXPECT_THROW(reader >> back, std::out_of_range) << n;
  }
}

TEST(zuResourceRecordWire, FixedWriterOverrunThrows) {
  const zuResourceRecord r(nullptr, "www", "3600", zuRRType::kA, "10.0.0.1", "", true);
  u8 buffer[8];
  zuNetWriter w(buffer, sizeof buffer);
  EXPECT_THROW(r.write(w), std::out_of_range);
}

}  // namespace
