// The record collection: store by type with tags, output order, cursor,
// cached counts, select, merge and the other edits.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "DnsTestSupport.h"
#include "loam/dns/zuDNSName.h"
#include "loam/dns/zuMasterFileParser.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"
#include "loam/dns/zuResourceRecordWire.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"

namespace {

using tw::test::outputOrder;
using tw::test::tabs;

zuResourceRecord rr(const std::string& name, u32 type, const std::string& rdata) {
  return zuResourceRecord(nullptr, name, "", type, tabs(rdata), "", true);
}

std::vector<std::string> namesInOrder(const zuRecordCollection& zone) {
  std::vector<std::string> out;
  for (const zuResourceRecord* r : outputOrder(zone)) out.push_back(r->name());
  return out;
}

// Every count the table below checks: MX, A and any type, for tags 0 (any),
// 1, 2 and 5 (above the cached tags).
using Counts = std::array<u32, 12>;
constexpr u32 kTypes[] = {zuRRType::kMX, zuRRType::kA, zuRRType::kAny};
constexpr u32 kTags[] = {0, 1, 2, 5};

Counts countsOf(const zuRecordCollection& zone) {
  Counts c{};
  std::size_t i = 0;
  for (u32 type : kTypes)
    for (u32 tag : kTags) c[i++] = zone.count(type, tag);
  return c;
}

TEST(zuRecordCollection, CountsStayRightAfterEveryKindOfChange) {
  zuRecordCollection zone("example.com.");
  zuRecordCollection other("other.");
  other.add(rr("o", zuRRType::kA, "10.0.0.3"), 1);
  other.add(rr("o", zuRRType::kMX, "1|m"), 2);
  zuResourceRecord* mxMail = nullptr;
  zuResourceRecord* aWww = nullptr;

  struct Step {
    const char* what;
    std::function<void()> change;
    Counts expected;  // MX x {0,1,2,5}, A x {0,1,2,5}, any x {0,1,2,5}
  };
  const std::vector<Step> steps = {
      {"add MX tag 1",
       [&] { zone.add(rr("www", zuRRType::kMX, "10|mx"), 1); },
       {1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0}},
      {"add MX tag 2",
       [&] { mxMail = zone.add(rr("mail", zuRRType::kMX, "20|mx"), 2); },
       {2, 1, 1, 0, 0, 0, 0, 0, 2, 1, 1, 0}},
      {"add A tag 1",
       [&] { aWww = zone.add(rr("www", zuRRType::kA, "10.0.0.1"), 1); },
       {2, 1, 1, 0, 1, 1, 0, 0, 3, 2, 1, 0}},
      {"add A tag 5",
       [&] { zone.addRecord("host", "", zuRRType::kA, "10.0.0.2", "", true, 5); },
       {2, 1, 1, 0, 2, 1, 0, 1, 4, 2, 1, 1}},
      {"change A to MX",
       [&] { aWww = zone.changeType(aWww, zuRRType::kMX); },
       {3, 2, 1, 0, 1, 0, 0, 1, 4, 2, 1, 1}},
      {"remove the MX of tag 2",
       [&] { zone.remove(mxMail); },
       {2, 2, 0, 0, 1, 0, 0, 1, 3, 2, 0, 1}},
      {"remove all MX of www",
       [&] { zone.removeAll("www", zuRRType::kMX); },
       {0, 0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1}},
      {"replace the A by an MX",
       [&] { zone.replaceAt(0, rr("host", zuRRType::kMX, "5|mx")); },
       {1, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1}},
      {"merge", [&] { zone.merge(other); }, {2, 0, 1, 1, 1, 1, 0, 0, 3, 1, 1, 1}},
      {"add the zone TTL",
       [&] { zone.add(zuResourceRecord(nullptr, "", "60", 300, "", "", true), 1); },
       {2, 0, 1, 1, 1, 1, 0, 0, 3, 1, 1, 1}},
      {"move", [&] { zone.move(0, 2); }, {2, 0, 1, 1, 1, 1, 0, 0, 3, 1, 1, 1}},
      {"sort",
       [&] { zone.sort(zuRecordCollection::kSortByType, false); },
       {2, 0, 1, 1, 1, 1, 0, 0, 3, 1, 1, 1}},
      {"remove all of every type",
       [&] { zone.removeAll(nullptr, zuRRType::kAny); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"add again",
       [&] { zone.add(rr("x", zuRRType::kA, "10.0.0.9"), 2); },
       {0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0}},
      {"clear", [&] { zone.clear(); }, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    countsOf(zone);  // fill the cache, so a stale entry would show
    s.change();
    EXPECT_EQ(countsOf(zone), s.expected);
    EXPECT_EQ(countsOf(zone), s.expected);  // and again from the cache
  }
  EXPECT_EQ(zone.zoneTTL(), "60");
}

TEST(zuRecordCollection, RecordAtWalksByTypeAndTagAndResumes) {
  zuRecordCollection zone("example.com.");
  EXPECT_EQ(zone.recordAt(3, 0, 0), nullptr);
  std::vector<zuResourceRecord*> tag1;
  std::vector<zuResourceRecord*> soas;
  for (int i = 0; i < 6; ++i) {
    zuResourceRecord* a =
        zone.add(rr("a" + std::to_string(i), zuRRType::kA, "10.0.0.1"), i % 2 == 0 ? 1u : 2u);
    if (i % 2 == 0) tag1.push_back(a);
    zone.add(rr("m" + std::to_string(i), zuRRType::kMX, "1|x"), 1);
    if (i < 3) soas.push_back(zone.add(rr("s" + std::to_string(i), zuRRType::kSOA, "a|b|1"), 3));
  }
  for (u32 i = 0; i < 3; ++i) EXPECT_EQ(zone.recordAt(i, zuRRType::kSOA, 0), soas[i]) << i;
  EXPECT_EQ(zone.recordAt(3, zuRRType::kSOA, 0), nullptr);

  // Interleaved walks of other queries, steps back and repeats: each answer
  // is the one a walk from the start would give.
  const std::vector<std::pair<u32, zuResourceRecord*>> walk = {
      {0, tag1[0]}, {1, tag1[1]}, {1, tag1[1]}, {2, tag1[2]},
      {0, tag1[0]}, {2, tag1[2]}, {3, nullptr}, {1, tag1[1]}};
  for (const auto& [index, expected] : walk)
    EXPECT_EQ(zone.recordAt(index, zuRRType::kA, 1), expected) << index;
  for (const auto& [index, expected] : walk) {
    EXPECT_EQ(zone.recordAt(index, zuRRType::kA, 1), expected) << index;
    zone.recordAt(index, zuRRType::kA, 2);
    zone.recordAt(index + 1, zuRRType::kAny, 1);
  }
  // After a change the walk starts over: the new record is found at its place.
  EXPECT_EQ(zone.recordAt(2, zuRRType::kA, 1), tag1[2]);
  zone.remove(tag1[1]);
  EXPECT_EQ(zone.recordAt(1, zuRRType::kA, 1), tag1[2]);
  EXPECT_EQ(zone.recordAt(2, zuRRType::kA, 1), nullptr);

  // Any type with a tag walks the store: by type, insertion order within it.
  EXPECT_EQ(zone.recordAt(0, zuRRType::kAny, 1), tag1[0]);
  EXPECT_EQ(zone.recordAt(0, zuRRType::kAny, 3), soas[0]);
}

TEST(zuRecordCollection, AddKeepsNamesRelativeAndTTLRecordApart) {
  zuRecordCollection zone("example.com.");
  zuResourceRecord* r = zone.addRecord("www.example.com.", "3600", zuRRType::kMX,
                                       tabs("10|mail.example.com."), "c", "7", true);
  EXPECT_EQ(r->name(), "www");
  EXPECT_EQ(r->data(), tabs("10|mail"));
  EXPECT_EQ(r->aging(), "7");
  EXPECT_EQ(r->collection(), &zone);
  EXPECT_EQ(r->fullName(), "www.example.com.");
  EXPECT_EQ(zone.indexOf(r, 1), 0u);
  EXPECT_TRUE(zone.contains(r));
  const zuResourceRecord outside = *r;
  EXPECT_FALSE(zone.contains(&outside));

  EXPECT_EQ(zone.add(zuResourceRecord(nullptr, "", "1h", zuRRType::kTTL, "", "", true), 1),
            nullptr);
  EXPECT_EQ(zone.count(zuRRType::kAny, 0), 1u);
  EXPECT_EQ(zone.zoneTTL(), "1h");
  EXPECT_EQ(zone.ttlRecord().type(), zuRRType::kTTL);
}

TEST(zuRecordCollection, MoveChangeTypeAndReplaceKeepOutputPlaces) {
  zuRecordCollection zone("");
  zuResourceRecord* rs[5];
  for (int i = 0; i < 5; ++i)
    rs[i] = zone.add(rr(std::string(1, static_cast<char>('a' + i)), zuRRType::kA, "10.0.0.1"), 1);
  zone.move(0, 3);
  EXPECT_EQ(namesInOrder(zone), (std::vector<std::string>{"b", "c", "a", "d", "e"}));
  zone.move(4, 0);
  EXPECT_EQ(namesInOrder(zone), (std::vector<std::string>{"e", "b", "c", "a", "d"}));
  zone.move(1, 99);  // to the end
  EXPECT_EQ(namesInOrder(zone), (std::vector<std::string>{"e", "c", "a", "d", "b"}));
  zone.move(99, 0);  // nothing there
  EXPECT_EQ(namesInOrder(zone).front(), "e");

  zuResourceRecord* c = zone.changeType(rs[2], zuRRType::kCNAME);
  EXPECT_EQ(c->type(), zuRRType::kCNAME);
  EXPECT_EQ(c->name(), "c");
  EXPECT_EQ(zone.recordAt(1, zuRRType::kAny, 0), c);
  EXPECT_EQ(zone.recordAt(0, zuRRType::kCNAME, 0), c);
  EXPECT_EQ(zone.changeType(c, zuRRType::kCNAME), c);
  const zuResourceRecord stranger = rr("s", zuRRType::kA, "");
  EXPECT_EQ(zone.changeType(const_cast<zuResourceRecord*>(&stranger), zuRRType::kMX), &stranger);

  // Replacing a record by itself (a copy is taken before its entry goes).
  zuResourceRecord* same = zone.replaceAt(1, *c);
  EXPECT_EQ(same->name(), "c");
  zuResourceRecord source = rr("new", zuRRType::kMX, "5|m");
  source.setId(42);
  source.setAging("x");
  source.properties().set("k", "v");
  zuResourceRecord* replaced = zone.replaceAt(1, source);
  EXPECT_EQ(replaced->type(), zuRRType::kMX);
  EXPECT_EQ(replaced->name(), "new");
  EXPECT_EQ(replaced->data(), tabs("5|m"));
  EXPECT_EQ(replaced->aging(), "");  // the target's aging stays
  EXPECT_EQ(replaced->properties().getString("k", ""), "v");
  EXPECT_EQ(zone.findById(42), replaced);
  EXPECT_EQ(zone.recordAt(1, zuRRType::kAny, 0), replaced);
  EXPECT_EQ(zone.replaceAt(5, source), nullptr);
}

TEST(zuRecordCollection, ReplaceMakesNamesRelativeByTheNewType) {
  zuRecordCollection zone("example.com.");
  zone.add(rr("a", zuRRType::kA, "10.0.0.1"), 1);
  zuResourceRecord* r = zone.replaceAt(0, rr("a", zuRRType::kCNAME, "host.example.com."));
  EXPECT_EQ(r->data(), "host");
}

TEST(zuRecordCollection, FindIndexOfAndFindIf) {
  zuRecordCollection zone("example.com.");
  zone.add(rr("www", zuRRType::kA, "10.0.0.1"), 1);
  zuResourceRecord* b = zone.add(rr("mail", zuRRType::kMX, "10|MX"), 2);
  zuResourceRecord* c = zone.add(rr("ftp", zuRRType::kA, "10.0.0.2"), 1);
  EXPECT_TRUE(zone.find("MAIL", zuRRType::kMX, tabs("10|mx"), 2));
  EXPECT_TRUE(zone.find("mail", zuRRType::kMX, tabs("10|mx"), 0));
  EXPECT_FALSE(zone.find("mail", zuRRType::kMX, tabs("10|mx"), 1));
  EXPECT_EQ(zone.indexOf(c, 0), 2u);
  EXPECT_EQ(zone.indexOf(c, 1), 1u);
  EXPECT_EQ(zone.indexOf(b, 1), 1u);
  const auto isMX = [](const zuResourceRecord& r, u32 tag, void* context) {
    ++*static_cast<int*>(context);
    return r.type() == zuRRType::kMX && tag == 2;
  };
  int calls = 0;
  EXPECT_EQ(zone.findIf(isMX, &calls), b);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(zone.findById(7), nullptr);
}

TEST(zuRecordCollection, SelectCountsAndCopiesAbsolute) {
  zuRecordCollection zone("example.com.");
  zone.add(rr("www", zuRRType::kA, "10.0.0.1"), 1);
  zone.add(rr("WWW", zuRRType::kMX, "10|mail"), 2);
  zone.add(rr("ftp", zuRRType::kA, "10.0.0.2"), 1);
  EXPECT_EQ(zone.select(nullptr, "www.example.com.", zuRRType::kAny, 0), 2u);
  EXPECT_EQ(zone.select(nullptr, "www", zuRRType::kA, 0), 1u);
  EXPECT_EQ(zone.select(nullptr, nullptr, zuRRType::kA, 1), 2u);

  zuRecordCollection out("com.");
  out.add(rr("stale", zuRRType::kA, "10.0.0.9"), 1);
  EXPECT_EQ(zone.select(&out, "www.example.com.", zuRRType::kAny, 0), 2u);
  EXPECT_EQ(namesInOrder(out), (std::vector<std::string>{"www.example", "WWW.example"}));
  EXPECT_EQ(out.count(zuRRType::kMX, 2), 1u);                             // tags kept
  EXPECT_EQ(out.recordAt(0, zuRRType::kMX, 0)->data(), tabs("10|mail"));  // rdata as stored

  // Into itself: refused, nothing lost.
  EXPECT_EQ(zone.select(&zone, nullptr, zuRRType::kAny, 0), 0u);
  EXPECT_EQ(zone.count(zuRRType::kAny, 0), 3u);
}

TEST(zuRecordCollection, MergeAcrossOriginsQualifiesNames) {
  zuRecordCollection source("a.example.");
  source.add(zuResourceRecord(nullptr, "www", "60", zuRRType::kCNAME, "host", "c", "9", false), 2);
  source.add(rr("mx", zuRRType::kMX, "10|"), 1);  // empty name field: the origin
  source.add(rr("sub.b.example.", zuRRType::kTXT, "text|more"), 1);
  source.properties().set("p", "1");

  zuRecordCollection dest("b.example.");
  dest.merge(source);
  const auto order = outputOrder(dest);
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0]->name(), "www.a.example.");
  EXPECT_EQ(order[0]->data(), "host.a.example.");
  EXPECT_EQ(order[0]->TTL(), "60");
  EXPECT_EQ(order[0]->comment(), "c");
  EXPECT_FALSE(order[0]->enabled());
  EXPECT_EQ(order[0]->aging(), "");
  EXPECT_EQ(dest.count(zuRRType::kCNAME, 2), 1u);
  EXPECT_EQ(order[1]->data(), tabs("10|a.example."));
  EXPECT_EQ(order[2]->name(), "sub");
  EXPECT_EQ(order[2]->data(), tabs("text|more"));
  EXPECT_EQ(dest.properties().getString("p", ""), "1");

  // Equal origins (in any case): records as they are, aging included.
  zuRecordCollection same("A.EXAMPLE.");
  same.merge(source);
  EXPECT_EQ(outputOrder(same)[0]->name(), "www");
  EXPECT_EQ(outputOrder(same)[0]->aging(), "9");

  source.merge(source);
  EXPECT_EQ(source.count(zuRRType::kAny, 0), 3u);
}

TEST(zuRecordCollection, CopyAndAssignment) {
  zuRecordCollection zone("example.com.");
  zone.setZoneTTL("300");
  zone.add(rr("b", zuRRType::kA, "10.0.0.1"), 2);
  zone.add(rr("a", zuRRType::kA, "10.0.0.2"), 1);
  zone.properties().set("k", "v");

  zuRecordCollection copy(zone);
  EXPECT_EQ(copy.origin(), "example.com.");
  EXPECT_EQ(copy.zoneTTL(), "300");
  EXPECT_EQ(namesInOrder(copy), namesInOrder(zone));
  EXPECT_EQ(copy.count(zuRRType::kA, 2), 1u);
  EXPECT_EQ(copy.recordAt(0, zuRRType::kAny, 0)->collection(), &copy);
  EXPECT_EQ(copy.properties().getString("k", ""), "v");

  zuRecordCollection assigned("other.");
  assigned.add(rr("gone", zuRRType::kMX, "1|x"), 1);
  assigned = zone;
  EXPECT_EQ(assigned.origin(), "example.com.");
  EXPECT_EQ(namesInOrder(assigned), namesInOrder(zone));
  EXPECT_EQ(assigned.count(zuRRType::kMX, 0), 0u);
  zuRecordCollection& alias = assigned;
  assigned = alias;  // self-assignment keeps everything
  EXPECT_EQ(assigned.count(zuRRType::kAny, 0), 2u);
}

TEST(zuRecordCollection, SetOriginRenormalises) {
  zuRecordCollection zone("");
  zone.add(rr("www.example.com.", zuRRType::kCNAME, "host.example.com."), 1);
  zone.setOrigin("example.com.", false);
  EXPECT_EQ(namesInOrder(zone)[0], "www.example.com.");
  zone.setOrigin(std::string("example.com."), true);
  EXPECT_EQ(namesInOrder(zone)[0], "www");
  EXPECT_EQ(zone.recordAt(0, zuRRType::kCNAME, 0)->data(), "host");
}

}  // namespace

namespace {

TEST(zuRecordCollection, IncrementSerialAdvancesOneSOAOnly) {
  zuRecordCollection zone("example.com.");
  zone.add(rr("", zuRRType::kNS, "ns1"), 1);
  EXPECT_EQ(zone.incrementSerial(), 0u);
  EXPECT_EQ(zone.recordAt(0, zuRRType::kNS, 0)->data(), "ns1");

  zuResourceRecord* first = zone.add(rr("", zuRRType::kSOA, "ns1|host|5|3600|600|86400|300"), 1);
  zuResourceRecord* second = zone.add(rr("", zuRRType::kSOA, "ns1|host|7"), 2);
  EXPECT_EQ(zone.incrementSerial(), 6u);
  EXPECT_EQ(first->data(), tabs("ns1|host|6|3600|600|86400|300"));
  EXPECT_EQ(second->data(), tabs("ns1|host|7"));

  // A serial that is no number counts as 0, which starts today's date series.
  first->setField(2, "x");
  const u32 next = zone.incrementSerial();
  EXPECT_EQ(next, zuNextSerial(0));
  EXPECT_EQ(next % 100, 1u);
  EXPECT_EQ(first->field(2), std::to_string(next));
}

}  // namespace

namespace {

// Every way of changing a stored record in place: the A record www of
// b.example. becomes an MX. The collection files it under MX at the same
// address and output place, and its names mean what they meant at the source.
TEST(zuRecordCollection, ARecordChangedInPlaceIsFiledAnewAndKeepsItsNames) {
  zuRecordCollection a("a.example.");
  zuResourceRecord* fromA = a.add(rr("www", zuRRType::kMX, "20|mx"), 1);
  zuRecordCollection upper("B.Example.");
  zuResourceRecord* fromUpper = upper.add(rr("www", zuRRType::kMX, "20|mx"), 1);
  const zuResourceRecord absolute = rr("www.a.example.", zuRRType::kMX, "20|mx.a.example.");
  const auto streamed = [](const zuResourceRecord& source, bool recordForm) {
    zuDynamicNetWriter w;
    if (recordForm)
      source.write(w);
    else
      w << source;
    return std::vector<u8>(w.getStart(), w.getStart() + w.size());
  };
  const std::vector<u8> streamForm = streamed(absolute, false);
  const std::vector<u8> recordForm = streamed(absolute, true);

  struct Case {
    const char* what;
    std::function<void(zuResourceRecord& target, zuRecordCollection& zone)> change;
    const char* name;
    const char* rdata;
  };
  const Case cases[] = {
      {"assigned from another origin", [&](zuResourceRecord& t, zuRecordCollection&) { t = *fromA; },
       "www.a.example.", "20|mx.a.example."},
      {"moved from another origin",
       [&](zuResourceRecord& t, zuRecordCollection&) {
         zuRecordCollection source(a);
         t = std::move(*source.recordAt(0, zuRRType::kAny, 0));
       },
       "www.a.example.", "20|mx.a.example."},
      {"assigned a free record", [&](zuResourceRecord& t, zuRecordCollection&) { t = absolute; },
       "www.a.example.", "20|mx.a.example."},
      {"assigned from the same origin in another case",
       [&](zuResourceRecord& t, zuRecordCollection&) { t = *fromUpper; }, "www", "20|mx"},
      {"assigned from its own collection",
       [&](zuResourceRecord& t, zuRecordCollection& zone) {
         t = *zone.recordAt(0, zuRRType::kMX, 0);
       },
       "mail", "10|mx"},
      {"stream form read into it",
       [&](zuResourceRecord& t, zuRecordCollection&) {
         zuNetReader reader(streamForm.data(), static_cast<u32>(streamForm.size()));
         reader >> t;
       },
       "www.a.example.", "20|mx.a.example."},
      {"record form read into it",
       [&](zuResourceRecord& t, zuRecordCollection&) {
         zuNetReader reader(recordForm.data(), static_cast<u32>(recordForm.size()));
         t.read(reader);
       },
       "www.a.example.", "20|mx.a.example."},
      {"setType", [&](zuResourceRecord& t, zuRecordCollection&) { t.setType(zuRRType::kMX); },
       "www", "10.0.0.1"},
      {"filled by the parser",
       [&](zuResourceRecord& t, zuRecordCollection&) {
         std::istringstream in("www.a.example. MX 20 mx.a.example.\n");
         zuMasterFileParser parser("z", "");
         parser.setStream(in, "z");
         ASSERT_TRUE(parser.fillRecord(t));
       },
       "www.a.example.", "20|mx.a.example."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zuRecordCollection zone("b.example.");
    zuResourceRecord* target = zone.add(rr("www", zuRRType::kA, "10.0.0.1"), 1);
    zone.add(rr("ftp", zuRRType::kA, "10.0.0.2"), 1);
    zone.add(rr("mail", zuRRType::kMX, "10|mx"), 2);
    // Fill the cache and the cursor, so that stale ones would show.
    ASSERT_EQ(zone.count(zuRRType::kA, 0), 2u);
    ASSERT_EQ(zone.count(zuRRType::kMX, 1), 0u);
    ASSERT_EQ(zone.recordAt(1, zuRRType::kA, 0)->name(), "ftp");

    c.change(*target, zone);

    EXPECT_EQ(target->type(), zuRRType::kMX);
    EXPECT_EQ(target->name(), c.name);
    EXPECT_EQ(target->data(), tabs(c.rdata));
    EXPECT_EQ(target->collection(), &zone);
    EXPECT_TRUE(zone.contains(target));
    EXPECT_EQ(zone.recordAt(0, zuRRType::kAny, 0), target);  // its output place
    EXPECT_EQ(zone.count(zuRRType::kA, 0), 1u);
    EXPECT_EQ(zone.recordAt(0, zuRRType::kA, 0)->name(), "ftp");
    EXPECT_EQ(zone.recordAt(1, zuRRType::kA, 0), nullptr);
    EXPECT_EQ(zone.count(zuRRType::kMX, 0), 2u);
    EXPECT_EQ(zone.count(zuRRType::kMX, 1), 1u);  // its tag stays
    EXPECT_EQ(zone.recordAt(1, zuRRType::kMX, 0), target);
    EXPECT_TRUE(zone.find(c.name, zuRRType::kMX, tabs(c.rdata), 1));
    // And back again through changeType, which finds it under MX.
    EXPECT_EQ(zone.changeType(target, zuRRType::kA), target);
    EXPECT_EQ(zone.count(zuRRType::kMX, 0), 1u);
    EXPECT_EQ(zone.recordAt(1, zuRRType::kA, 0), target);
  }
}

// The TTL record takes the fields as they are, whatever collection it last
// came from.
TEST(zuRecordCollection, TheTTLRecordTakesItsFieldsAsTheyAre) {
  zuRecordCollection a("a.example.");
  zuRecordCollection c("c.example.");
  zuRecordCollection zone("b.example.");
  zone.add(zuResourceRecord(&a, "", "60", zuRRType::kTTL, "", "", true), 1);
  zone.add(zuResourceRecord(&c, "", "120", zuRRType::kTTL, "", "", true), 1);
  EXPECT_EQ(zone.ttlRecord().name(), "");
  EXPECT_EQ(zone.zoneTTL(), "120");
  EXPECT_EQ(zone.ttlRecord().collection(), &c);
  zuRecordCollection copy("d.example.");
  copy.add(zuResourceRecord(&a, "", "1", zuRRType::kTTL, "", "", true), 1);
  copy = zone;
  EXPECT_EQ(copy.ttlRecord().name(), "");
  EXPECT_EQ(copy.zoneTTL(), "120");
}

// A record read from a truncated record form keeps its place and fields.
TEST(zuRecordCollection, AStoredRecordIsUnchangedByATruncatedRead) {
  zuRecordCollection zone("b.example.");
  zuResourceRecord* target = zone.add(rr("www", zuRRType::kA, "10.0.0.1"), 1);
  zuDynamicNetWriter w;
  rr("x", zuRRType::kMX, "1|m").write(w);
  zuNetReader reader(w.getStart(), w.size() - 1);
  EXPECT_THROW(target->read(reader), std::out_of_range);
  EXPECT_EQ(target->type(), zuRRType::kA);
  EXPECT_EQ(target->name(), "www");
  EXPECT_EQ(zone.recordAt(0, zuRRType::kA, 0), target);
}

// The source of a replacement may belong to another origin.
TEST(zuRecordCollection, ReplaceTakesNamesOfAnotherOriginAsAbsolute) {
  zuRecordCollection a("a.example.");
  const zuResourceRecord* source = a.add(rr("www", zuRRType::kCNAME, "host"), 1);
  zuRecordCollection zone("b.example.");
  zone.add(rr("x", zuRRType::kA, "10.0.0.1"), 1);
  zuResourceRecord* r = zone.replaceAt(0, *source);
  EXPECT_EQ(r->name(), "www.a.example.");
  EXPECT_EQ(r->data(), "host.a.example.");
  EXPECT_EQ(zone.recordAt(0, zuRRType::kCNAME, 0), r);
}

}  // namespace

namespace {

// The serial that advances is the one the written zone carries.
TEST(zuRecordCollection, IncrementSerialAdvancesTheSOAThatIsWritten) {
  struct Added {
    u32 type;
    bool enabled;
    u32 serial;
  };
  struct Case {
    const char* what;
    std::vector<Added> records;  // after a leading comment line
    std::pair<u32, u32> move;    // output indexes; {0, 0} for none
    int advanced;                // index into records; -1 for none
  };
  const Case cases[] = {
      {"a disabled SOA stored first",
       {{zuRRType::kSOA, false, 5}, {zuRRType::kNS, true, 0}, {zuRRType::kSOA, true, 7}},
       {0, 0},
       2},
      {"the live SOA that leads the output, stored second",
       {{zuRRType::kSOA, true, 5}, {zuRRType::kSOA, true, 7}},
       {2, 1},
       1},
      {"a disabled SOA leads the output",
       {{zuRRType::kNS, true, 0}, {zuRRType::kSOA, false, 3}, {zuRRType::kSOA, true, 4}},
       {2, 1},
       2},
      {"only disabled SOA records", {{zuRRType::kSOA, false, 5}, {zuRRType::kNS, true, 0}}, {0, 0},
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zuRecordCollection zone("example.com.");
    zone.add(zuResourceRecord(nullptr, "", "", 0, "", "note", true), 1);
    std::vector<zuResourceRecord*> added;
    for (const Added& a : c.records) {
      const std::string rdata = a.type == zuRRType::kSOA
                                    ? "ns1|host|" + std::to_string(a.serial) + "|3600|600|86400|300"
                                    : "ns1";
      zuResourceRecord* r = zone.add(rr("", a.type, rdata), 1);
      r->setEnabled(a.enabled);
      added.push_back(r);
    }
    if (c.move.first != c.move.second) zone.move(c.move.first, c.move.second);

    const u32 next = zone.incrementSerial();
    for (std::size_t i = 0; i < added.size(); ++i) {
      if (c.records[i].type != zuRRType::kSOA) continue;
      const bool advanced = static_cast<int>(i) == c.advanced;
      const u32 expected = advanced ? zuNextSerial(c.records[i].serial) : c.records[i].serial;
      EXPECT_EQ(added[i]->field(2), std::to_string(expected)) << i;
      if (advanced) {
        EXPECT_EQ(next, expected);
      }
    }
    if (c.advanced < 0) {
      EXPECT_EQ(next, 0u);
      continue;
    }
    // The zone is written with the advanced SOA, right after the comment.
    std::ostringstream text;
    zone.writeZone(text, false);
    std::istringstream lines(text.str());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, ";note");
    std::getline(lines, line);
    EXPECT_EQ(line, "@\t\tIN\tSOA\tns1\thost\t" + std::to_string(next) + "\t3600\t600\t86400\t300");
  }
}

}  // namespace
