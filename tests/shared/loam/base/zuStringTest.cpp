#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loam/base/zuString.h"

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

// ---- Decimal conversions ---------------------------------------------------

struct I32Case {
  const char* text;
  bool ok;
  i32 value;  // checked only when ok
};

TEST(zuStrToInt32, AcceptsOnlyTheInnerRangeAndWholeText) {
  const I32Case cases[] = {
      {"0", true, 0},
      {"7", true, 7},
      {"+7", true, 7},
      {"-7", true, -7},
      {"007", true, 7},
      {"2147483646", true, 2147483646},
      {"-2147483647", true, -2147483647},
      {"2147483647", false, 0},
      {"-2147483648", false, 0},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"4294967296", false, 0},  // would wrap to 0 if truncated
      {"99999999999999999999999", false, 0},
      {" 7", false, 0},
      {"7 ", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"+-7", false, 0},
      {"12a", false, 0},
      {"0x10", false, 0},
      {"\t7", false, 0},
  };
  for (const auto& c : cases) {
    i32 out = 12345;
    EXPECT_EQ(zuStrToInt32(c.text, out), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(out, c.value) << '"' << c.text << '"';
    }
  }
  i32 out = 0;
  EXPECT_FALSE(zuStrToInt32(nullptr, out));
}

TEST(zuStrToInt32, OutHoldsTheSaturatedValueOnOverflow) {
  i32 out = 0;
  EXPECT_FALSE(zuStrToInt32("2147483648", out));
  EXPECT_EQ(out, 2147483647);
  EXPECT_FALSE(zuStrToInt32("-99999999999", out));
  EXPECT_EQ(out, -2147483647 - 1);
}

struct U32Case {
  const char* text;
  bool ok;
  u32 value;
};

TEST(zuStrToUInt32, AcceptsTheFullRangeButNothingBeyond) {
  const U32Case cases[] = {
      {"0", true, 0},
      {"+0", true, 0},
      {"42", true, 42},
      {"00042", true, 42},
      {"4294967294", true, 4294967294u},
      {"04294967294", true, 4294967294u},
      {"4294967295", true, 4294967295u},
      {"+4294967295", true, 4294967295u},
      {"04294967295", false, 0},
      {"+04294967295", false, 0},
      {"4294967296", false, 0},  // 2^32 truncates to 0 on a 64-bit long
      {"8589934592", false, 0},
      {"99999999999999999999999", false, 0},
      {"4294967295 ", false, 0},
      {"-1", false, 0},
      {"-0", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"++1", false, 0},
      {"1.5", false, 0},
  };
  for (const auto& c : cases) {
    u32 out = 12345;
    EXPECT_EQ(zuStrToUInt32(c.text, out), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(out, c.value) << '"' << c.text << '"';
    }
  }
  u32 out = 0;
  EXPECT_FALSE(zuStrToUInt32(nullptr, out));
}

TEST(zuStrToUInt16, WritesTheLowBitsEvenWhenTooLarge) {
  struct Case {
    const char* text;
    bool ok;
    u16 out;
  };
  const Case cases[] = {
      {"65535", true, 65535}, {"0", true, 0},         {"65536", false, 0},
      {"65537", false, 1},    {"70000", false, 4464},
  };
  for (const auto& c : cases) {
    u16 out = 999;
    EXPECT_EQ(zuStrToUInt16(c.text, out), c.ok) << c.text;
    EXPECT_EQ(out, c.out) << c.text;
  }
  // Nothing converted: out keeps its value.
  u16 out = 999;
  EXPECT_FALSE(zuStrToUInt16("x", out));
  EXPECT_EQ(out, 999);
  EXPECT_FALSE(zuStrToUInt16(nullptr, out));
  EXPECT_EQ(out, 999);
}

TEST(zuStrToNumberOr, FallsBackOnlyOnFailure) {
  EXPECT_EQ(zuStrToInt32Or("-5", 9), -5);
  EXPECT_EQ(zuStrToInt32Or("2147483647", 9), 9);
  EXPECT_EQ(zuStrToUInt32Or("4294967295", 9), 4294967295u);
  EXPECT_EQ(zuStrToUInt32Or("4294967296", 9), 9u);
  EXPECT_EQ(zuStrToUInt16Or("65535", 9), 65535);
  EXPECT_EQ(zuStrToUInt16Or("65536", 9), 9);
  EXPECT_EQ(zuStrToUInt16Or(nullptr, 9), 9);
}

TEST(zuStrToBool, NumbersAndWords) {
  struct Case {
    const char* text;
    bool ok;
    bool value;
  };
  const Case cases[] = {
      {"Yes", true, true},    {"y", true, true},      {"T", true, true},    {"TRUE", true, true},
      {"7", true, true},      {"0", true, false},     {"F", true, false},   {"no", true, false},
      {"N", true, false},     {"False", true, false}, {"", false, false},   {"maybe", false, false},
      {"yes ", false, false}, {"+1", false, false},   {"1x", false, false}, {"on", false, false},
  };
  for (const auto& c : cases) {
    bool out = !c.value;
    EXPECT_EQ(zuStrToBool(c.text, out), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(out, c.value) << '"' << c.text << '"';
    }
  }
  bool out = false;
  EXPECT_FALSE(zuStrToBool(nullptr, out));
}

TEST(zuNumberToString, Texts) {
  EXPECT_EQ(zuIntToString(0), "0");
  EXPECT_EQ(zuIntToString(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(zuIntToString(2147483647), "2147483647");
  EXPECT_EQ(zuUIntToString(4294967295u), "4294967295");
  EXPECT_EQ(zuUIntToString(0), "0");
  EXPECT_EQ(zuHexToString(0), "0");
  EXPECT_EQ(zuHexToString(0xABCDEF01u), "ABCDEF01");
  EXPECT_EQ(zuHexToString(0x0Fu), "F");
  EXPECT_EQ(zuInt64ToString(-9223372036854775807LL - 1), "-9223372036854775808");

  // The widest texts fill a 12-byte buffer exactly; a canary after it stays.
  char buf[13];
  std::memset(buf, '#', sizeof buf);
  zuIntToChars(-2147483647 - 1, buf);
  EXPECT_STREQ(buf, "-2147483648");
  EXPECT_EQ(buf[12], '#');
  zuUIntToChars(4294967295u, buf);
  EXPECT_STREQ(buf, "4294967295");
  zuHexToChars(0xFFFFFFFFu, buf);
  EXPECT_STREQ(buf, "FFFFFFFF");
}

// ---- Comparison ------------------------------------------------------------

TEST(zuStrCompare, SignedBytesAndCase) {
  struct Case {
    const char* a;
    const char* b;
    bool caseSensitive;
    int sign;
  };
  const Case cases[] = {
      {"abc", "ABD", false, -1},   {"abc", "ABC", false, 0},   {"abc", "ABC", true, 1},
      {"b", "a", true, 1},         {"ab\xE9", "ab", true, -1}, {"ab", "abc", true, -1},
      {"ab\xE9", "abc", true, -1}, {"\x80", "\x7F", true, -1}, {"", "", true, 0},
      {"", "a", false, -1},        {"a", "", false, 1},        {"a[", "A{", false, -1},
      {"\xE9", "\xC9", false, 1},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(zuStrCompare(c.a, c.b, c.caseSensitive)), c.sign) << c.a << " vs " << c.b;
  }
  EXPECT_EQ(zuStrCompare("b", "a", true), 1);
  EXPECT_EQ(zuStrCompare(nullptr, "", true), 0);
  EXPECT_LT(zuStrCompare(nullptr, "a", true), 0);
}

TEST(zuStrFind, PositionsAndBounds) {
  struct Case {
    const char* text;
    const char* pattern;
    i32 start;
    bool caseSensitive;
    u32 expected;
  };
  const Case cases[] = {
      {"hello world", "o", 0, true, 4},
      {"hello world", "o", 5, true, 7},
      {"hello world", "O", 0, true, kZuNotFound},
      {"hello world", "WORLD", 0, false, 6},
      {"hello world", "world", 6, true, 6},
      {"hello world", "world", 7, true, kZuNotFound},
      {"hello", "", 0, true, kZuNotFound},
      {"", "", 0, true, kZuNotFound},
      {"hello", "hello!", 0, true, kZuNotFound},
      {"hello", "o", -1, true, kZuNotFound},
      {"hello", "o", -2147483647 - 1, false, kZuNotFound},
      {"hello", "o", 5, true, kZuNotFound},
      {"hello", "o", 6, true, kZuNotFound},
      {"hello", "o", 2147483647, true, kZuNotFound},
      {"aaa", "aa", 1, true, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuStrFind(c.text, c.pattern, c.start, c.caseSensitive), c.expected)
        << c.text << " / " << c.pattern << " @" << c.start;
  }
  EXPECT_EQ(zuStrFind(nullptr, "a", 0, true), kZuNotFound);
  EXPECT_EQ(zuStrFind("a", nullptr, 0, true), kZuNotFound);
}

TEST(zuStrFindNoCase, StringsIncludingEmbeddedNul) {
  const std::string withNul("ab\0cD", 5);
  EXPECT_EQ(zuStrFindNoCase(withNul, "cd", 0), 3u);
  EXPECT_EQ(zuStrFindNoCase("", "a", 0), kZuNotFound);
  EXPECT_EQ(zuStrFindNoCase("abc", "", 0), kZuNotFound);
  EXPECT_EQ(zuStrFindNoCase("abcABC", "abc", 1), 3u);
  EXPECT_EQ(zuStrFindNoCase("abc", "c", -1), kZuNotFound);
  EXPECT_EQ(zuStrFindNoCase("abc", "c", 4), kZuNotFound);
}

TEST(zuPrefixSuffix, EmptyNeverMatches) {
  EXPECT_TRUE(zuStartsWithNoCase("Hello", "hE"));
  EXPECT_FALSE(zuStartsWithNoCase("Hello", ""));
  EXPECT_FALSE(zuStartsWithNoCase("He", "Hello"));
  EXPECT_TRUE(zuStartsWithNoCaseStr("Hello", "HELLO"));
  EXPECT_FALSE(zuStartsWithNoCaseStr("Hello", ""));
  EXPECT_FALSE(zuStartsWithNoCaseStr("", ""));
  EXPECT_TRUE(zuEndsWithNoCase("a.bc", "BC"));
  EXPECT_FALSE(zuEndsWithNoCase("a.bc", ""));
  EXPECT_FALSE(zuEndsWithNoCase("bc", "a.bc"));
  EXPECT_FALSE(zuEndsWithNoCase("abcbc", "bcb"));
  EXPECT_TRUE(zuEndsWithNoCaseStr("zone.EXAMPLE.", "example."));
  EXPECT_FALSE(zuEndsWithNoCaseStr("", ""));
  EXPECT_TRUE(zuContains("abcdef", "CD", false));
  EXPECT_FALSE(zuContains("abcdef", "CD", true));
  EXPECT_FALSE(zuContains("abcdef", "", false));
  EXPECT_TRUE(zuContainsNoCase("abcdef", "DEF"));
  EXPECT_FALSE(zuContainsNoCase("abcdef", ""));
}

TEST(zuMatches, Modes) {
  struct Case {
    const char* text;
    const char* pattern;
    u32 mode;
    bool expected;
  };
  const Case cases[] = {
      {"anything", "x", 0, true},           {"", "", 0, true},
      {"Setup.exe", "SET", 1, true},        {"Setup.exe", "exe", 1, false},
      {"Setup.exe", ".EXE", 2, true},       {"Setup.exe", "set", 2, false},
      {"Setup.exe", "UP.E", 3, true},       {"Setup.exe", "", 3, false},
      {"Setup.exe", "setup.EXE", 4, true},  {"Setup.exe", "setup", 4, false},
      {"Setup.exe", "Setup.exe", 5, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuMatches(c.text, c.pattern, c.mode), c.expected)
        << c.text << " / " << c.pattern << " mode " << c.mode;
  }
}

TEST(zuReplaceMatching, Modes) {
  struct Case {
    const char* text;
    const char* pattern;
    const char* replacement;
    u32 mode;
    bool all;
    const char* expected;
  };
  const Case cases[] = {
      {"abc", "zz", "X", 0, false, "X"},
      {"abc", "ABC", "X", 4, false, "X"},
      {"abc", "ab", "X", 4, false, "abc"},
      {"abcabc", "AB", "X", 1, true, "Xcabc"},
      {"abcabc", "BC", "X", 2, true, "abcaX"},
      {"abcabc", "bc", "X", 1, true, "abcabc"},
      {"aXbxc", "x", "--", 3, false, "a--bxc"},
      {"aXbxc", "x", "--", 3, true, "a--b--c"},
      // The inserted text is not searched again.
      {"aa", "a", "aa", 3, true, "aaaa"},
      {"abc", "b", "", 3, true, "ac"},
      {"abc", "q", "X", 3, true, "abc"},
      {"abc", "", "X", 3, true, "abc"},
      {"abc", "a", "X", 9, true, "abc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuReplaceMatching(c.text, c.pattern, c.replacement, c.mode, c.all), c.expected)
        << c.text << " / " << c.pattern << " mode " << c.mode;
  }
}

// ---- Characters ------------------------------------------------------------

TEST(zuCase, OnlyAsciiLettersFold) {
  EXPECT_EQ(zuToUpper('a'), 'A');
  EXPECT_EQ(zuToUpper('z'), 'Z');
  EXPECT_EQ(zuToUpper('{'), '{');
  EXPECT_EQ(zuToUpper('`'), '`');
  EXPECT_EQ(zuToLower('A'), 'a');
  EXPECT_EQ(zuToLower('@'), '@');
  EXPECT_EQ(zuToLower('['), '[');
  EXPECT_EQ(zuToUpper(0xE9), 0xE9);
  EXPECT_EQ(zuToUpper(-23), -23);
  EXPECT_EQ(zuToUpperCopy("aZ9\xE9_z"), "AZ9\xE9_Z");
  EXPECT_EQ(zuToLowerCopy("AbC\xC9 Z"), "abc\xC9 z");
  EXPECT_EQ(zuToLowerCopy(std::string("A\0B", 3)), std::string("a\0b", 3));
  EXPECT_TRUE(zuCharEqual('a', 'A', false));
  EXPECT_FALSE(zuCharEqual('a', 'A', true));
  EXPECT_FALSE(zuCharEqual('[', '{', false));
}

TEST(zuCharClasses, Table) {
  EXPECT_TRUE(zuIsDigit('0'));
  EXPECT_TRUE(zuIsDigit('9'));
  EXPECT_FALSE(zuIsDigit('a'));
  EXPECT_FALSE(zuIsDigit(0xB2));  // superscript two
  EXPECT_TRUE(zuIsDigits("0123"));
  EXPECT_FALSE(zuIsDigits(""));
  EXPECT_FALSE(zuIsDigits(nullptr));
  EXPECT_FALSE(zuIsDigits("12 "));
  EXPECT_FALSE(zuIsDigits("-1"));
  EXPECT_TRUE(zuIsAlphanumeric(""));
  EXPECT_TRUE(zuIsAlphanumeric("abcXYZ019"));
  EXPECT_FALSE(zuIsAlphanumeric("ab_c"));
  EXPECT_FALSE(zuIsAlphanumeric("\xE9"));
  EXPECT_TRUE(zuIsPrintableText(""));
  EXPECT_TRUE(zuIsPrintableText(" ~"));
  EXPECT_FALSE(zuIsPrintableText("a\tb"));
  EXPECT_FALSE(zuIsPrintableText("\x7F"));
  EXPECT_FALSE(zuIsPrintableText("\xE9"));
  EXPECT_TRUE(zuHasNoControlChars(""));
  EXPECT_TRUE(zuHasNoControlChars("\xE9 ok"));
  EXPECT_FALSE(zuHasNoControlChars("a\tb"));
  EXPECT_FALSE(zuHasNoControlChars("\x7F"));
  EXPECT_EQ(zuPrintable("a\tb\x7F\xE9 c"), "a.b.. c");
  EXPECT_EQ(zuPrintable(nullptr), "");
}

TEST(zuLogText, ControlBytesEscapedAndLongTextsCut) {
  const std::string full(256, 'a');
  struct Case {
    const char* what;
    std::string text;
    std::size_t limit;
    std::string expected;
  } cases[] = {
      {"plain", "setup.msi", kZuLogTextLimit, "setup.msi"},
      {"line ends", "a\nb\r", kZuLogTextLimit, "a\\x0ab\\x0d"},
      {"NUL, tab, DEL", std::string("\0\t\x7F", 3), kZuLogTextLimit, "\\x00\\x09\\x7f"},
      {"backslashes and high bytes stay", "C:\\x\xE9", kZuLogTextLimit, "C:\\x\xE9"},
      {"exactly the limit", full, kZuLogTextLimit, full},
      {"one past it", full + "b", kZuLogTextLimit, std::string(253, 'a') + "..."},
      {"an escape is never cut in two", "abcd\n", 7, "abcd..."},
      {"escapes count at their width", "\n\n", 8, "\\x0a\\x0a"},
      {"limit below the mark", "abcdef", 2, ".."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuLogText(c.text, c.limit), c.expected) << c.what;
    EXPECT_LE(zuLogText(c.text, c.limit).size(), c.limit) << c.what;
  }
}

// ---- Editing and extraction ------------------------------------------------

TEST(zuTrim, BlanksOnly) {
  struct Case {
    const char* in;
    const char* left;
    const char* right;
    const char* both;
  };
  const Case cases[] = {
      {"  a b  ", "a b  ", "  a b", "a b"},
      {"    ", "", "", ""},
      {"", "", "", ""},
      {"\t\t", "\t\t", "\t\t", "\t\t"},
      {" \ta\t ", "\ta\t ", " \ta\t", "\ta\t"},
  };
  for (const auto& c : cases) {
    std::string l(c.in), r(c.in), b(c.in);
    EXPECT_EQ(zuTrimLeft(l), c.left);
    EXPECT_EQ(zuTrimRight(r), c.right);
    EXPECT_EQ(zuTrim(b), c.both);
    EXPECT_EQ(&zuTrim(b), &b);
  }
}

TEST(zuQuote, QuoteAndUnquote) {
  struct Case {
    const char* in;
    const char* quoted;
    const char* unquoted;
  };
  const Case cases[] = {
      {"abc", "\"abc\"", "abc"}, {"\"abc\"", "\"abc\"", "abc"}, {"", "\"\"", ""},
      {"\"", "\"\"\"", "\""},    {"\"\"", "\"\"", ""},          {"\"ab", "\"\"ab\"", "\"ab"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuQuote(c.in), c.quoted) << c.in;
    EXPECT_EQ(zuUnquote(c.in), c.unquoted) << c.in;
  }
}

TEST(zuReplaceChar, EveryOccurrence) {
  std::string s = "a\\b\\c";
  EXPECT_EQ(zuReplaceChar(s, '\\', '/'), "a/b/c");
  EXPECT_EQ(s, "a/b/c");
}

TEST(zuQualifyName, Table) {
  EXPECT_EQ(zuQualifyName("host", "zone."), "host.zone.");
  EXPECT_EQ(zuQualifyName("host.other.", "zone."), "host.other.");
  EXPECT_EQ(zuQualifyName("", "zone."), "zone.");
  EXPECT_EQ(zuQualifyName("host", "."), "host.");
  EXPECT_EQ(zuQualifyName("", "."), ".");
}

TEST(zuAfterCharAndSplitAtChar, Table) {
  EXPECT_EQ(zuAfterChar("key=value=x", '='), "value=x");
  EXPECT_EQ(zuAfterChar("key=", '='), "");
  EXPECT_EQ(zuAfterChar("key", '='), "");

  struct Case {
    const char* text;
    bool result;
    const char* head;
    const char* tail;
  };
  const Case cases[] = {
      {"user@host", true, "user", "host"}, {"@host", false, "", "host"},
      {"user@", false, "user", ""},        {"a@b@c", true, "a", "b@c"},
      {"nohost", false, "H", "T"},  // untouched
  };
  for (const auto& c : cases) {
    std::string head = "H", tail = "T";
    EXPECT_EQ(zuSplitAtChar(c.text, head, tail, '@'), c.result) << c.text;
    EXPECT_EQ(head, c.head) << c.text;
    EXPECT_EQ(tail, c.tail) << c.text;
  }
}

TEST(zuGetField, Table) {
  const struct {
    const char* text;
    u32 index;
    const char* expected;
  } cases[] = {
      {"a,bb,c", 0, "a"},
      {"a,bb,c", 1, "bb"},
      {"a,bb,c", 2, "c"},
      {"a,bb,c", 3, ""},
      {",x", 0, ""},
      {",x", 1, "x"},
      {"a,", 1, ""},
      {"", 0, ""},
      {"abc", 0, "abc"},
      {"a,,c", 1, ""},
      {"a,bb,c", 0xFFFFFFFF, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuGetField(c.text, c.index, ','), c.expected) << c.text << " #" << c.index;
  }
}

TEST(zuFindSuffixNoCase, LabelBoundaries) {
  const struct {
    const char* text;
    u32 end;
    const char* suffix;
    u32 expected;
  } cases[] = {
      {"www.Example.COM", 15, "example.com", 3},  // the dot before it
      {"example.com", 11, "EXAMPLE.com", 0},      // whole text
      {"a\texample.com", 13, "example.com", 2},   // after a tab
      {"wwwexample.com", 14, "example.com", 14},  // not on a boundary
      {"www.example.org", 15, "example.com", 15},
      {"com", 3, "example.com", 3},
      {"www.example.com.more", 15, "example.com", 3},
      {"short", 99, "short", 99},  // end beyond the text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuFindSuffixNoCase(c.text, c.end, c.suffix), c.expected) << c.text;
  }
}

// ---- Hexadecimal -----------------------------------------------------------

TEST(zuHexDigitValue, Table) {
  const std::string good = "0123456789abcdefABCDEF";
  const u8 values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                       11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (std::size_t i = 0; i < good.size(); ++i) {
    u8 v = 99;
    EXPECT_TRUE(zuHexDigitValue(good[i], v));
    EXPECT_EQ(v, values[i]);
  }
  for (char c : std::string("gG/:@`x \0", 9)) {
    u8 v = 99;
    EXPECT_FALSE(zuHexDigitValue(c, v)) << int(c);
  }
}

TEST(zuHexEncode, SeparatorPrecedesEveryByte) {
  const u8 bytes[] = {0x0A, 0xFF};
  std::string out = ">";
  zuHexEncode(out, bytes, 2, ":", false);
  EXPECT_EQ(out, ">:0a:ff");
  out.clear();
  zuHexEncode(out, bytes, 2, "", true);
  EXPECT_EQ(out, "0AFF");
  out = "x";
  zuHexEncode(out, bytes, 0, ":", true);
  zuHexEncode(out, bytes, -1, ":", true);
  EXPECT_EQ(out, "x");
}

TEST(zuHexDecode, PairsOddDigitAndBadBytes) {
  const struct {
    const char* hex;
    bool ok;
    std::vector<u8> bytes;
  } cases[] = {
      {"", true, {}},          {"abc", true, {0xAB, 0xC0}},
      {"ax", false, {0xA0}},   {"00fF10", true, {0x00, 0xFF, 0x10}},
      {"ab x", false, {0xAB}}, {"zz", false, {}},
  };
  for (const auto& c : cases) {
    u8 buf[8] = {};
    u32 count = 77;
    EXPECT_EQ(zuHexDecode(buf, sizeof buf, count, c.hex), c.ok) << c.hex;
    EXPECT_EQ(std::vector<u8>(buf, buf + count), c.bytes) << c.hex;

    std::vector<u8> v{1, 2, 3};
    EXPECT_EQ(zuHexDecode(v, c.hex), c.ok) << c.hex;
    EXPECT_EQ(v, c.bytes) << c.hex;
  }
}

TEST(zuHexDecode, NeverWritesPastTheCapacity) {
  u8 buf[4] = {0x11, 0x22, 0x33, 0x44};
  u32 count = 0;
  EXPECT_FALSE(zuHexDecode(buf, 2, count, "aabbcc"));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_EQ(buf[1], 0xBB);
  EXPECT_EQ(buf[2], 0x33);
  // An odd last digit needs a byte of its own.
  EXPECT_FALSE(zuHexDecode(buf, 1, count, "aab"));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(buf[1], 0xBB);
  EXPECT_TRUE(zuHexDecode(buf, 2, count, "aab"));
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(zuHexDecode(nullptr, 0, count, ""));
  EXPECT_FALSE(zuHexDecode(nullptr, 0, count, "a"));
  EXPECT_EQ(count, 0u);
}

// ---- Fixed-format texts ----------------------------------------------------

TEST(zuIsSizeText, Table) {
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {"10", true},
      {"10k", true},
      {"10K", true},
      {"5m", true},
      {"5G", true},
      {"4294967295g", true},
      {"", false},
      {"k", false},
      {"10kb", false},
      {"10 k", false},
      {"-1k", false},
      {"4294967296", false},
      {"10x", false},
      {"1.5m", false},
      {std::string("1\0k", 3), false},
      {std::string("10\0", 3), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zuIsSizeText(c.text), c.ok) << c.text;
  }
}

TEST(zuMacAddress, NormaliseFormatStrip) {
  const struct {
    const char* text;
    bool ok;
    const char* normal;
  } cases[] = {
      {"00-1a-2B-3c-4d-5e", true, "00:1A:2B:3C:4D:5E"},
      {"001a2b3c4d5e", true, "00:1A:2B:3C:4D:5E"},
      {"00 1a:2b\t3c-4d5e", true, "00:1A:2B:3C:4D:5E"},
      {"0:01a2b3c4d5e", true, "00:1A:2B:3C:4D:5E"},
      {"001a2b3c4d5", false, ""},
      {"001a2b3c4d5e6", false, ""},
      {"001a2b3c4d5g", false, ""},
      {"00.1a.2b.3c.4d.5e", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(zuNormalizeMacAddress(c.text, out), c.ok) << c.text;
    EXPECT_EQ(out, c.ok ? c.normal : "untouched") << c.text;
    EXPECT_EQ(zuFormatMacAddress(c.text), c.ok ? c.normal : c.text) << c.text;
  }
  EXPECT_EQ(zuStripMacAddress("00:1A-2b.3C 4d"), "001a2b3c 4d");
}

}  // namespace
