#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/dns/zuMasterFileErrors.h"
#include "loam/dns/zuMasterFileFormatLexer.h"
#include "loam/dns/zuStreamLexer.h"
#include "loam/dns/zuStreamScanning.h"

namespace {

// Every token up to the end of input, words by their text, others by name.
std::vector<std::string> tokens(zuCustomStreamLexer& lexer, std::size_t limit = 100) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < limit; ++i) {
    const u32 kind = lexer.nextToken();
    if (kind == zuTokenKind::Comment)
      out.push_back(lexer.tokenPrefix() + lexer.tokenText());
    else
      out.push_back(kind == zuTokenKind::Word ? lexer.tokenText() : lexer.tokenName(kind));
    if (kind == zuTokenKind::EndOfInput) break;
  }
  return out;
}

using Tokens = std::vector<std::string>;

std::string formatted(const zuException& e) { return e.message().toString(); }

TEST(zuStreamLexer, EndOfLineTokensComeWhenTheNextLineIsRead) {
  struct Case {
    const char* input;
    Tokens expected;
  };
  const Case cases[] = {
      {"a b\n", {"<eol>", "a", "b", "<eol>", "<eof>"}},
      {"a", {"<eol>", "a", "<eol>", "<eof>"}},
      {"a\n", {"<eol>", "a", "<eol>", "<eof>"}},
      {"a\r\nb\n\rc\r\rd",
       {"<eol>", "a", "<eol>", "b", "<eol>", "c", "<eol>", "<eol>", "d", "<eol>", "<eof>"}},
      {"", {"<eol>", "<eof>"}},
  };
  for (const Case& c : cases) {
    zuStreamLexer lexer(c.input);
    lexer.setReturnEOL(true);
    EXPECT_EQ(tokens(lexer), c.expected) << c.input;
  }
  zuStreamLexer plain("a\n\n b\n");
  EXPECT_EQ(tokens(plain), (Tokens{"a", "b", "<eof>"}));
  EXPECT_EQ(plain.nextToken(), zuTokenKind::EndOfInput);
}

TEST(zuStreamLexer, LineNumbersCountPhysicalLines) {
  zuStreamLexer lexer("a\r\nb\n\nc");
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
  EXPECT_EQ(lexer.lineNumber(), 1u);
  lexer.nextToken();
  EXPECT_EQ(lexer.lineNumber(), 2u);
  lexer.nextToken();
  EXPECT_EQ(lexer.lineNumber(), 4u);
  EXPECT_EQ(lexer.tokenColumn(), 0u);
}

TEST(zuStreamLexer, QuotesEscapesAndStripping) {
  {
    zuStreamLexer lexer("\"a b\" c\\ d \\065x \\\"q");
    EXPECT_EQ(tokens(lexer), (Tokens{"\"a b\"", "c d", "Ax", "\"q", "<eof>"}));
  }
  {
    zuStreamLexer lexer("\"a b\" \\065 \"a\\\"b\"");
    lexer.disableEscapes();
    EXPECT_EQ(tokens(lexer), (Tokens{"\"a b\"", "\\065", "\"a\\\"b\"", "<eof>"}));
  }
  {
    zuStreamLexer lexer("\"a b\" \"\" \"");
    lexer.setStripQuotes(true);
    EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
    EXPECT_STREQ(lexer.tokenText(), "a b");
    EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
    EXPECT_STREQ(lexer.tokenText(), "");
  }
}

TEST(zuStreamLexer, WordErrorsNameFileLineAndToken) {
  struct Case {
    const char* input;
    u16 code;
    const char* text;
  };
  const Case cases[] = {
      {"x\n\"open", zuErrUnexpectedToken,
       "Error in file \"z.txt\" line 2. Expected \"\"\" got \"\"open\" ."},
      {"x\nab\\", zuErrIncorrectFormat, "Error in file \"z.txt\" line 2. Incorrect format."},
      // \999 is no byte: refused whether or not escapes are decoded.
      {"\\256", zuErrIncorrectFormat, "Error in file \"z.txt\" line 1. Incorrect format."},
  };
  for (const Case& c : cases) {
    for (bool decode : {true, false}) {
      zuStreamLexer lexer;
      lexer.setStream(std::make_unique<std::istringstream>(c.input), "z.txt");
      if (!decode) lexer.disableEscapes();
      try {
        tokens(lexer);
        ADD_FAILURE() << c.input;
      } catch (const zuException& e) {
        EXPECT_EQ(e.code(), c.code) << c.input;
        EXPECT_EQ(formatted(e), c.text) << c.input;
      }
    }
  }
  zuStreamLexer ok("\\255");
  EXPECT_EQ(ok.nextToken(), zuTokenKind::Word);
  EXPECT_EQ(std::string(ok.tokenText()), std::string(1, '\xff'));
}

TEST(zuStreamLexer, TokenTextStaysValidAndTheLineIsRestored) {
  zuStreamLexer lexer("ab;cd");
  lexer.setClass(';', zuCustomStreamLexer::kSingleChar);
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
  EXPECT_STREQ(lexer.tokenText(), "ab");
  EXPECT_STREQ(lexer.tokenText(), "ab");
  EXPECT_EQ(lexer.nextToken(), static_cast<u32>(';'));
  EXPECT_STREQ(lexer.tokenText(), ";");
  EXPECT_EQ(lexer.lineText(0, 5), "ab;cd");
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
  EXPECT_STREQ(lexer.tokenText(), "cd");
}

TEST(zuStreamLexer, TokenNamesAreOwnedByEachLexer) {
  zuStreamLexer a;
  zuStreamLexer b;
  const char* nine = a.tokenName(9);
  const char* letter = b.tokenName(65);
  EXPECT_STREQ(nine, "9");
  EXPECT_STREQ(letter, "A");
  EXPECT_STREQ(a.tokenName(0), "<nul>");
  EXPECT_STREQ(a.tokenName(300), "<eol>");
  EXPECT_STREQ(a.tokenName(301), "<eof>");
  EXPECT_STREQ(a.tokenName(302), "<comment>");
}

TEST(zuStreamLexer, SlashCommentsSpanLinesAndAnOpenOneFails) {
  zuStreamLexer lexer("a /* x\n y */ b // rest\nc");
  lexer.setSlashComments(true);
  EXPECT_EQ(tokens(lexer), (Tokens{"a", "b", "c", "<eof>"}));
  zuStreamLexer open("a /* x\ny");
  open.setSlashComments(true);
  try {
    tokens(open);
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrUnterminatedComment);
    EXPECT_EQ(formatted(e), "Error in file \"\" line 2. Unterminated comments.");
  }
}

TEST(zuStreamLexer, LongLinesGrowTheBufferUpToTheCap) {
  const std::string word(100000, 'w');
  zuStreamLexer lexer(word + " x\n" + word + word);
  lexer.setMaxLineLength(150000);
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
  EXPECT_EQ(lexer.tokenLength(), word.size());
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::Word);
  try {
    lexer.nextToken();
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrIncorrectFormat);
    EXPECT_EQ(lexer.lineNumber(), 2u);
  }
}

TEST(zuStreamLexer, ExpectOperations) {
  zuStreamLexer lexer("word 12 3x Key");
  lexer.nextExpectWord();
  lexer.nextExpectInteger();
  EXPECT_EQ(lexer.tokenInteger(), 12);
  EXPECT_THROW(lexer.nextExpectInteger(), zuException);
  lexer.nextExpectKeyword("KEY");
  try {
    lexer.nextExpectTTLWord();
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrIncorrectTTL);
    EXPECT_EQ(formatted(e), "Error in file \"\" line 1. Incorrect TTL format.");
  }
  zuStreamLexer other("abc");
  other.nextToken();
  try {
    other.expectKeyword("xyz");
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(formatted(e), "Error in file \"\" line 1. Expected \"xyz\" got \"abc\" .");
  }
  try {
    other.expectKind(zuTokenKind::EndOfLine, zuErrExpectedEndOfLine, zuTextExpectedEndOfLine);
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrExpectedEndOfLine);
    EXPECT_EQ(e.message().paramRef('e'), "<eol>");
  }
}

TEST(zuStreamLexer, ErrorTokenShowsUnprintableBytesAsDots) {
  zuStreamLexer lexer("a\x01\x7f");
  lexer.nextToken();
  try {
    lexer.expectInteger();
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(e.message().paramRef('t'), "a..");
  }
}

TEST(zuStreamLexer, PositionCountsConsumedBytesAndSizeTheWholeStream) {
  std::istringstream in("ab\ncd\n");
  zuStreamLexer lexer(in);
  EXPECT_EQ(lexer.size(), 6u);
  lexer.nextToken();
  EXPECT_EQ(lexer.position(), 3u);
  EXPECT_EQ(lexer.size(), 6u);
  lexer.nextToken();
  EXPECT_STREQ(lexer.tokenText(), "cd");
  EXPECT_FALSE(zuStreamLexer().openFile("/nonexistent/zone"));
}

TEST(zuMasterFileFormatLexer, ParenthesesJoinLinesWithoutTokens) {
  zuMasterFileFormatLexer lexer;
  lexer.setStream(
      std::make_unique<std::istringstream>("a ( b ; gone\n c\n\n d ) e ; kept\nf ((g)) h\n"), "m");
  lexer.setReturnEOL(true);
  EXPECT_EQ(tokens(lexer), (Tokens{"<eol>", "a", "b", "c", "d", "e", "; kept", "<eol>", "f", "g",
                                   "h", "<eol>", "<eof>"}));
}

TEST(zuMasterFileFormatLexer, UnbalancedParenthesesFail) {
  struct Case {
    const char* input;
    const char* text;
  };
  // An input that ends inside a group names the line where the group began.
  const Case cases[] = {
      {"a (\nb\n", "Error in file \"m\" line 1. Expected \")\" got \"<eof>\" ."},
      {"a (\nb", "Error in file \"m\" line 1. Expected \")\" got \"<eof>\" ."},
      {"x\ny ( (\nz )\n\n", "Error in file \"m\" line 2. Expected \")\" got \"<eof>\" ."},
      {"x ( y )\nz (\n", "Error in file \"m\" line 2. Expected \")\" got \"<eof>\" ."},
      {"a )", "Error in file \"m\" line 1. Unexpected token \")\"."},
  };
  for (const Case& c : cases) {
    zuMasterFileFormatLexer lexer;
    lexer.setStream(std::make_unique<std::istringstream>(c.input), "m");
    lexer.setReturnEOL(true);
    try {
      tokens(lexer);
      ADD_FAILURE() << c.input;
    } catch (const zuException& e) {
      EXPECT_EQ(e.code(), zuErrUnexpectedToken);
      EXPECT_EQ(formatted(e), c.text);
    }
  }
}

// However the next input is attached, nothing of a group the last one left
// open remains: its lines end and its comments come back.
TEST(zuMasterFileFormatLexer, ANewInputStartsOutsideEveryGroup) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zu_lexer_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                     ".zone");
  std::ofstream(path, std::ios::binary) << "x ; c\ny\n";
  std::istringstream shared("x ; c\ny\n");
  struct Case {
    const char* what;
    std::function<void(zuMasterFileFormatLexer&)> attach;
  };
  const Case cases[] = {
      {"openFile", [&](zuMasterFileFormatLexer& l) { ASSERT_TRUE(l.openFile(path.string())); }},
      {"setStream of an owned stream",
       [](zuMasterFileFormatLexer& l) {
         l.setStream(std::make_unique<std::istringstream>("x ; c\ny\n"), "m");
       }},
      {"setStream of a caller's stream",
       [&](zuMasterFileFormatLexer& l) {
         shared.clear();
         shared.seekg(0);
         l.setStream(&shared, "m", false);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zuMasterFileFormatLexer lexer;
    lexer.setReturnEOL(true);
    lexer.setStream(std::make_unique<std::istringstream>("a ( (\nb\n"), "m");
    EXPECT_THROW(tokens(lexer), zuException);
    c.attach(lexer);
    EXPECT_EQ(lexer.depth(), 0);
    EXPECT_EQ(tokens(lexer), (Tokens{"<eol>", "x", "; c", "<eol>", "y", "<eol>", "<eof>"}));
  }
  std::filesystem::remove(path);
}

TEST(zuMasterFileFormatLexer, DeepNestingNeedsNoStack) {
  const std::string deep = "a " + std::string(200000, '(') + " b " + std::string(200000, ')');
  zuMasterFileFormatLexer lexer;
  lexer.setStream(std::make_unique<std::istringstream>(deep), "m");
  lexer.setReturnEOL(true);
  EXPECT_EQ(tokens(lexer), (Tokens{"<eol>", "a", "b", "<eol>", "<eof>"}));
}

TEST(zuMasterFileFormatLexer, DisabledMarkerIsReadAsTokensWithinItsLine) {
  zuMasterFileFormatLexer lexer;
  lexer.setStream(std::make_unique<std::istringstream>(";<!dis:www A ( 1 )>old\nnext\n"), "m");
  lexer.setReturnEOL(true);
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::EndOfLine);
  EXPECT_EQ(lexer.nextToken(), zuTokenKind::Comment);
  EXPECT_TRUE(lexer.skipDisabledMarker());
  lexer.setClass('>', zuCustomStreamLexer::kCommentStart);
  lexer.setLineConfined(true);
  EXPECT_EQ(tokens(lexer, 6), (Tokens{"www", "A", "1", ">old", "<eol>", "<eol>"}));
  lexer.setLineConfined(false);
  lexer.clearClass('>', zuCustomStreamLexer::kCommentStart);
  EXPECT_EQ(tokens(lexer), (Tokens{"<eol>", "next", "<eol>", "<eof>"}));

  zuMasterFileFormatLexer open;
  open.setStream(std::make_unique<std::istringstream>(";<!dis:www ( A\nb )\n"), "m");
  open.nextToken();
  open.skipDisabledMarker();
  open.setLineConfined(true);
  EXPECT_THROW(tokens(open), zuException);
}

TEST(zuStreamScanning, HelpersOverABareStream) {
  std::istringstream in("  junk line\r\n\tKey = 1f rest\nname: \"a b\" c\n");
  EXPECT_FALSE(matchNoCase(in, "junkx"));
  EXPECT_TRUE(matchNoCase(in, "  JUNK"));
  std::string line;
  EXPECT_TRUE(readLineText(in, line));
  EXPECT_EQ(line, " line");
  i32 value = 0;
  EXPECT_TRUE(readIntAfter(in, "key", '=', value, true));
  EXPECT_EQ(value, 0x1f);
  std::string word;
  EXPECT_TRUE(readStringAfter(in, "NAME", ':', word));
  EXPECT_EQ(word, "\"a b\"");
  EXPECT_FALSE(findKeyword(in, "absent"));
  std::istringstream open("\"abc");
  EXPECT_FALSE(readWord(open, word));
}

}  // namespace

namespace {
TEST(zuStreamLexer, ANulByteEndsTheLine) {
  const std::string text("a b\\\0c d\ne", 11);
  zuStreamLexer lexer(text);
  lexer.setReturnEOL(true);
  try {
    tokens(lexer);
    ADD_FAILURE();
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrIncorrectFormat);  // the backslash ends the line
  }
  zuStreamLexer plain(std::string("a b\0c d\ne", 9));
  plain.setReturnEOL(true);
  EXPECT_EQ(tokens(plain), (Tokens{"<eol>", "a", "b", "<eol>", "e", "<eol>", "<eof>"}));
}
}  // namespace

namespace {
TEST(zuMasterFileFormatLexer, AQuoteAlwaysOpensOrClosesAString) {
  struct Case {
    const char* input;
    Tokens expected;
  };
  const Case cases[] = {
      {"\"a\"\"b\"", {"\"a\"", "\"b\""}},
      {"\"abc\"def", {"\"abc\"", "def"}},
      {"a\"b c\"d", {"a", "\"b c\"", "d"}},
      {"\"\"x", {"\"\"", "x"}},
      // An escaped quote neither opens nor closes one.
      {"a\\\"b \"c\\\"d\"", {"a\\\"b", "\"c\\\"d\""}},
  };
  for (const Case& c : cases) {
    zuMasterFileFormatLexer lexer;
    lexer.disableEscapes();
    lexer.setStream(std::make_unique<std::istringstream>(c.input), "m");
    Tokens expected = c.expected;
    expected.push_back("<eof>");
    EXPECT_EQ(tokens(lexer), expected) << c.input;
  }
  // The plain lexer keeps a quote inside its word.
  zuStreamLexer plain("\"abc\"def");
  EXPECT_EQ(tokens(plain), (Tokens{"\"abc\"def", "<eof>"}));
}

TEST(zuMasterFileFormatLexer, ANulIsRefusedOutsideQuotesAndCommentsAndKeptInside) {
  const auto lex = [](const std::string& text) {
    zuMasterFileFormatLexer lexer;
    lexer.disableEscapes();
    lexer.setStream(std::make_unique<std::istringstream>(text), "m");
    return tokens(lexer);
  };
  EXPECT_EQ(lex(std::string("\"a\0b\" x\\\0y ;c\0d\n", 16)),
            (Tokens{"\"a\\000b\"", "x\\000y", ";c\\000d", "<eof>"}));
  for (const std::string& text :
       {std::string("ok\na A 192.0.2.2\0 garbage\n", 26), std::string("ok\n\0\n", 5)}) {
    try {
      lex(text);
      ADD_FAILURE() << "accepted";
    } catch (const zuException& e) {
      EXPECT_EQ(e.code(), zuErrIncorrectFormat);
      EXPECT_EQ(e.message().paramRef('l'), "2");
    }
  }
}
}  // namespace
