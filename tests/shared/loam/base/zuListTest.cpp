#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "loam/base/zuList.h"

namespace {

using Strings = std::vector<std::string>;

// ---- Split and join --------------------------------------------------------

TEST(zuSplit, EmptyItemsCount) {
  const struct {
    const char* text;
    Strings items;
  } cases[] = {
      {"", {}},        {"a", {"a"}},         {"a,,b,", {"a", "", "b", ""}}, {",a", {"", "a"}},
      {",", {"", ""}}, {"a b;c", {"a b;c"}}, {"x,y,z", {"x", "y", "z"}},
  };
  for (const auto& c : cases) {
    Strings out{"stale"};
    zuSplit(c.text, out, ',');
    EXPECT_EQ(out, c.items) << c.text;

    std::list<std::string> l{"stale"};
    zuSplitList(c.text, l, ',');
    EXPECT_EQ(Strings(l.begin(), l.end()), c.items) << c.text;

    // Joining the pieces gives the text back.
    EXPECT_EQ(zuJoin(out, ','), c.text);
    EXPECT_EQ(zuJoinList(l, ','), c.text);
  }
}

TEST(zuSplitSet, CollapsesDuplicatesInByteOrder) {
  std::set<std::string> out{"stale"};
  zuSplitSet("b,a,B,a,", out, ',');
  EXPECT_EQ(out, (std::set<std::string>{"", "B", "a", "b"}));
  EXPECT_EQ(zuJoinSet(out, '|'), "|B|a|b");
  zuSplitSet("", out, ',');
  EXPECT_TRUE(out.empty());
}

TEST(zuJoin, EmptyAndSingle) {
  EXPECT_EQ(zuJoin({}, ','), "");
  EXPECT_EQ(zuJoin({"one"}, ','), "one");
  EXPECT_EQ(zuJoin({""}, ','), "");
  EXPECT_EQ(zuJoin({"", ""}, ','), ",");
}

TEST(zuDropFirstLabel, Table) {
  const struct {
    const char* name;
    const char* rest;
  } cases[] = {
      {"www.example.com", "example.com"},
      {"www.example.com.", "example.com."},
      {"com", ""},
      {"", ""},
      {"com.", ""},
      {".com", "com"},
  };
  for (const auto& c : cases) EXPECT_EQ(zuDropFirstLabel(c.name), c.rest) << c.name;
}

// ---- Number lists ----------------------------------------------------------

TEST(zuParseUIntList, Table) {
  const struct {
    std::string text;
    bool ok;
    std::vector<u32> numbers;
  } cases[] = {
      {"", true, {}},
      {"1, 2 ,\t3 ", true, {1, 2, 3}},
      {"4294967295", true, {4294967295u}},
      {"1,,2", false, {1}},
      {"1,2,", false, {1, 2}},
      {",1", false, {}},
      {"1,-2,3", false, {1}},
      {"1, ,3", false, {1}},
      {"1,2 3", false, {1}},
      {"4294967296", false, {}},
      {"7,+8", true, {7, 8}},
      {std::string("1,2\0"
                   "9",
                   5),
       false,
       {1}},
  };
  for (const auto& c : cases) {
    std::vector<u32> out{99};
    EXPECT_EQ(zuParseUIntList(c.text, out, ','), c.ok) << c.text;
    EXPECT_EQ(out, c.numbers) << c.text;
  }
}

TEST(zuParseIntList, SignedRange) {
  std::vector<i32> out;
  EXPECT_TRUE(zuParseIntList("-5; 0 ;2147483646", out, ';'));
  EXPECT_EQ(out, (std::vector<i32>{-5, 0, 2147483646}));
  EXPECT_FALSE(zuParseIntList("1;2147483647", out, ';'));
  EXPECT_EQ(out, (std::vector<i32>{1}));
}

TEST(zuParseUIntSet, CollapsesDuplicates) {
  std::set<u32> out{42};
  EXPECT_TRUE(zuParseUIntSet("3,1,3", out, ','));
  EXPECT_EQ(out, (std::set<u32>{1, 3}));
  EXPECT_FALSE(zuParseUIntSet("3,x", out, ','));
  EXPECT_EQ(out, (std::set<u32>{3}));
}

TEST(zuFormatNumbers, Table) {
  EXPECT_EQ(zuFormatUIntList({}, ','), "");
  EXPECT_EQ(zuFormatUIntList({1, 4294967295u, 0}, ','), "1,4294967295,0");
  EXPECT_EQ(zuFormatIntList({-1, 2147483647, -2147483647 - 1}, ' '), "-1 2147483647 -2147483648");
  EXPECT_EQ(zuFormatUIntSet({30, 2, 10}, ':'), "2:10:30");
}

// ---- Searching string containers -------------------------------------------

TEST(zuFindString, CaseAndPosition) {
  const std::list<std::string> items{"Alpha", "beta", "alpha"};
  EXPECT_EQ(zuFindString("alpha", items, true), std::next(items.begin(), 2));
  EXPECT_EQ(zuFindString("ALPHA", items, false), items.begin());
  EXPECT_EQ(zuFindString("gamma", items, false), items.end());

  std::list<std::string> editable{"a", "B"};
  auto it = zuFindString("b", editable, false);
  ASSERT_NE(it, editable.end());
  *it = "c";
  EXPECT_EQ(editable.back(), "c");

  const Strings v{"x", "Y", "y", "z"};
  EXPECT_EQ(zuFindStringIn("y", v, true), v.begin() + 2);
  EXPECT_EQ(zuFindStringIn("y", v, false), v.begin() + 1);
  EXPECT_EQ(zuFindStringIn("z", v.begin(), v.begin() + 3, true), v.begin() + 3);
  EXPECT_EQ(zuFindStringIn("Y", v.begin() + 2, v.end(), false), v.begin() + 2);
  EXPECT_EQ(zuFindStringIn("q", v, false), v.end());
}

TEST(zuRemoveDuplicates, FirstOccurrenceKeepsItsPlace) {
  const struct {
    Strings in;
    bool caseSensitive;
    bool erased;
    Strings out;
  } cases[] = {
      {{"x", "X", "x"}, false, true, {"x"}},
      {{"x", "X", "x"}, true, true, {"x", "X"}},
      {{"b", "a", "b", "c", "a"}, true, true, {"b", "a", "c"}},
      {{"a", "b"}, true, false, {"a", "b"}},
      {{}, true, false, {}},
  };
  for (const auto& c : cases) {
    Strings v = c.in;
    EXPECT_EQ(zuRemoveDuplicates(v, c.caseSensitive), c.erased);
    EXPECT_EQ(v, c.out);
  }
}

TEST(zuRemoveString, EraseOrBlankExactBytes) {
  Strings v{"a", "A", "a", "b"};
  zuRemoveString(v, "a", false);
  EXPECT_EQ(v, (Strings{"", "A", "", "b"}));
  zuRemoveString(v, "", true);
  EXPECT_EQ(v, (Strings{"A", "b"}));
}

// ---- String replacement ----------------------------------------------------

TEST(zuReplaceAll, Table) {
  const struct {
    const char* text;
    const char* from;
    const char* to;
    bool all;
    const char* expected;
  } cases[] = {
      {"a-b-c", "-", "+", false, "a+b-c"},
      {"a-b-c", "-", "+", true, "a+b+c"},
      {"aaa", "a", "aa", true, "aaaaaa"},  // inserted text is not searched
      {"aaaa", "aa", "a", true, "aa"},
      {"abc", "B", "x", true, "abc"},  // exact bytes
      {"abc", "", "x", true, "abc"},   // empty pattern: unchanged
      {"", "", "x", true, ""},
      {"abc", "abc", "", true, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuReplaceAll(c.text, c.from, c.to, c.all), c.expected)
        << c.text << " " << c.from << "->" << c.to;
  }
}

TEST(zuSubstituteParam, Table) {
  const struct {
    const char* text;
    char key;
    const char* value;
    const char* expected;
  } cases[] = {
      {"$a and $a", 'a', "1", "1 and 1"},
      {"$a $A $b $", 'a', "x", "x $A $b $"},
      {"$a", 'a', "$a", "$a"},  // value not expanded again
      {"$a$a", 'a', "$", "$$"},
      {"$$aa", 'a', "", "$a"},
      {"$$aa", 'a', "Q", "$Qa"},
      {"", 'a', "x", ""},
      {"cost $", 'a', "x", "cost $"},
  };
  for (const auto& c : cases) {
    std::string t = c.text;
    EXPECT_EQ(&zuSubstituteParam(t, c.key, c.value), &t);
    EXPECT_EQ(t, c.expected) << c.text;
    EXPECT_EQ(zuSubstituteParamCopy(c.text, c.key, c.value), c.expected) << c.text;
  }
}

// ---- Byte buffers ----------------------------------------------------------

TEST(zuFindBytes, BoundsNeverWrap) {
  const char data[] = {'a', 'b', '\0', 'c', 'a', 'b'};
  const struct {
    const char* pattern;
    u32 patternLength;
    u32 length;
    u32 start;
    u32 expected;
  } cases[] = {
      {"ab", 2, 6, 0, 0},           {"ab", 2, 6, 1, 4},
      {"\0c", 2, 6, 0, 2},          {"ab", 2, 6, 4, 4},
      {"ab", 2, 6, 5, kZuNotFound}, {"ab", 2, 5, 1, kZuNotFound},
      {"ab", 0, 6, 0, kZuNotFound}, {"abcdefgh", 8, 6, 0, kZuNotFound},  // longer than the data
      {"a", 1, 0, 0, kZuNotFound},  {"a", 1, 6, 0xFFFFFFFF, kZuNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuFindBytes(data, c.length, c.pattern, c.patternLength, c.start), c.expected)
        << c.pattern << " len " << c.length << " @" << c.start;
  }
}

struct ReplaceCase {
  const char* data;
  u32 capacity;
  const char* pattern;
  const char* replacement;
  bool all;
  const char* expected;
};

TEST(zuReplaceBytes, GrowShrinkAndCapacity) {
  const ReplaceCase cases[] = {
      {"a-b-c", 16, "-", "+", true, "a+b+c"},
      {"a-b-c", 16, "-", "+", false, "a+b-c"},
      {"a-b-c", 16, "-", "==", true, "a==b==c"},
      {"a--b--c", 16, "--", "", true, "abc"},
      {"aaaa", 16, "aa", "a", true, "aa"},
      {"xyz", 16, "xyzw", "!", true, "xyz"},  // pattern longer than the data
      {"xyz", 16, "", "!", true, "xyz"},
      // At capacity: bytes pushed past it are dropped.
      {"ab-cd", 5, "-", "123", true, "ab123"},
      {"a-bcd", 5, "-", "12", true, "a12bc"},
      {"ab-cd", 6, "-", "1234567", true, "ab1234"},
      {"-a-", 4, "-", "xy", true, "xyax"},
      {"a-a-a-", 8, "-", "==", true, "a==a==a="},
  };
  for (const auto& c : cases) {
    const u32 len = static_cast<u32>(std::strlen(c.data));
    std::vector<u8> buf(c.capacity + 4, '#');  // canary past the capacity
    std::memcpy(buf.data(), c.data, len);
    const u32 n = zuReplaceBytes(buf.data(), len, c.capacity, c.pattern,
                                 static_cast<u32>(std::strlen(c.pattern)), c.replacement,
                                 static_cast<u32>(std::strlen(c.replacement)), c.all);
    EXPECT_LE(n, c.capacity);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), c.expected) << c.data;
    EXPECT_EQ(std::string(buf.begin() + c.capacity, buf.end()), "####") << c.data;
  }
}

TEST(zuReplaceBytes, LengthAboveCapacityIsCut) {
  char buf[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(zuReplaceBytes(buf, 100, 4, "d", 1, "x", 1, true), 4u);
  EXPECT_EQ(std::string(buf, 4), "abcx");
  EXPECT_EQ(zuReplaceBytes(buf, 9, 2, "zz", 2, "", 0, true), 2u);
}

TEST(zuReplaceBytes, PatternInsideTheBuffer) {
  char buf[16] = "ab-ab";
  EXPECT_EQ(zuReplaceBytes(buf, 5, 16, buf, 2, buf + 2, 1, true), 3u);
  EXPECT_EQ(std::string(buf, 3), "---");
}

TEST(zuReplaceInCString, KeepsTheTerminator) {
  const ReplaceCase cases[] = {
      {"a-b-c", 16, "-", "==", true, "a==b==c"},
      {"a-b-c", 6, "-", "==", true, "a==b="},  // 5 bytes of text fit in 6
      {"a-b", 4, "-", "", true, "ab"},
      {"abc", 4, nullptr, "x", true, "abc"},
      {"abc", 4, "b", nullptr, true, "ac"},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(c.capacity + 4, '#');
    std::strcpy(buf.data(), c.data);
    EXPECT_EQ(zuReplaceInCString(buf.data(), c.pattern, c.replacement, c.all, c.capacity),
              buf.data());
    EXPECT_STREQ(buf.data(), c.expected) << c.data;
    EXPECT_EQ(std::string(buf.begin() + c.capacity, buf.end()), "####") << c.data;
  }
}

TEST(zuReplaceInCString, ZeroSizeAndUnterminated) {
  char buf[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(zuReplaceInCString(buf, "a", "x", true, 0), buf);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  // No NUL inside the buffer: the text is cut so the terminator fits.
  zuReplaceInCString(buf, "q", "x", true, 4);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(zuReplaceInCString(nullptr, "a", "b", true, 8), nullptr);
}

TEST(zuReplaceInCounted, LengthByteNeverWraps) {
  // 200 bytes of "ab" pairs; doubling each "a" would make 300, past one byte.
  std::vector<u8> buf(400, '#');
  buf[0] = 200;
  for (int i = 0; i < 200; ++i) buf[1 + static_cast<std::size_t>(i)] = (i % 2) ? 'b' : 'a';
  zuReplaceInCounted(buf.data(), "a", "aa", true, 400);
  EXPECT_EQ(buf[0], 255);
  EXPECT_EQ(buf[256], '#');  // nothing written past the longest counted text
  const std::string text(buf.begin() + 1, buf.begin() + 256);
  EXPECT_EQ(text.substr(0, 6), "aabaab");

  u8 small[6] = {3, 'x', '-', 'y', '#', '#'};
  zuReplaceInCounted(small, "-", "123", true, 5);  // room for 4 counted bytes
  EXPECT_EQ(small[0], 4);
  EXPECT_EQ(std::string(small + 1, small + 5), "x123");
  EXPECT_EQ(small[5], '#');

  u8 one[1] = {9};
  EXPECT_EQ(zuReplaceInCounted(one, "a", "b", true, 1), one);
  EXPECT_EQ(one[0], 0);  // a length larger than the buffer is cut to what it holds
  u8 untouched[2] = {1, 'a'};
  zuReplaceInCounted(untouched, "a", "b", true, 0);
  EXPECT_EQ(untouched[0], 1);
  EXPECT_EQ(untouched[1], 'a');
}

// ---- Line ends -------------------------------------------------------------

TEST(zuConvertLineEnds, Modes) {
  const struct {
    const char* text;
    u8 mode;
    bool ensure;
    const char* expected;
  } cases[] = {
      {"a\nb\r\nc\rd", 1, false, "a\nb\nc\nd"},
      {"a\nb\r\nc\rd", 2, false, "a\r\nb\r\nc\r\nd"},
      {"a\nb\r\nc\rd", 0, false, "a\r\nb\r\nc\r\nd"},
      {"a\nb\r\nc\rd", 3, false, "a\rb\rc\rd"},
      {"a\nb\r\nc\rd", 4, false, "a b c d"},
      {"a\nb", 7, true, "a\nb"},  // unknown mode: unchanged
      {"\n\r\r\n\n\r", 2, false, "\r\n\r\n\r\n\r\n\r\n"},
      {"\r\r\n", 1, false, "\n\n"},
      {"\n\r", 3, false, "\r\r"},
      {"", 2, true, "\r\n"},
      {"", 1, true, "\n"},
      {"", 4, true, " "},
      {"", 2, false, ""},
      {"x", 3, true, "x\r"},
      {"x\n", 2, true, "x\r\n"},
      {"x\r", 1, true, "x\n"},
  };
  for (const auto& c : cases) {
    std::string t = c.text;
    EXPECT_EQ(&zuConvertLineEnds(t, c.mode, c.ensure), &t);
    EXPECT_EQ(t, c.expected) << "mode " << int(c.mode);
  }
}

}  // namespace
