// Resource records: names relative to their collection's origin, the
// TAB-joined rdata fields, copies and equality.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>

#include "DnsTestSupport.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace {

using tw::test::tabs;

// An aging text in the enabled flag's place must not compile into "enabled".
static_assert(!std::is_constructible_v<zuResourceRecord, zuRecordCollection*, const char*,
                                       const char*, u32, const char*, const char*, const char*>);
static_assert(std::is_constructible_v<zuResourceRecord, zuRecordCollection*, const char*,
                                      const char*, u32, const char*, const char*, const char*,
                                      bool>);

TEST(zuResourceRecord, EmptyRecord) {
  const zuResourceRecord r;
  EXPECT_EQ(r.id(), 0xFFFFFFFFu);
  EXPECT_EQ(r.type(), 0u);
  EXPECT_TRUE(r.enabled());
  EXPECT_EQ(r.collection(), nullptr);
  EXPECT_TRUE(r.isBlank(false));
  EXPECT_EQ(r.fieldCount(), 1u);
  EXPECT_EQ(r.ttlValue(), 0xFFFFFFFFu);
  EXPECT_EQ(zuResourceRecord::separator, '\t');
}

TEST(zuResourceRecord, ConstructionUnderAnOriginHoldsNamesRelative) {
  zuRecordCollection zone("example.com.");
  struct Case {
    const char* owner;
    const char* expected;
  };
  const Case cases[] = {
      {"www.example.com.", "www"},
      {"EXAMPLE.COM.", ""},
      {"wwwexample.com.", "wwwexample.com."},
      {"www.example.com", "www.example.com"},
      {"www", "www"},
  };
  for (const Case& c : cases) {
    const zuResourceRecord r(&zone, c.owner, "3600", zuRRType::kA, "192.0.2.1", "", true);
    EXPECT_EQ(r.name(), c.expected) << c.owner;
    EXPECT_EQ(r.collection(), &zone);
  }
  const zuResourceRecord mx(&zone, "@x", "", zuRRType::kMX, tabs("10|mail.example.com."), "c",
                            "[AGE:1]", false);
  EXPECT_EQ(mx.data(), tabs("10|mail"));
  EXPECT_EQ(mx.aging(), "[AGE:1]");
  EXPECT_FALSE(mx.enabled());

  // A free record keeps what it was given.
  const zuResourceRecord free(nullptr, "www.example.com.", "", zuRRType::kMX,
                              tabs("10|mail.example.com."), "", true);
  EXPECT_EQ(free.name(), "www.example.com.");
  EXPECT_EQ(free.data(), tabs("10|mail.example.com."));
}

TEST(zuResourceRecord, SettersNormaliseOnlyNamesAndOnlyInACollection) {
  zuRecordCollection zone("example.com.");
  zuResourceRecord r(&zone, "", "", zuRRType::kSOA, "", "", true);
  r.setName("ns.example.com.");
  EXPECT_EQ(r.name(), "ns");
  r.setData(tabs("ns1.example.com.|hostmaster.example.com.|1|2|3|4|5"));
  EXPECT_EQ(r.data(), tabs("ns1|hostmaster|1|2|3|4|5"));
  r.setTTL("1h");
  EXPECT_EQ(r.TTL(), "1h");
  EXPECT_EQ(r.ttlValue(), 3600u);
  r.setComment("x.example.com.");
  EXPECT_EQ(r.comment(), "x.example.com.");

  zuResourceRecord free;
  EXPECT_FALSE(free.normalizeName());
  EXPECT_FALSE(free.normalizeData());
  free.setName("ns.example.com.");
  EXPECT_EQ(free.name(), "ns.example.com.");
}

TEST(zuResourceRecord, QualifyAgainstTheOrigin) {
  zuRecordCollection zone("example.com.");
  zuRecordCollection root(".");
  zuRecordCollection none("");
  const zuResourceRecord inZone(&zone, "www", "", zuRRType::kCNAME, "", "", true);
  const zuResourceRecord inRoot(&root, "www", "", zuRRType::kCNAME, "", "", true);
  const zuResourceRecord noOrigin(&none, "www", "", zuRRType::kCNAME, "", "", true);
  const zuResourceRecord free(nullptr, "www", "", zuRRType::kCNAME, "", "", true);

  EXPECT_EQ(inZone.fullName(), "www.example.com.");
  EXPECT_EQ(inZone.qualify(""), "example.com.");
  EXPECT_EQ(inZone.qualify("host.other."), "host.other.");
  EXPECT_EQ(inRoot.fullName(), "www.");
  EXPECT_EQ(inRoot.qualify(""), ".");
  EXPECT_EQ(noOrigin.fullName(), "www");
  EXPECT_EQ(noOrigin.qualify(""), "");
  EXPECT_EQ(free.fullName(), "www");
  EXPECT_EQ(inZone.field(0, true), "example.com.");
  EXPECT_EQ(inZone.field(0, false), "");
}

TEST(zuResourceRecord, Fields) {
  zuRecordCollection zone("example.com.");
  zuResourceRecord r(nullptr, "", "", zuRRType::kTXT, "", "", true);
  EXPECT_EQ(r.fieldCount(), 1u);
  r.setData(tabs("a|"));
  EXPECT_EQ(r.fieldCount(), 2u);
  r.setData("x");
  r.setField(2, "5");
  EXPECT_EQ(r.data(), tabs("x||5"));
  r.setField(1, "mid");
  EXPECT_EQ(r.data(), tabs("x|mid|5"));
  r.setField(0, "");
  EXPECT_EQ(r.data(), tabs("|mid|5"));
  EXPECT_EQ(r.field(1), "mid");
  EXPECT_EQ(r.field(9), "");

  // RRSIG: the signer (field 7) of an empty field is the origin; setField
  // strips the origin from it.
  zuResourceRecord sig(&zone, "", "", zuRRType::kRRSIG,
                       tabs("A|8|3|3600|20300101000000|20200101000000|1234||c2ln"), "", true);
  EXPECT_EQ(sig.field(7, true), "example.com.");
  EXPECT_EQ(sig.field(8, true), "c2ln");
  sig.setField(7, "sub.example.com.");
  EXPECT_EQ(sig.field(7), "sub");
  sig.setField(8, "x.example.com.");  // not a name field
  EXPECT_EQ(sig.field(8), "x.example.com.");

  EXPECT_TRUE(zuResourceRecord::isFieldEmpty(tabs("a||b"), 1));
  EXPECT_TRUE(zuResourceRecord::isFieldEmpty(tabs("a||b"), 3));
  EXPECT_FALSE(zuResourceRecord::isFieldEmpty(tabs("a||b"), 2));
  EXPECT_TRUE(zuResourceRecord::isFieldEmpty("", 0));
}

TEST(zuResourceRecord, CopiesAreFreeAndAssignmentKeepsTheTargetsCollectionAndNames) {
  zuRecordCollection a("a.example.");
  zuRecordCollection b("b.example.");
  zuResourceRecord source(&a, "www.a.example.", "60", zuRRType::kA, "192.0.2.1", "c", "age", false);
  source.setId(7);
  source.properties().set("Key", "v");

  const zuResourceRecord copy(source);
  EXPECT_EQ(copy.collection(), nullptr);
  EXPECT_EQ(copy.id(), 7u);
  EXPECT_EQ(copy.name(), "www");
  EXPECT_EQ(copy.aging(), "age");
  EXPECT_EQ(copy.properties().valueRef("key"), "v");
  EXPECT_TRUE(copy.equals(source, true, false, false));

  // Relative to a.example., the name stays that name under b.example.
  zuResourceRecord target(&b, "x", "", 0, "", "", true);
  target = source;
  EXPECT_EQ(target.collection(), &b);
  EXPECT_EQ(target.name(), "www.a.example.");
  EXPECT_EQ(target.id(), 7u);

  zuResourceRecord moved(std::move(target));
  EXPECT_EQ(moved.collection(), nullptr);
  EXPECT_EQ(moved.name(), "www.a.example.");
  zuResourceRecord moveTarget(&b, "y", "", 0, "", "", true);
  moveTarget = std::move(moved);
  EXPECT_EQ(moveTarget.collection(), &b);
  EXPECT_EQ(moveTarget.properties().valueRef("key"), "v");
}

TEST(zuResourceRecord, Equality) {
  const zuResourceRecord base(nullptr, "www", "3600", zuRRType::kA, "192.0.2.1", "Old", true);
  struct Case {
    zuResourceRecord other;
    bool caseSensitive;
    bool ignoreComment;
    bool ignoreEnabled;
    bool equal;
  };
  const Case cases[] = {
      {zuResourceRecord(nullptr, "WWW", "3600", 1, "192.0.2.1", "old", true), false, false, false,
       true},
      {zuResourceRecord(nullptr, "WWW", "3600", 1, "192.0.2.1", "old", true), true, false, false,
       false},
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.1", "old", true), true, false, false,
       true},
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.1", "new", true), true, false, false,
       false},
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.1", "new", true), true, true, false,
       true},
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.1", "Old", false), true, false, false,
       false},
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.1", "Old", false), true, false, true,
       true},
      {zuResourceRecord(nullptr, "www", "1h", 1, "192.0.2.1", "Old", true), false, false, false,
       false},
      {zuResourceRecord(nullptr, "www", "3600", 28, "192.0.2.1", "Old", true), false, false, false,
       false},
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.2", "Old", true), false, false, false,
       false},
      // Aging and id take no part.
      {zuResourceRecord(nullptr, "www", "3600", 1, "192.0.2.1", "Old", "[AGE:9]", true), true,
       false, false, true},
      // Equal up to the first NUL is not equal.
      {zuResourceRecord(nullptr, "www", "3600", 1, std::string("192.0.2.1\0x", 11), "Old", true),
       false, false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base.equals(c.other, c.caseSensitive, c.ignoreComment, c.ignoreEnabled), c.equal)
        << c.other.name() << " " << c.other.comment() << " " << c.caseSensitive;
  }
}

TEST(zuResourceRecord, BlankAndApex) {
  zuResourceRecord r;
  r.setComment("just a comment");
  EXPECT_FALSE(r.isBlank(false));
  EXPECT_TRUE(r.isBlank(true));
  EXPECT_FALSE(r.isApexNonAddress());
  for (u32 type : {zuRRType::kA, zuRRType::kAAAA, zuRRType::kNone}) {
    r.setType(type);
    EXPECT_FALSE(r.isApexNonAddress()) << type;
  }
  for (u32 type : {zuRRType::kNS, zuRRType::kMX, zuRRType::kSOA, zuRRType::kTTL}) {
    r.setType(type);
    EXPECT_TRUE(r.isApexNonAddress()) << type;
  }
  r.setName("www");
  EXPECT_FALSE(r.isApexNonAddress());
}

}  // namespace
