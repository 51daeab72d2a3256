// Sorting a collection's output order by name and by type.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "DnsTestSupport.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRRTypeRank.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace {

using tw::test::outputOrder;
using tw::test::tabs;

std::vector<std::string> dataInOrder(const zuRecordCollection& zone) {
  std::vector<std::string> out;
  for (const zuResourceRecord* r : outputOrder(zone)) out.push_back(r->data());
  return out;
}

u32 tagOf(const zuRecordCollection& zone, const zuResourceRecord* r) {
  for (u32 tag = 1; tag <= 3; ++tag)
    for (u32 i = 0; const zuResourceRecord* x = zone.recordAt(i, zuRRType::kAny, tag); ++i)
      if (x == r) return tag;
  return 0;
}

bool isCommentLine(const zuResourceRecord& r) { return r.name().empty() && r.type() == 0; }

// Random zones with several SOA records, comment lines, ragged rdata and
// mixed-case names, sorted every way: nothing runs off the array, the
// leading keys are in order, and a second sort changes nothing.
TEST(zuRecordCollectionSort, RandomZonesSortIntoKeyOrder) {
  const u32 types[] = {zuRRType::kSOA,   0,
                       zuRRType::kA,     zuRRType::kMX,
                       zuRRType::kSRV,   zuRRType::kAFSDB,
                       zuRRType::kNAPTR, zuRRType::kTXT,
                       zuRRType::kNS,    zuRRType::kRRSIG,
                       zuRRType::kWINS,  zuRRType::kNSEC3};
  const char* names[] = {"", "a", "A", "b", "www", "Www", "z"};
  const char* fields[] = {"", "10", "9", "x", "X", "10.0.0.9", "10.0.0.10", "abc"};
  for (u32 seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    const auto pick = [&random](std::size_t n) {
      return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    zuRecordCollection zone("example.");
    const std::size_t n = 1 + pick(60);
    for (std::size_t i = 0; i < n; ++i) {
      std::string rdata;
      for (std::size_t f = 0, count = pick(6); f < count; ++f)
        rdata += (f ? "\t" : "") + std::string(fields[pick(std::size(fields))]);
      zone.add(zuResourceRecord(nullptr, names[pick(std::size(names))], "",
                                types[pick(std::size(types))], rdata, "", true),
               static_cast<u32>(1 + pick(3)));
    }
    std::vector<const zuResourceRecord*> all = outputOrder(zone);
    std::sort(all.begin(), all.end());

    for (u32 key : {zuRecordCollection::kSortByName, zuRecordCollection::kSortByType}) {
      for (bool descending : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "seed " << seed << " key " << key << " descending " << descending);
        zone.sort(key, descending);
        const std::vector<const zuResourceRecord*> order = outputOrder(zone);
        std::vector<const zuResourceRecord*> same = order;
        std::sort(same.begin(), same.end());
        ASSERT_EQ(same, all);

        for (std::size_t i = 1; i < order.size(); ++i) {
          const zuResourceRecord& a = *order[i - 1];
          const zuResourceRecord& b = *order[i];
          const u32 ta = tagOf(zone, &a);
          const u32 tb = tagOf(zone, &b);
          ASSERT_LE(ta, tb) << i;
          if (ta != tb) continue;
          const bool soaA = a.type() == zuRRType::kSOA;
          const bool soaB = b.type() == zuRRType::kSOA;
          ASSERT_FALSE(!soaA && soaB) << i;
          ASSERT_FALSE(isCommentLine(a) && !isCommentLine(b)) << i;
          if (soaA != soaB || isCommentLine(b)) continue;
          // The first key of the order decides or ties.
          int first = key == zuRecordCollection::kSortByName
                          ? zuStrCompare(a.name().c_str(), b.name().c_str(), false)
                          : static_cast<int>(zuRRTypeRank(a.type())) -
                                static_cast<int>(zuRRTypeRank(b.type()));
          if (descending) first = -first;
          ASSERT_LE(first, 0) << i << ": " << a.name() << "/" << a.type() << " then " << b.name()
                              << "/" << b.type();
        }
        zone.sort(key, descending);
        EXPECT_EQ(outputOrder(zone), order);
      }
    }
  }
}

TEST(zuRecordCollectionSort, NumbersAndAddressesCompareAsNumbers) {
  struct Case {
    u32 type;
    std::vector<std::string> input;
    std::vector<std::string> ascending;
  };
  const std::vector<Case> cases = {
      {zuRRType::kA,
       {"10.0.0.10", "9.0.0.1", "10.0.0.9", "bad"},
       {"bad", "9.0.0.1", "10.0.0.9", "10.0.0.10"}},
      {zuRRType::kMX, {"10|a", "5|z", "10|B", "x|a"}, {"x|a", "5|z", "10|a", "10|B"}},
      {zuRRType::kSRV,
       {"10|20|8|y", "2|0|0|z", "10|5|80|x", "10|5|443|w", "10|5|80"},
       {"2|0|0|z", "10|5|80", "10|5|80|x", "10|5|443|w", "10|20|8|y"}},
      {zuRRType::kAFSDB, {"10|a", "9|b"}, {"9|b", "10|a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    for (u32 key : {zuRecordCollection::kSortByName, zuRecordCollection::kSortByType}) {
      zuRecordCollection zone("example.");
      for (const std::string& data : c.input)
        zone.add(zuResourceRecord(nullptr, "host", "", c.type, tabs(data), "", true), 1);
      std::vector<std::string> expected;
      for (const std::string& data : c.ascending) expected.push_back(tabs(data));
      zone.sort(key, false);
      EXPECT_EQ(dataInOrder(zone), expected) << key;
      zone.sort(key, true);
      std::reverse(expected.begin(), expected.end());
      EXPECT_EQ(dataInOrder(zone), expected) << key;
    }
  }
}

TEST(zuRecordCollectionSort, SOAFirstCommentsLastWithinEachTag) {
  zuRecordCollection zone("example.");
  const auto add = [&zone](const char* name, u32 type, const char* data, u32 tag) {
    zone.add(zuResourceRecord(nullptr, name, "", type, tabs(data), "", true), tag);
  };
  add("", 0, "", 1);  // comment line
  add("b", zuRRType::kA, "10.0.0.1", 2);
  add("zz", zuRRType::kSOA, "ns|h|2", 1);
  add("a", zuRRType::kMX, "1|m", 1);
  add("", zuRRType::kSOA, "ns|h|1", 1);
  add("", zuRRType::kNS, "ns", 1);
  add("", zuRRType::kA, "10.0.0.2", 1);
  add("", 0, "", 2);
  add("a", zuRRType::kNS, "ns", 1);
  add("", zuRRType::kSOA, "ns|h|3", 2);

  const auto order = [&zone] {
    std::vector<std::string> out;
    for (const zuResourceRecord* r : outputOrder(zone))
      out.push_back(r->name() + "/" + std::to_string(r->type()));
    return out;
  };
  zone.sort(zuRecordCollection::kSortByName, false);
  EXPECT_EQ(order(), (std::vector<std::string>{"/6", "zz/6", "/2", "/1", "a/2", "a/15", "/0", "/6",
                                               "b/1", "/0"}));
  zone.sort(zuRecordCollection::kSortByName, true);
  EXPECT_EQ(order(), (std::vector<std::string>{"zz/6", "/6", "a/15", "a/2", "/1", "/2", "/0", "/6",
                                               "b/1", "/0"}));
  zone.sort(zuRecordCollection::kSortByType, false);
  EXPECT_EQ(order(), (std::vector<std::string>{"/6", "zz/6", "/2", "a/2", "a/15", "/1", "/0", "/6",
                                               "b/1", "/0"}));
  // Descending by type: rank, then owner, then rdata.
  zone.sort(zuRecordCollection::kSortByType, true);
  EXPECT_EQ(order(), (std::vector<std::string>{"zz/6", "/6", "/1", "a/15", "a/2", "/2", "/0", "/6",
                                               "b/1", "/0"}));
}

TEST(zuRecordCollectionSort, OtherKeysOnlyDropTheCursor) {
  zuRecordCollection zone("example.");
  zone.add(zuResourceRecord(nullptr, "b", "", zuRRType::kA, "10.0.0.1", "", true), 1);
  zone.add(zuResourceRecord(nullptr, "a", "", zuRRType::kA, "10.0.0.1", "", true), 1);
  const auto before = outputOrder(zone);
  zone.sort(7, false);
  EXPECT_EQ(outputOrder(zone), before);
}

}  // namespace

// Long names that agree on their first 16 bytes, names of exactly 16, case,
// 8-bit bytes and an embedded NUL (where the comparison stops): by name, the
// order is a stable sort by zuStrCompare, ascending and descending.
TEST(zuRecordCollectionSort, LongAndUnusualNamesFollowTheTextOrder) {
  using namespace std::string_literals;
  const std::vector<std::string> names = {
      "abcdefghijklmnopq",  "ABCDEFGHIJKLMNOP",   "abcdefghijklmnop", "abcdefghijklmnoz",
      "abcdefghijklmnopA",  "abcdefghijklmnopb",  "abcdefghijklmnop", "abcdefgh",
      "abcdefghijklmnoP-x", "\xe9t\xe9",          "\xe9T\xc9",        "zz",
      "ab\0z"s,             "ab\0a"s,             "ab",               "abcdefghijklmnopqrstuvwxyz1",
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ0",              "-",                "_"};
  for (bool descending : {false, true}) {
    SCOPED_TRACE(descending);
    zuRecordCollection zone("example.");
    std::vector<const zuResourceRecord*> expected;
    for (const std::string& name : names)
      expected.push_back(zone.add(zuResourceRecord(nullptr, name, "", zuRRType::kA, "10.0.0.1",
                                                   "", true),
                                  1));
    std::stable_sort(expected.begin(), expected.end(),
                     [descending](const zuResourceRecord* a, const zuResourceRecord* b) {
                       const int c = zuStrCompare(a->name().c_str(), b->name().c_str(), false);
                       return descending ? c > 0 : c < 0;
                     });
    zone.sort(zuRecordCollection::kSortByName, descending);
    EXPECT_EQ(outputOrder(zone), expected);
  }
}
