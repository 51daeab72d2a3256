#include "loam/base/zuMessage.h"

#include <gtest/gtest.h>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/base/zuMessageCatalog.h"

namespace {

const char* const kRange = "Value for $n should be between $a and $b";

struct FormatCase {
  const char* name;
  const char* text;
  zuMessageArgs params;
  const char* expected;
};

class MessageFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(MessageFormat, AppliesKeysInAscendingOrderOnePassEach) {
  const FormatCase& c = GetParam();
  zuMessage m(c.text);
  for (const auto& [k, v] : c.params) m.setParam(k, v);
  EXPECT_EQ(m.toString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageFormat,
    ::testing::Values(
        FormatCase{"AllKeys", kRange, {{'n', "5"}, {'a', "1"}, {'b', "9"}},
                   "Value for 5 should be between 1 and 9"},
        FormatCase{"NoParams", kRange, {}, "Value for $n should be between $a and $b"},
        // "a" < "n": the value inserted for a is scanned by n.
        FormatCase{"EarlierValueSeenByLaterKey", kRange, {{'a', "$n"}, {'b', "9"}, {'n', "5"}},
                   "Value for 5 should be between 5 and 9"},
        // The value inserted for n is not seen by the earlier key a.
        FormatCase{"LaterValueNotSeenByEarlierKey", kRange, {{'n', "$a"}, {'a', "1"}, {'b', "9"}},
                   "Value for $a should be between 1 and 9"},
        FormatCase{"OwnPatternInsertedOnce", "x$ay", {{'a', "$a"}}, "x$ay"},
        FormatCase{"OwnPatternTwice", "$a$a", {{'a', "$a$a"}}, "$a$a$a$a"},
        FormatCase{"DoubledDollarKeepsFirst", "$$aa", {{'a', ""}}, "$a"},
        FormatCase{"TrailingDollarStays", "cost $", {{'a', "1"}}, "cost $"},
        FormatCase{"DollarBeforeNonKey", "$x and $a", {{'a', "1"}}, "$x and 1"},
        // 'A' (65) is applied before 'a' (97).
        FormatCase{"UpperCaseKeyFirst", "$a $A", {{'A', "$a"}, {'a', "z"}}, "z z"},
        FormatCase{"LowerCaseValueNotSeenByUpper", "$a $A", {{'a', "$A"}, {'A', "Q"}}, "$A Q"},
        FormatCase{"EmptyText", "", {{'a', "1"}}, ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Message, SetParamKeepsFirstValueReplaceParamOverwrites) {
  zuMessage m("$a");
  m.setParam('a', "1");
  m.setParam('a', "2");
  EXPECT_EQ(m.paramRef('a'), "1");
  m.replaceParam('a', "2");
  EXPECT_EQ(m.paramRef('a'), "2");
  m.replaceParam('z', 7u);
  EXPECT_EQ(m.paramUInt('z'), 7u);
  m.setParamNumber('m', static_cast<i32>(-12));
  EXPECT_EQ(m.paramInt('m'), -12);
  EXPECT_EQ(m.paramCount(), 3u);
}

TEST(Message, ParamRefOnMissingKeyIsEmptyAndAddsNothing) {
  zuMessage m("x");
  EXPECT_EQ(m.paramRef('q'), "");
  EXPECT_FALSE(m.hasParam('q'));
  EXPECT_EQ(m.paramCount(), 0u);
  EXPECT_EQ(m.paramUInt('q'), 0u);
}

TEST(Message, ConstructorPairsAddedInOrderAndNullTextIsEmpty) {
  zuMessage m("$a$b", 'b', "2", 'a', "1", 'a', "ignored");
  EXPECT_EQ(m.toString(), "12");
  EXPECT_EQ(m.paramsText(','), "a=1,b=2");
  EXPECT_EQ(zuMessage().paramsText(','), "");
  zuMessage n(static_cast<const char*>(nullptr));
  EXPECT_TRUE(n.isEmpty());
  n.setText(static_cast<const char*>(nullptr));
  EXPECT_EQ(n.id(), zuMessage::kLiteral);
  EXPECT_EQ(n.text(), "");
}

TEST(Message, ParamAtWalksKeyOrderAndLeavesOutputsPastTheEnd) {
  zuMessage m("", 'z', "26", 'b', "2");
  char k = '?';
  std::string v = "keep";
  ASSERT_TRUE(m.paramAt(0, k, v));
  EXPECT_EQ(k, 'b');
  EXPECT_EQ(v, "2");
  ASSERT_TRUE(m.paramAt(1, k, v));
  EXPECT_EQ(k, 'z');
  k = '?';
  v = "keep";
  EXPECT_FALSE(m.paramAt(2, k, v));
  EXPECT_EQ(k, '?');
  EXPECT_EQ(v, "keep");
}

TEST(Message, FormattedTextIsBounded) {
  // Each key doubles the number of "$" patterns for the next one.
  zuMessage m("$A");
  std::string many(200, 'x');
  for (char k = 'A'; k <= 'Z'; ++k)
    m.setParam(k, std::string("$") + static_cast<char>(k + 1) + "$" +
                      static_cast<char>(k + 1) + many);
  std::string out = m.toString();
  EXPECT_EQ(out.size(), zuMessage::kMaxFormatted);
}

TEST(Message, IdsCatalogAndEmptiness) {
  zuMessage none;
  none.setId(0);
  EXPECT_TRUE(none.isEmpty());
  EXPECT_EQ(none.toString(), "");

  zuMessageCatalog::clear();
  zuMessage unknown;
  unknown.setId(4711);
  EXPECT_FALSE(unknown.isEmpty());
  EXPECT_EQ(unknown.toString(), "");

  const zuMessageCatalogEntry table[] = {{4711, "Port $p"}, {4712, "two"}, {0, nullptr}};
  zuMessageCatalog::registerTable(table);
  unknown.setParam('p', "4152");
  EXPECT_EQ(unknown.toString(), "Port 4152");
  EXPECT_STREQ(zuMessageCatalog::text(4712), "two");
  EXPECT_STREQ(zuMessageCatalog::text(0), "");
  zuMessageCatalog::clear();
}

TEST(Message, EqualityIgnoresTextForCatalogIds) {
  zuMessage a("one"), b("two");
  EXPECT_NE(a, b);
  a.setId(10);
  b.setId(10);
  EXPECT_EQ(a, b);
  b.setParam('x', "1");
  EXPECT_NE(a, b);
  EXPECT_TRUE(a < b);
}

TEST(Message, OrderingByIdThenTextThenParams) {
  zuMessage ab("ab"), abc("abc"), b("b");
  EXPECT_TRUE(ab < abc);
  EXPECT_TRUE(abc < b);
  EXPECT_FALSE(b < ab);
  zuMessage low;
  low.setId(5);
  EXPECT_TRUE(low < ab);  // 5 < 65535
  zuMessage p1("t", 'a', "1"), p2("t", 'a', "2");
  EXPECT_TRUE(p1 < p2);
  EXPECT_FALSE(p2 < p1);
}

TEST(ErrorMessage, ClearedMessageHasCode0Id290AndIsEmpty) {
  zuErrorMessage e(515, "bad");
  e.clear();
  EXPECT_EQ(e.code(), 0);
  EXPECT_EQ(e.id(), 290u);
  EXPECT_TRUE(e.isEmpty());
  EXPECT_EQ(e.toString(), "");
}

TEST(ErrorMessage, NonZeroCodeWithEmptyTextCountsAsEmpty) {
  EXPECT_TRUE(zuErrorMessage(515, "").isEmpty());
  EXPECT_FALSE(zuErrorMessage(0, "x").isEmpty());
}

TEST(ErrorMessage, AssignmentFromMessageKeepsCodeAndCopyKeepsIt) {
  zuErrorMessage e(772, "old");
  e = zuMessage("new $a", 'a', "1");
  EXPECT_EQ(e.code(), 772);
  EXPECT_EQ(e.toString(), "new 1");
  zuErrorMessage f(1, "x");
  f = e;
  EXPECT_EQ(f.code(), 772);
  EXPECT_EQ(f, e);
}

TEST(Exception, WhatIsTheUnformattedText) {
  zuException ex(87, "Unknown option \"$a\".", 'a', "-q");
  EXPECT_STREQ(ex.what(), "Unknown option \"$a\".");
  EXPECT_EQ(ex.code(), 87);
  EXPECT_EQ(ex.message().toString(), "Unknown option \"-q\".");
}

}  // namespace

namespace {

// Parameters carry texts from outside; the message's own text is the
// system's and stays as it is.
TEST(Message, LogTextEscapesAndCutsTheParametersOnly) {
  const zuMessage m("Error opening file \"$f\"\terror: $e.", 'f', "a\nb", 'e',
                    std::string(300, 'x'));
  EXPECT_EQ(m.logText(),
            "Error opening file \"a\\x0ab\"\terror: " + std::string(253, 'x') + "....");
  EXPECT_EQ(m.toString(), "Error opening file \"a\nb\"\terror: " + std::string(300, 'x') + ".");
}

}  // namespace
