#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "loam/netobjects/zuFieldReader.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using Records = std::vector<std::vector<std::string>>;

struct ReadAll {
  Records records;
  bool unterminated = false;
};

ReadAll readAll(const std::string& text, char separator) {
  std::istringstream in(text);
  zuFieldReader reader(&in, static_cast<unsigned char>(separator));
  ReadAll out;
  std::vector<std::string> fields;
  // Bounded: a reader that never ends would otherwise hang the test.
  for (int i = 0; i < 100 && reader.readRecord(fields); ++i) out.records.push_back(fields);
  out.unterminated = reader.unterminatedQuote();
  return out;
}

struct Case {
  const char* name;
  std::string text;
  char separator;
  Records expected;
  bool unterminated;
};

TEST(zuFieldReader, Records) {
  const std::vector<Case> cases = {
      {"quoted separator and doubled quote",
       "a,\"b,c\" ,\"d\"\"e\"",
       ',',
       {{"a", "b,c", "d\"e"}},
       false},
      {"blanks outside quotes dropped, inside kept",
       "  x  ,\" y \" , z\t",
       ',',
       {{"x", " y ", "z"}},
       false},
      {"quoted line end is data", "\"one\ntwo\",3\n", ',', {{"one\ntwo", "3"}}, false},
      {"CR LF, LF CR, CR and LF each end one line",
       "a\r\nb\n\rc\rd\ne",
       ',',
       {{"a"}, {"b"}, {"c"}, {"d"}, {"e"}},
       false},
      {"blank lines before and between records vanish",
       "\n\r\n\na,b\n\n\nc",
       ',',
       {{"a", "b"}, {"c"}},
       false},
      {"empty fields between separators", "a,,b,\n,", ',', {{"a", "", "b", ""}, {"", ""}}, false},
      {"tab separator keeps empty fields", "a\t\tb\t\n", '\t', {{"a", "", "b", ""}}, false},
      {"tab separator still drops spaces", " a \t b ", '\t', {{"a", "b"}}, false},
      {"byte 0xFF is data",
       "\xff,a\xff"
       "b\n\xff",
       ',',
       {{"\xff",
         "a\xff"
         "b"},
        {"\xff"}},
       false},
      {"unterminated quote fails the record", "a,\"open", ',', {}, true},
      {"unterminated quote after whole records", "a\n\"open\n", ',', {{"a"}}, true},
      {"empty input", "", ',', {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadAll got = readAll(c.text, c.separator);
    EXPECT_EQ(got.records, c.expected);
    EXPECT_EQ(got.unterminated, c.unterminated);
  }
}

TEST(zuFieldReader, CountsLinesColumnsAndRecords) {
  std::istringstream in("ab,c\r\nd");
  zuFieldReader reader(&in, ',');
  EXPECT_EQ(reader.line(), 1u);
  EXPECT_EQ(reader.current(), 0);
  std::string field;
  ASSERT_TRUE(reader.readField(field));
  EXPECT_EQ(field, "ab");
  EXPECT_EQ(reader.fieldsInLine(), 1u);
  EXPECT_EQ(reader.column(), 3u);
  ASSERT_TRUE(reader.readField(field));
  EXPECT_EQ(field, "c");
  EXPECT_EQ(reader.records(), 1u);
  EXPECT_EQ(reader.line(), 2u);
  EXPECT_EQ(reader.column(), 0u);
  EXPECT_EQ(reader.current(), 10);
  ASSERT_TRUE(reader.readField(field));
  EXPECT_EQ(reader.records(), 2u);
  EXPECT_FALSE(reader.readField(field));
  EXPECT_EQ(reader.current(), zuFieldReader::kEnd);
  EXPECT_FALSE(reader.unterminatedQuote());
}

TEST(zuSplitFields, OneRecordOfTheText) {
  std::vector<std::string> fields{"stale"};
  EXPECT_TRUE(zuSplitFields("", fields, ','));
  EXPECT_TRUE(fields.empty());
  EXPECT_TRUE(zuSplitFields("a;\"b;c\"\nnext", fields, ';'));
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "b;c"}));
  EXPECT_FALSE(zuSplitFields("\"x", fields, ','));
}

TEST(zuJoinFields, QuotesEveryFieldAndDoublesQuotes) {
  EXPECT_EQ(zuQuoteField("say \"hi\""), "\"say \"\"hi\"\"\"");
  std::string text = "stale";
  EXPECT_TRUE(zuJoinFields({}, text, ','));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(zuJoinFields({"a", "b\"c"}, text, ','));
  EXPECT_EQ(text, "\"a\",\"b\"\"c\"");
  // What the writer builds, the reader reads back.
  const std::vector<std::string> row{"", " x ", "a,b", "q\"q", "line\nend"};
  ASSERT_TRUE(zuJoinFields(row, text, '\t'));
  std::vector<std::string> back;
  ASSERT_TRUE(zuSplitFields(text, back, '\t'));
  EXPECT_EQ(back, row);
}

// Python's csv module is the independent writer of the same format.
TEST(zuJoinFields, MatchesPythonCsvQuoteAll) {
  ASSERT_TRUE(tw::test::haveTool("python3")) << "python3 is the independent peer (Debian python3)";
  const std::vector<std::vector<std::string>> rows = {
      {"a", "b"}, {"", "x y", "with,comma"}, {"q\"uote", "\"\"", "tab\there"}, {"only"}};
  tw::test::ScratchDir dir;
  // One field a line, rows separated by an empty line marker.
  std::string input;
  for (const auto& row : rows) {
    for (const std::string& f : row) input += f + "\n";
    input += "--end--\n";
  }
  tw::test::writeFileBytes(dir.file("rows.txt"), input);
  const std::string script =
      "import csv,sys\n"
      "rows=[];row=[]\n"
      "for line in open(sys.argv[1]).read().split('\\n')[:-1]:\n"
      "    if line=='--end--': rows.append(row); row=[]\n"
      "    else: row.append(line)\n"
      "for sep in [',',';','\\t']:\n"
      "    w=csv.writer(sys.stdout,quoting=csv.QUOTE_ALL,delimiter=sep,lineterminator='\\n')\n"
      "    for r in rows: w.writerow(r)\n";
  tw::test::writeFileBytes(dir.file("w.py"), script);
  std::string python;
  ASSERT_EQ(tw::test::runTool("python3 " + tw::test::shellQuote(dir.file("w.py")) + " " +
                                  tw::test::shellQuote(dir.file("rows.txt")),
                              &python),
            0);
  std::string ours;
  for (char sep : {',', ';', '\t'}) {
    for (const auto& row : rows) {
      std::string line;
      ASSERT_TRUE(zuJoinFields(row, line, sep));
      ours += line + "\n";
    }
  }
  EXPECT_EQ(ours, python);
}

}  // namespace
