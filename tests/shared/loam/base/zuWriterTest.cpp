#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "loam/base/zuWriter.h"
#include "support/TestSupport.h"

namespace {

using tw::test::readFile;

struct NewLinesCase {
  std::vector<u32> calls;
  std::string written;
  u32 lines;
};

void PrintTo(const NewLinesCase& c, std::ostream* os) {
  *os << "calls";
  for (u32 n : c.calls) *os << ' ' << n;
}

class WriterNewLines : public ::testing::TestWithParam<NewLinesCase> {};

TEST_P(WriterNewLines, SuppressesOnlyTheFirstBreak) {
  const NewLinesCase& c = GetParam();
  std::ostringstream out;
  zuWriter w(&out);
  for (u32 n : c.calls) EXPECT_EQ(w.newLines(n), n != 0);
  EXPECT_EQ(out.str(), c.written);
  EXPECT_EQ(w.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(Table, WriterNewLines,
                         ::testing::Values(NewLinesCase{{1}, "", 1},       //
                                           NewLinesCase{{1, 1}, "\n", 2},  //
                                           NewLinesCase{{3}, "\n\n", 3},   //
                                           NewLinesCase{{0}, "", 0},       //
                                           NewLinesCase{{0, 1}, "", 1},    // 0 counts nothing
                                           NewLinesCase{{2, 0, 2}, "\n\n\n", 4}));

TEST(Writer, IndentWritesTabs) {
  for (const auto& [n, text] :
       std::vector<std::pair<i16, std::string>>{{-3, ""}, {0, ""}, {1, "\t"}, {4, "\t\t\t\t"}}) {
    std::ostringstream out;
    zuWriter w(&out);
    w.indent(n);
    EXPECT_EQ(out.str(), text) << n;
  }
}

TEST(Writer, WritesLinesToAFileWithBareLineFeeds) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("zone.txt");
  std::ofstream(path) << "older and longer content than what follows";
  zuWriter w(path);
  ASSERT_TRUE(w.isOpen());
  EXPECT_EQ(w.fileName(), path);
  EXPECT_TRUE(w.ownsStream());
  for (const char* line : {"first", "second"}) {
    w.newLines(1);
    w.indent(1);
    *w.stream() << line;
  }
  w.newLines(1);
  // Each break is flushed: the file holds the text before the writer closes.
  EXPECT_EQ(readFile(path), "\tfirst\n\tsecond\n");
  w.close();
  EXPECT_FALSE(w.isOpen());
  EXPECT_EQ(w.stream(), nullptr);
  EXPECT_EQ(w.fileName(), "");
}

TEST(Writer, ReopeningTheSameFileKeepsNoOldText) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("out.txt");
  zuWriter w;
  ASSERT_TRUE(w.open(path));
  *w.stream() << "unflushed old text";
  ASSERT_TRUE(w.open(path));
  *w.stream() << "new";
  w.close();
  EXPECT_EQ(readFile(path), "new");
}

TEST(Writer, OpenInAMissingFolderHoldsAStreamThatIsNotOpen) {
  tw::test::ScratchDir dir;
  zuWriter w;
  EXPECT_FALSE(w.open(dir.file("missing/out.txt")));
  EXPECT_NE(w.stream(), nullptr);
  EXPECT_FALSE(w.isOpen());
  EXPECT_TRUE(w.newLines(2));  // writing to it is harmless
}

TEST(Writer, IsOpenFollowsTheStreamState) {
  zuWriter w;
  EXPECT_FALSE(w.isOpen());
  std::ostringstream out;
  w.setStream(&out, "", false);
  EXPECT_TRUE(w.isOpen());
  out.setstate(std::ios::badbit);
  EXPECT_FALSE(w.isOpen());
}

TEST(Writer, WithoutAStreamNothingIsWritten) {
  zuWriter w;
  w.indent(3);
  EXPECT_FALSE(w.newLines(2));
  EXPECT_EQ(w.lines(), 0u);
}

// A stream that reports its own destruction.
class TrackedStream : public std::ostringstream {
 public:
  explicit TrackedStream(bool* destroyed) : m_destroyed(destroyed) {}
  ~TrackedStream() override { *m_destroyed = true; }

 private:
  bool* m_destroyed;
};

TEST(Writer, OwnedStreamsAreDeletedWhenLetGo) {
  bool byClose = false;
  bool bySet = false;
  bool byDestructor = false;
  {
    zuWriter w;
    w.setStream(new TrackedStream(&byClose), "a", true);
    w.close();
    EXPECT_TRUE(byClose);
    w.setStream(new TrackedStream(&bySet), "b", true);
    w.setStream(new TrackedStream(&byDestructor), "c", true);
    EXPECT_TRUE(bySet);
    EXPECT_FALSE(byDestructor);
  }
  EXPECT_TRUE(byDestructor);
}

TEST(Writer, HandedInStreamOutlivesTheWriter) {
  bool destroyed = false;
  TrackedStream out(&destroyed);
  {
    zuWriter w;
    w.setStream(&out, "", false);
    w.newLines(2);
    w.setStream(nullptr, "", false);
  }
  EXPECT_FALSE(destroyed);
  out << "still usable";
  EXPECT_EQ(out.str(), "\nstill usable");
}

TEST(Writer, SettingTheCurrentStreamAgainUpdatesOnlyNameAndOwnership) {
  bool destroyed = false;
  auto* out = new TrackedStream(&destroyed);
  {
    zuWriter w;
    w.setStream(out, "first", true);
    w.newLines(2);
    w.setStream(out, "second", true);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(w.fileName(), "second");
    EXPECT_EQ(w.lines(), 2u);
    w.setStream(out, "third", false);  // ownership handed back
    EXPECT_FALSE(w.ownsStream());
  }
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(out->str(), "\n");
  delete out;
  EXPECT_TRUE(destroyed);
}

// A buffer whose flush always fails.
class FailingSyncBuf : public std::stringbuf {
 protected:
  int sync() override { return -1; }
};

TEST(Writer, FailedFlushMarksTheStreamBad) {
  FailingSyncBuf buf;
  std::ostream out(&buf);
  zuWriter w(&out);
  EXPECT_TRUE(w.newLines(2));
  EXPECT_TRUE(out.bad());
  EXPECT_FALSE(w.isOpen());
}

}  // namespace
