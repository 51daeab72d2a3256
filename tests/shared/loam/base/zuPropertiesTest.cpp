#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "loam/base/zuProperties.h"
#include "support/TestSupport.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entriesOf(const zuProperties& p) {
  Entries out;
  std::string name, value;
  for (u32 i = 0; p.getAt(i, name, value); ++i) out.emplace_back(name, value);
  EXPECT_EQ(out.size(), p.count());
  return out;
}

zuProperties make(const Entries& entries) {
  zuProperties p;
  for (const auto& [n, v] : entries) p.set(n, v);
  return p;
}

std::string rest(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- Names, order and the modified flag -------------------------------------

TEST(Properties, NamesFoldToLowerCaseForLookupAndOutput) {
  zuProperties p;
  p.set("Arguments", "-p 4153");
  std::string v;
  EXPECT_TRUE(p.get("ARGUMENTS", v));
  EXPECT_EQ(v, "-p 4153");
  EXPECT_TRUE(p.exists("arguments"));
  std::string text;
  ASSERT_TRUE(p.toString(text, false));
  EXPECT_EQ(text, "<arguments value=\"-p 4153\"/>");
  // Only ASCII letters fold.
  p.set("\xC4X", "1");
  EXPECT_EQ(entriesOf(p).back().first, "\xC4x");
}

TEST(Properties, OrderIsThatOfFirstAddition) {
  zuProperties p;
  p.set("b", "1");
  p.set("a", "2");
  p.set("c", "3");
  p.set("B", "4");
  EXPECT_EQ(entriesOf(p), (Entries{{"b", "4"}, {"a", "2"}, {"c", "3"}}));
  p.remove("b");
  p.set("b", "5");
  EXPECT_EQ(entriesOf(p), (Entries{{"a", "2"}, {"c", "3"}, {"b", "5"}}));
}

TEST(Properties, ModifiedFlagFollowsRealChangesOnly) {
  zuProperties p;
  EXPECT_FALSE(p.isModified());
  p.set("a", "1");
  EXPECT_TRUE(p.isModified());
  p.setModified(false);
  p.set("A", "1");
  EXPECT_FALSE(p.isModified()) << "same value again";
  p.remove("missing");
  EXPECT_FALSE(p.isModified());
  p.set("a", "2");
  EXPECT_TRUE(p.isModified());
  p.setModified(false);
  p.remove("A");
  EXPECT_TRUE(p.isModified());
  p.setModified(false);
  p.clear();
  EXPECT_TRUE(p.isModified());
}

TEST(Properties, LookupsOfMissingNames) {
  zuProperties p;
  p.set("a", "1");
  std::string v = "untouched", n = "untouched";
  EXPECT_FALSE(p.get("b", v));
  EXPECT_EQ(v, "untouched");
  EXPECT_EQ(p.getString("b", "def"), "def");
  EXPECT_EQ(p.getString("A", "def"), "1");
  EXPECT_FALSE(p.getAt(1, n, v));
  EXPECT_EQ(n, "untouched");
  EXPECT_EQ(v, "untouched");
  const std::string& e1 = p.valueRef("b");
  const std::string& e2 = zuProperties().valueRef("c");
  EXPECT_TRUE(e1.empty());
  EXPECT_EQ(&e1, &e2) << "one shared empty value";
  EXPECT_EQ(p.valueRef("A"), "1");
}

TEST(Properties, AddAllSetsInTheOthersOrderAndIgnoresItself) {
  zuProperties p = make({{"x", "1"}, {"y", "2"}});
  zuProperties q = make({{"z", "3"}, {"x", "9"}});
  p.addAll(q);
  EXPECT_EQ(entriesOf(p), (Entries{{"x", "9"}, {"y", "2"}, {"z", "3"}}));
  p.addAll(p);
  EXPECT_EQ(p.count(), 3u);
}

TEST(Properties, KeyLessNoCaseIgnoresCase) {
  using E = zuProperties::Entry;
  EXPECT_TRUE(zuProperties::keyLessNoCase(E{"ABC", ""}, E{"abd", ""}));
  EXPECT_FALSE(zuProperties::keyLessNoCase(E{"b", ""}, E{"A", ""}));
  EXPECT_FALSE(zuProperties::keyLessNoCase(E{"a", ""}, E{"A", ""}));
}

// ---- Copies ---------------------------------------------------------------

TEST(Properties, CopiesAreIndependentOfTheirSource) {
  auto src = std::make_unique<zuProperties>(make({{"b", "1"}, {"a", "2"}}));
  src->name() = "sec";
  src->setModified(false);
  zuProperties copy(*src);
  zuProperties assigned;
  assigned.set("old", "x");
  assigned = *src;
  src->set("b", "changed");
  src->set("c", "new");
  src.reset();  // a copy that pointed into the source would now dangle
  for (const zuProperties* p : {&copy, &assigned}) {
    EXPECT_EQ(entriesOf(*p), (Entries{{"b", "1"}, {"a", "2"}}));
    EXPECT_EQ(p->name(), "sec");
    EXPECT_FALSE(p->isModified());
  }
  copy.set("a", "3");
  copy.remove("b");
  EXPECT_EQ(entriesOf(assigned), (Entries{{"b", "1"}, {"a", "2"}}));
  assigned.assign(assigned);
  EXPECT_EQ(entriesOf(assigned), (Entries{{"b", "1"}, {"a", "2"}}));
}

// ---- Typed views ------------------------------------------------------------

struct TypedCase {
  const char* label;
  std::string value;
  bool intOk;
  i32 intValue;
  bool uintOk;
  u32 uintValue;
  bool getBool;
  bool boolValue;  // getBoolValue's flag
};

class PropertiesTyped : public ::testing::TestWithParam<TypedCase> {};

TEST_P(PropertiesTyped, ReadsTheValueAsNumbersAndFlags) {
  const TypedCase& c = GetParam();
  zuProperties p;
  p.set("k", c.value);
  i32 i = -99;
  EXPECT_EQ(p.getInt("K", i), c.intOk);
  EXPECT_EQ(i, c.intOk ? c.intValue : -99) << "out is written only on success";
  u32 u = 99;
  EXPECT_EQ(p.getUInt("k", u), c.uintOk);
  EXPECT_EQ(u, c.uintOk ? c.uintValue : 99u);
  bool f = false;
  EXPECT_EQ(p.findBool("k", f), c.intOk);
  if (c.intOk) {
    EXPECT_EQ(f, c.intValue != 0);
  }
  EXPECT_EQ(p.getBool("k"), c.getBool);
  bool b = !c.boolValue;
  EXPECT_TRUE(p.getBoolValue("k", b));
  EXPECT_EQ(b, c.boolValue);
  EXPECT_EQ(p.getBoolValueOr("k", !c.boolValue), c.boolValue);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertiesTyped,
    ::testing::Values(
        TypedCase{"Zero", "0", true, 0, true, 0, false, false},
        TypedCase{"One", "1", true, 1, true, 1, true, true},
        TypedCase{"Two", "2", true, 2, true, 2, true, true},
        TypedCase{"Negative", "-5", true, -5, false, 0, true, true},
        TypedCase{"Plus", "+7", true, 7, true, 7, true, true},
        TypedCase{"NoWord", "no", false, 0, false, 0, true, false},
        TypedCase{"NoCapital", "No", false, 0, false, 0, true, false},
        TypedCase{"TrueCapitals", "TRUE", false, 0, false, 0, true, true},
        TypedCase{"Yes", "yes", false, 0, false, 0, true, true},
        TypedCase{"YesMixed", "yEs", false, 0, false, 0, true, true},
        TypedCase{"FalseWord", "false", false, 0, false, 0, true, false},
        TypedCase{"Empty", "", false, 0, false, 0, true, false},
        TypedCase{"LeadingBlank", " 1", false, 0, false, 0, true, false},
        TypedCase{"TrailingBlank", "1 ", false, 0, false, 0, true, false},
        TypedCase{"Hex", "0x10", false, 0, false, 0, true, false},
        TypedCase{"IntTop", "2147483646", true, 2147483646, true, 2147483646u, true, true},
        TypedCase{"IntExtreme", "2147483647", false, 0, true, 2147483647u, true, false},
        TypedCase{"IntBottom", "-2147483648", false, 0, false, 0, true, false},
        TypedCase{"UIntTop", "4294967295", false, 0, true, 4294967295u, true, false},
        TypedCase{"UIntOver", "4294967296", false, 0, false, 0, true, false},
        TypedCase{"EmbeddedNul", std::string("1\0x", 3), false, 0, false, 0, true, false}),
    [](const auto& tc) { return std::string(tc.param.label); });

TEST(Properties, MissingEntriesInTypedViews) {
  zuProperties p;
  i32 i = 4;
  u32 u = 4;
  bool b = false;
  EXPECT_FALSE(p.getInt("x", i));
  EXPECT_FALSE(p.getUInt("x", u));
  EXPECT_FALSE(p.findBool("x", b));
  EXPECT_TRUE(p.getBool("x"));
  EXPECT_FALSE(p.getBoolValue("x", b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(p.getBoolValueOr("x", true));
  EXPECT_FALSE(p.getBoolValueOr("x", false));
}

TEST(Properties, RangesClampNumbersButNotTheDefault) {
  zuProperties p;
  EXPECT_EQ(p.getIntInRange("n", 5, 10, 20), 5);
  EXPECT_EQ(p.getUIntInRange("n", 5, 10, 20), 5u);
  struct {
    const char* value;
    i32 i;
    u32 u;
  } cases[] = {{"99", 20, 20}, {"3", 10, 10}, {"15", 15, 15}, {"-3", 10, 5}, {"x", 5, 5}};
  for (const auto& c : cases) {
    p.set("n", c.value);
    EXPECT_EQ(p.getIntInRange("n", 5, 10, 20), c.i) << c.value;
    EXPECT_EQ(p.getUIntInRange("n", 5, 10, 20), c.u) << c.value;
  }
  p.set("n", "-30");
  EXPECT_EQ(p.getIntInRange("n", 0, -20, -10), -20) << "signed comparison";
}

TEST(Properties, SettersWriteDecimalAndYesNo) {
  zuProperties p;
  p.setInt("i", -42);
  p.setUInt("u", 4294967295u);
  p.setBool("t", true);
  p.setBool("f", false);
  EXPECT_EQ(entriesOf(p), (Entries{{"i", "-42"}, {"u", "4294967295"}, {"t", "yes"}, {"f", "no"}}));
  bool b = true;
  EXPECT_TRUE(p.getBoolValue("f", b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(p.getBool("f")) << "getBool reads numbers only";
}

TEST(Properties, StringListsSplitAndJoinAtTheSeparator) {
  zuProperties p;
  p.set("l", "a,,b,");
  std::vector<std::string> v{"stale"};
  ASSERT_TRUE(p.getStringVector("l", v, ','));
  EXPECT_EQ(v, (std::vector<std::string>{"a", "", "b", ""}));
  std::list<std::string> l{"stale"};
  ASSERT_TRUE(p.getStringList("L", l, ','));
  EXPECT_EQ(l, (std::list<std::string>{"a", "", "b", ""}));
  EXPECT_FALSE(p.getStringVector("missing", v, ','));
  EXPECT_EQ(v.size(), 4u);
  p.set("e", "");
  ASSERT_TRUE(p.getStringVector("e", v, ','));
  EXPECT_TRUE(v.empty());

  p.setStringVector("v", {"x", "y"}, ';');
  p.setStringList("w", {"1", "", "2"}, ' ');
  EXPECT_EQ(p.valueRef("v"), "x;y");
  EXPECT_EQ(p.valueRef("w"), "1  2");
}

// ---- Sections ---------------------------------------------------------------

TEST(Properties, GetSectionWalksThePrefixInNameOrder) {
  zuProperties p = make({{"zone:b", "2"},
                         {"zone:a", "1"},
                         {"zonex", "x"},
                         {"zone9", "9"},
                         {"ZONE:C", "3"},
                         {"zon", "z"}});
  zuProperties out = make({{"stale", "s"}});
  EXPECT_TRUE(p.getSection("Zone", out));
  EXPECT_EQ(out.name(), "Zone");
  EXPECT_EQ(entriesOf(out), (Entries{{"a", "1"}, {"b", "2"}, {"c", "3"}}));
  EXPECT_FALSE(p.getSection("zonex", out));
  EXPECT_EQ(out.count(), 0u);
  EXPECT_EQ(out.name(), "zonex");
}

TEST(Properties, SetSectionReplacesTheSectionAtTheEnd) {
  zuProperties p = make({{"zone:old", "o"}, {"keep", "k"}, {"zone:a", "x"}});
  zuProperties s = make({{"b", "2"}, {"A", "1"}});
  s.name() = "ZONE";
  p.setSection(s);
  EXPECT_EQ(entriesOf(p), (Entries{{"keep", "k"}, {"zone:b", "2"}, {"zone:a", "1"}}));
}

TEST(Properties, RemoveSectionSetsModifiedEvenWhenNothingGoes) {
  zuProperties p = make({{"s:a", "1"}, {"t", "2"}, {"s:b", "3"}, {"s", "4"}});
  p.setModified(false);
  p.removeSection("x");
  EXPECT_TRUE(p.isModified());
  EXPECT_EQ(p.count(), 4u);
  p.removeSection("S");
  EXPECT_EQ(entriesOf(p), (Entries{{"t", "2"}, {"s", "4"}}));
}

TEST(Properties, SectionsIntoTheSameObject) {
  zuProperties p = make({{"s:b", "2"}, {"t", "x"}, {"s:a", "1"}});
  EXPECT_TRUE(p.getSection("s", p));
  EXPECT_EQ(p.name(), "s");
  EXPECT_EQ(entriesOf(p), (Entries{{"a", "1"}, {"b", "2"}}));

  zuProperties q = make({{"a", "1"}, {"s:b", "2"}});
  q.name() = "s";
  q.setSection(q);
  EXPECT_EQ(entriesOf(q), (Entries{{"a", "1"}, {"s:a", "1"}, {"s:s:b", "2"}}));
}

// ---- Tab lists --------------------------------------------------------------

TEST(Properties, TabListPairsNamesWithValues) {
  struct {
    std::string text;
    Entries expected;
  } cases[] = {
      {"a\t1\tb", {{"a", "1"}, {"b", ""}}},
      {"", {}},
      {"a", {{"a", ""}}},
      {"a\t\tB\t2", {{"a", ""}, {"b", "2"}}},
      {"A\t1\ta\t2", {{"a", "2"}}},
      {"\tv\t", {{"", ""}}},  // the second empty name takes the last value
  };
  for (const auto& c : cases) {
    EXPECT_EQ(entriesOf(zuProperties(c.text)), c.expected) << c.text;
    zuProperties p = make({{"stale", "s"}});
    p.fromTabList(c.text);
    EXPECT_EQ(entriesOf(p), c.expected) << c.text;
  }
}

// ---- Reading entries ----------------------------------------------------------

struct ReadCase {
  const char* label;
  std::string text;
  bool ok;
  Entries entries;
  std::string unread;  // what the stream still holds after a successful read
};

class PropertiesRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(PropertiesRead, FollowsTheGrammar) {
  const ReadCase& c = GetParam();
  zuProperties p;
  std::istringstream in(c.text);
  EXPECT_EQ(p.readXml(in), c.ok);
  EXPECT_EQ(entriesOf(p), c.entries);
  if (c.ok) {
    EXPECT_EQ(rest(in), c.unread);
  }
}

const std::string kEntryA = "<a value=\"1\"/>";

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertiesRead,
    ::testing::Values(
        ReadCase{"Empty", "", true, {}, ""}, ReadCase{"OnlyBlanks", " \t\r\n\v\f", true, {}, ""},
        ReadCase{"NotALessThan", "  junk " + kEntryA, true, {}, "junk " + kEntryA},
        ReadCase{"One", kEntryA, true, {{"a", "1"}}, ""},
        ReadCase{"TwoOnOneLine", kEntryA + "<b value=\"2\"/>", true, {{"a", "1"}, {"b", "2"}}, ""},
        ReadCase{"LinesWithCrLf",
                 kEntryA + "\r\n<b value=\"2\"/>\r\n",
                 true,
                 {{"a", "1"}, {"b", "2"}},
                 ""},
        ReadCase{"BlanksAroundEqualsAndBeforeEnd", "<A value = \"1\" />", true, {{"a", "1"}}, ""},
        ReadCase{"EveryBlankKind", "<a\tvalue\n=\r\n\"1\"\v\f/>", true, {{"a", "1"}}, ""},
        ReadCase{"BlankAfterLessThan", "< a value=\"1\"/>", true, {}, "< a value=\"1\"/>"},
        ReadCase{"ClosingTagEndsTheRun", kEntryA + "\n</x>", true, {{"a", "1"}}, "</x>"},
        ReadCase{"DeclarationEndsTheRun",
                 "<?xml version='1.0'?>" + kEntryA,
                 true,
                 {},
                 "<?xml version='1.0'?>" + kEntryA},
        ReadCase{"LoneLessThan", "<", true, {}, "<"},
        ReadCase{"HighByteAfterLessThan",
                 "<\xC3\xA9 value=\"1\"/>",
                 true,
                 {},
                 "<\xC3\xA9 value=\"1\"/>"},
        ReadCase{"TextAfterEntries", kEntryA + "x", true, {{"a", "1"}}, "x"},
        ReadCase{"CommentSkipped", "<!-- c -->" + kEntryA, true, {{"a", "1"}}, ""},
        ReadCase{"EmptyComment", "<!---->" + kEntryA, true, {{"a", "1"}}, ""},
        ReadCase{
            "CommentWithLessThan", "<!-- <a value=\"9\"/> -->" + kEntryA, true, {{"a", "1"}}, ""},
        ReadCase{"NoEscapes", "<a value=\"x&amp;<>/>'\"/>", true, {{"a", "x&amp;<>/>'"}}, ""},
        ReadCase{"LineEndsInValue", "<a value=\"1\r\n2\"/>", true, {{"a", "1\r\n2"}}, ""},
        ReadCase{"NulInValue",
                 std::string("<a value=\"1\0"
                             "2\"/>",
                             16),
                 true,
                 {{"a", std::string("1\0"
                                    "2",
                                    3)}},
                 ""},
        ReadCase{"EmptyValue", "<a value=\"\"/>", true, {{"a", ""}}, ""},
        ReadCase{"RepeatKeepsFirstPlaceLastValue",
                 kEntryA + "<b value=\"3\"/><A value=\"2\"/>",
                 true,
                 {{"a", "2"}, {"b", "3"}},
                 ""},
        ReadCase{"EveryNameChar",
                 "<Zone:x.y-z_1 value=\"v\"/><-9 value=\"w\"/>",
                 true,
                 {{"zone:x.y-z_1", "v"}, {"-9", "w"}},
                 ""},
        // Failures keep what came before.
        ReadCase{"SingleQuotes", "<a value='1'/>", false, {}, ""},
        ReadCase{"DoubleDashInComment", "<!-- a -- b -->" + kEntryA, false, {}, ""},
        ReadCase{"ThreeDashEnd", "<!-- a --->" + kEntryA, false, {}, ""},
        ReadCase{"CommentToEnd", kEntryA + "<!-- never closed", false, {{"a", "1"}}, ""},
        ReadCase{"Doctype", "<!DOCTYPE x>" + kEntryA, false, {}, ""},
        ReadCase{"ShortCommentStart", "<!- x -->", false, {}, ""},
        ReadCase{"BadEntryAfterGood",
                 kEntryA + "<b value=\"2\"><c value=\"3\"/>",
                 false,
                 {{"a", "1"}},
                 ""},
        ReadCase{"NameToEnd", kEntryA + "\n<b", false, {{"a", "1"}}, ""},
        ReadCase{"NoValueWord", "<a/>", false, {}, ""},
        ReadCase{"ValueWordInCapitals", "<a Value=\"1\"/>", false, {}, ""},
        ReadCase{"NoBlankBeforeValueWord", "<a:value=\"1\"/>", false, {}, ""},
        ReadCase{"NoEquals", "<a value \"1\"/>", false, {}, ""},
        ReadCase{"ValueToEnd", "<a value=\"1/>", false, {}, ""},
        ReadCase{"BlankInsideEnd", "<a value=\"1\"/ >", false, {}, ""},
        ReadCase{"NotEmptyElement", "<a value=\"1\">", false, {}, ""},
        ReadCase{"EndMissing", "<a value=\"1\"", false, {}, ""}),
    [](const auto& tc) { return std::string(tc.param.label); });

TEST(Properties, ReadingAddsToTheMapAndClearsModified) {
  zuProperties p = make({{"z", "0"}});
  std::istringstream none("  ");
  EXPECT_TRUE(p.readXml(none));
  EXPECT_FALSE(p.isModified());
  EXPECT_TRUE(p.fromString(kEntryA));
  EXPECT_EQ(entriesOf(p), (Entries{{"z", "0"}, {"a", "1"}}));
}

TEST(Properties, FromStringStopsAtTheFirstNul) {
  zuProperties p;
  EXPECT_TRUE(p.fromString(kEntryA + std::string(1, '\0') + "<b value=\"2\"/>"));
  EXPECT_EQ(entriesOf(p), (Entries{{"a", "1"}}));
  zuProperties q;
  EXPECT_FALSE(q.fromString(std::string("<a value=\"x\0y\"/>", 16)));
}

TEST(Properties, ReadFromAFileLeavesTheStopUnread) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("p.cfg");
  std::ofstream(path) << kEntryA << "\n</x>";
  std::ifstream in(path);
  zuProperties p;
  EXPECT_TRUE(p.readXml(in));
  EXPECT_EQ(entriesOf(p), (Entries{{"a", "1"}}));
  EXPECT_EQ(rest(in), "</x>");
}

TEST(Properties, ReadFromAFailedStreamFails) {
  std::ifstream in("/nonexistent/p.cfg");
  zuProperties p;
  EXPECT_FALSE(p.readXml(in));
}

// ---- Reading documents ----------------------------------------------------------

struct Section {
  std::string name;
  Entries entries;
  bool operator==(const Section&) const = default;
};

std::vector<Section> sectionsOf(const std::list<zuProperties>& l) {
  std::vector<Section> out;
  for (const zuProperties& p : l) out.push_back({p.name(), entriesOf(p)});
  return out;
}

struct DocCase {
  const char* label;
  std::string text;
  bool ok;
  std::vector<Section> sections;
};

class PropertiesDocumentRead : public ::testing::TestWithParam<DocCase> {};

TEST_P(PropertiesDocumentRead, FollowsTheGrammar) {
  const DocCase& c = GetParam();
  std::list<zuProperties> sections;
  std::istringstream in(c.text);
  EXPECT_EQ(zuProperties::readDocument(in, sections), c.ok);
  EXPECT_EQ(sectionsOf(sections), c.sections);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertiesDocumentRead,
    ::testing::Values(
        DocCase{"Written",
                "<?xml version='1.0'?>\n<s>\n<A value=\"1\"/>\n</s>\n",
                true,
                {{"s", {{"a", "1"}}}}},
        DocCase{"Empty", "", true, {}},
        DocCase{"NoDeclaration", "<s>" + kEntryA + "</s>", true, {{"s", {{"a", "1"}}}}},
        DocCase{"EmptySectionAfterComment", " <?x?> <!-- c --> <s></s>", true, {{"s", {}}}},
        DocCase{"BlanksAroundNamesCaseKept",
                "<?xml?>< Sec >" + kEntryA + "</sEC >",
                true,
                {{"Sec", {{"a", "1"}}}}},
        DocCase{"CommentInsideSection",
                "<s><!-- x -->" + kEntryA + "</s>",
                true,
                {{"s", {{"a", "1"}}}}},
        DocCase{"TwoSectionsWithComment",
                "<s></s>\n<!-- x -->\n<t>" + kEntryA + "</t>",
                true,
                {{"s", {}}, {"t", {{"a", "1"}}}}},
        DocCase{"TextAfterSections", "<s></s>junk<t></t>", true, {{"s", {}}}},
        DocCase{"DeclarationToEnd", "<?xml version='1.0'", false, {}},
        DocCase{"OtherClosingName", "<s>" + kEntryA + "</t>", false, {}},
        DocCase{"LaterFailureKeepsEarlier", "<s></s><t>" + kEntryA, false, {{"s", {}}}},
        DocCase{"BadEntry", "<s><a value='1'/></s>", false, {}},
        DocCase{"BlankBeforeSlash", "<s>" + kEntryA + "< /s>", false, {}},
        DocCase{"EmptyName", "<>" + kEntryA + "</>", false, {}},
        DocCase{"StrayClosingTag", "</s>", false, {}},
        DocCase{"AttributeOnSection", "<s x></s>", false, {}},
        DocCase{"CloseWithoutGreaterThan", "<s></s", false, {}},
        DocCase{"SecondDeclaration", "<?xml?><?xml?><s></s>", false, {}},
        DocCase{"BrokenComment", "<!-- x", false, {}}),
    [](const auto& tc) { return std::string(tc.param.label); });

// ---- Writing ------------------------------------------------------------------

TEST(Properties, WritesEntriesByteForByte) {
  zuProperties p = make({{"Arguments", "-p 4153 -ll 5"}, {"b", ""}, {"c", "&<>'"}});
  std::string text;
  ASSERT_TRUE(p.toString(text, false));
  EXPECT_EQ(text, "<arguments value=\"-p 4153 -ll 5\"/><b value=\"\"/><c value=\"&<>'\"/>");
  ASSERT_TRUE(p.toString(text, true));
  EXPECT_EQ(text, "<arguments value=\"-p 4153 -ll 5\"/>\n<b value=\"\"/>\n<c value=\"&<>'\"/>\n");
  ASSERT_TRUE(zuProperties().toString(text, true));
  EXPECT_EQ(text, "");
}

TEST(Properties, WritesDocumentsByteForByte) {
  std::list<zuProperties> doc{make({{"a", "1"}}), zuProperties()};
  doc.front().name() = "First";
  doc.back().name() = "e";
  std::ostringstream lines, flat;
  ASSERT_TRUE(zuProperties::writeDocument(lines, doc, true));
  EXPECT_EQ(lines.str(), "<?xml version='1.0'?>\n<First>\n<a value=\"1\"/>\n</First>\n<e>\n</e>\n");
  ASSERT_TRUE(zuProperties::writeDocument(flat, doc, false));
  EXPECT_EQ(flat.str(), "<?xml version='1.0'?><First><a value=\"1\"/></First><e></e>");
}

TEST(Properties, WritingToAFailedStreamFails) {
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_FALSE(make({{"a", "1"}}).writeEntries(out, true));
  EXPECT_FALSE(zuProperties::writeDocument(out, {}, true));
}

// Entries the text form cannot carry: writing them would end a later read at
// that entry and lose it and every entry after it.
TEST(Properties, RefusesEntriesThatWouldNotReadBack) {
  const std::pair<std::string, std::string> bad[] = {
      {"", "v"},   {"a b", "v"},      {"a\"b", "v"}, {"a<b", "v"},         {"a/", "v"},
      {"a=", "v"}, {"\xC3\xA9", "v"}, {"a\tb", "v"}, {"ok", "say \"hi\""}, {"ok", "\""},
  };
  for (const auto& [n, v] : bad) {
    SCOPED_TRACE(n + " = " + v);
    zuProperties p = make({{"first", "1"}, {n, v}, {"last", "2"}});
    std::ostringstream out;
    EXPECT_FALSE(p.writeEntries(out, true));
    EXPECT_EQ(out.str(), "") << "nothing written";
    std::string text = "untouched";
    EXPECT_FALSE(p.toString(text, false));
    EXPECT_EQ(text, "untouched");
    p.name() = "s";
    std::ostringstream doc;
    EXPECT_FALSE(zuProperties::writeDocument(doc, {make({{"x", "1"}}), p}, true));
    EXPECT_EQ(doc.str(), "");
  }
}

TEST(Properties, RefusesSectionNamesThatWouldNotReadBack) {
  for (const char* name : {"", "a b", "a>", "!x", "?x", "\xC3\xA9"}) {
    zuProperties p = make({{"a", "1"}});
    p.name() = name;
    std::ostringstream doc;
    EXPECT_FALSE(zuProperties::writeDocument(doc, {p}, true)) << name;
    EXPECT_EQ(doc.str(), "");
  }
}

// ---- Round trips ----------------------------------------------------------------

std::string everyByteButQuote() {
  std::string s;
  for (int c = 0; c < 256; ++c)
    if (c != '"') s.push_back(static_cast<char>(c));
  return s;
}

TEST(Properties, EverythingWrittenReadsBackEqual) {
  const zuProperties p = make({{"Arguments", "-p 4153 -ll 5"},
                               {"zone:a.b_c-9", "<a value=1/></zone>'&amp;"},
                               {"-", ""},
                               {"all", everyByteButQuote()},
                               {"comment", "<!-- -- -->"},
                               {"crlf", "a\r\nb\n"}});
  for (bool lineEnds : {false, true}) {
    std::stringstream s;
    ASSERT_TRUE(p.writeEntries(s, lineEnds));
    zuProperties back;
    EXPECT_TRUE(back.readXml(s));
    EXPECT_EQ(entriesOf(back), entriesOf(p)) << lineEnds;
  }
}

TEST(Properties, DocumentsReadBackEqual) {
  std::list<zuProperties> doc{make({{"a", "1"}, {"b", "<x>"}}), zuProperties(),
                              make({{"c", "\n"}})};
  auto it = doc.begin();
  (it++)->name() = "Prefs";
  (it++)->name() = "empty";
  it->name() = "z:9.x-y_";
  for (bool lineEnds : {false, true}) {
    std::stringstream s;
    ASSERT_TRUE(zuProperties::writeDocument(s, doc, lineEnds));
    std::list<zuProperties> back;
    EXPECT_TRUE(zuProperties::readDocument(s, back));
    EXPECT_EQ(sectionsOf(back), sectionsOf(doc));
  }
}

// Written text with no '&', '<' or '"' in its values is well-formed XML once
// wrapped in one root element.
TEST(Properties, WrittenTextIsXml) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xmllint";
  tw::test::ScratchDir dir;
  zuProperties p = make({{"arguments", "-p 4153 -ll 5"}, {"zone.a", "x>y 'q'"}, {"e", ""}});
  p.name() = "prefs";
  std::string entries;
  ASSERT_TRUE(p.toString(entries, true));
  std::ostringstream doc;
  ASSERT_TRUE(zuProperties::writeDocument(doc, {p, p}, true));
  const std::string declaration = "<?xml version='1.0'?>\n";
  ASSERT_EQ(doc.str().rfind(declaration, 0), 0u);
  const std::string texts[] = {
      "<root>\n" + entries + "</root>\n",
      declaration + "<root>\n" + doc.str().substr(declaration.size()) + "</root>\n"};
  for (const std::string& text : texts) {
    const std::string path = dir.file("doc.xml");
    std::ofstream(path) << text;
    EXPECT_EQ(std::system(("xmllint --noout " + path).c_str()), 0) << text;
  }
}

}  // namespace
