// The record-type table and its lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "loam/dns/zuRRType.h"

namespace {

TEST(zuRRType, TableRowsAreSortedAndEveryRowLooksUpBothWays) {
  for (u32 i = 0; i < kZuRRTypeCount; ++i) {
    const zuRRTypeInfo& row = kZuRRTypeTable[i];
    if (i > 0) {
      EXPECT_LT(std::strcmp(kZuRRTypeTable[i - 1].mnemonic, row.mnemonic), 0) << row.mnemonic;
    }
    EXPECT_EQ(zuRRTypeFromName(row.mnemonic), row.type);
    EXPECT_STREQ(zuRRTypeName(row.type), row.mnemonic);
    EXPECT_EQ(zuRRTypeFormat(row.type), row.format);
  }
}

TEST(zuRRType, CodesAndFormatsOfTheTable) {
  struct Case {
    const char* mnemonic;
    u32 type;
    u32 format;
  };
  const Case cases[] = {
      {"A", 1, 6},         {"AAAA", 28, 11},     {"AFSDB", 18, 3},   {"CNAME", 5, 2},
      {"DLV", 104, 17},    {"DNAME", 39, 2},     {"DNSKEY", 48, 16}, {"DS", 43, 17},
      {"HINFO", 13, 5},    {"LOC", 29, 9},       {"MX", 15, 3},      {"NAPTR", 35, 13},
      {"NS", 2, 2},        {"NSEC", 47, 19},     {"PTR", 12, 2},     {"RP", 17, 4},
      {"RRSIG", 46, 18},   {"SOA", 6, 8},        {"SRV", 33, 10},    {"TXT", 16, 1},
      {"WINS", 65281, 14}, {"WINSR", 65282, 15}, {"WKS", 11, 12},
  };
  ASSERT_EQ(std::size(cases), kZuRRTypeCount);
  for (u32 i = 0; i < kZuRRTypeCount; ++i) {
    EXPECT_STREQ(kZuRRTypeTable[i].mnemonic, cases[i].mnemonic);
    EXPECT_EQ(kZuRRTypeTable[i].type, cases[i].type) << cases[i].mnemonic;
    EXPECT_EQ(kZuRRTypeTable[i].format, cases[i].format) << cases[i].mnemonic;
  }
}

TEST(zuRRType, NamesIgnoreCaseAndUnknownNamesAreZero) {
  EXPECT_EQ(zuRRTypeFromName("mx"), 15u);
  EXPECT_EQ(zuRRTypeFromName("Mx"), 15u);
  EXPECT_EQ(zuRRTypeFromName("winsr"), 65282u);
  EXPECT_EQ(zuRRTypeFromName("N/A"), 0u);
  EXPECT_EQ(zuRRTypeFromName(""), 0u);
  EXPECT_EQ(zuRRTypeFromName(nullptr), 0u);
  // Prefixes and extensions of a mnemonic are other names.
  EXPECT_EQ(zuRRTypeFromName("NSE"), 0u);
  EXPECT_EQ(zuRRTypeFromName("AA"), 0u);
  EXPECT_EQ(zuRRTypeFromName("SOA "), 0u);
  EXPECT_EQ(zuRRTypeFromName("TYPE65534"), 0u);
  // Bytes above 127 are not folded into letters.
  EXPECT_EQ(zuRRTypeFromName("\xc1"), 0u);
}

TEST(zuRRType, CodesOutsideTheTable) {
  for (u32 code : {0u, 50u, 255u, 300u, 301u, 302u, 7u, 32769u}) {
    EXPECT_STREQ(zuRRTypeName(code), "") << code;
    EXPECT_EQ(zuRRTypeFormat(code), zuRRFormat::kUnknown) << code;
    EXPECT_FALSE(zuRRTypeHasNames(code)) << code;
    EXPECT_FALSE(zuRRTypeIsNameField(code, 0)) << code;
  }
  EXPECT_TRUE(zuRRTypeIsDNSSEC(50));
}

TEST(zuRRType, NameFieldsByType) {
  struct Case {
    u32 type;
    const char* nameFields;  // one char per field 0..8: 'n' name, '.' not
  };
  const Case cases[] = {
      {zuRRType::kCNAME, "nnnnnnnnn"}, {zuRRType::kNS, "nnnnnnnnn"},
      {zuRRType::kMX, ".nnnnnnnn"},    {zuRRType::kAFSDB, ".nnnnnnnn"},
      {zuRRType::kRP, "nnnnnnnnn"},    {zuRRType::kSOA, "nn......."},
      {zuRRType::kSRV, "...n....."},   {zuRRType::kNAPTR, ".....n..."},
      {zuRRType::kRRSIG, ".......n."}, {zuRRType::kNSEC, "n........"},
      {zuRRType::kA, "........."},     {zuRRType::kTXT, "........."},
      {zuRRType::kHINFO, "........."}, {zuRRType::kDS, "........."},
      {zuRRType::kWINS, "........."},  {zuRRType::kLOC, "........."},
  };
  for (const Case& c : cases) {
    bool any = false;
    for (u32 i = 0; i < 9; ++i) {
      const bool expected = c.nameFields[i] == 'n';
      any = any || expected;
      EXPECT_EQ(zuRRTypeIsNameField(c.type, i), expected) << c.type << " field " << i;
    }
    EXPECT_EQ(zuRRTypeHasNames(c.type), any) << c.type;
  }
}

TEST(zuRRType, WireCodesAndDNSSEC) {
  EXPECT_EQ(zuRRTypeToWire(104), 32769);
  EXPECT_EQ(zuRRTypeFromWire(32769), 104u);
  for (u32 code : {0u, 1u, 43u, 255u, 300u, 65281u}) {
    EXPECT_EQ(zuRRTypeToWire(code), code);
    EXPECT_EQ(zuRRTypeFromWire(code), code);
  }
  for (u32 code = 0; code < 70000; ++code) {
    const bool dnssec =
        code == 43 || code == 46 || code == 47 || code == 48 || code == 50 || code == 104;
    ASSERT_EQ(zuRRTypeIsDNSSEC(code), dnssec) << code;
  }
}

}  // namespace
