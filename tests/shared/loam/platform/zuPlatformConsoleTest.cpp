#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformConsole.h"
#include "support/ConsoleTestSupport.h"

namespace {

using tw::test::Pipe;
using tw::test::PseudoTerminal;
using zuPlatform::ConsoleKeyReader;
using zuPlatform::ConsoleRedirect;

constexpr int kEnd = ConsoleKeyReader::kEnd;
constexpr int kDrop = ConsoleKeyReader::kDropped;

using tw::test::sameSettings;

struct LineCase {
  const char* name;
  std::string input;
  std::vector<std::string> lines;
};

TEST(PlatformConsole, ReadLineTable) {
  const std::string x255(255, 'x');
  const LineCase table[] = {
      {"one line", "abc\n", {"abc"}},
      {"CR LF ends a line", "a\r\nb\n", {"a", "b"}},
      {"a CR inside stays", "a\rb\n", {"a\rb"}},
      {"empty lines", "\n\n", {"", ""}},
      {"last line without line end", "tail", {"tail"}},
      {"nothing", "", {}},
      {"over-long tail dropped", std::string(300, 'x') + "\nnext\n", {x255, "next"}},
      {"limit with CR LF", x255 + "\r\n", {x255}},
  };
  for (const LineCase& row : table) {
    Pipe in, out;
    in.write(row.input);
    in.closeWrite();
    ConsoleRedirect redirect(in.readEnd(), out.writeEnd());
    std::string line;
    for (const std::string& want : row.lines) {
      ASSERT_TRUE(zuPlatform::readConsoleLine(line, 255)) << row.name;
      EXPECT_EQ(line, want) << row.name;
    }
    EXPECT_FALSE(zuPlatform::readConsoleLine(line, 255)) << row.name;
    EXPECT_EQ(line, "") << row.name;
  }
}

struct KeyCase {
  const char* name;
  std::string input;
  std::vector<int> keys;  // up to and including kEnd
};

TEST(PlatformConsole, KeyReaderFromPipeTable) {
  const KeyCase table[] = {
      {"plain", "ab", {'a', 'b', kEnd}},
      {"DEL is backspace", "\x7f\b", {8, 8, kEnd}},
      {"NUL dropped", std::string("\0z", 2), {kDrop, 'z', kEnd}},
      {"arrow", "\x1b[Az", {kDrop, 'z', kEnd}},
      {"modified arrow", "\x1b[1;5Cz", {kDrop, 'z', kEnd}},
      {"function key CSI", "\x1b[15~z", {kDrop, 'z', kEnd}},
      {"function key SS3", "\x1bOPz", {kDrop, 'z', kEnd}},
      {"Linux console function key", "\x1b[[Az", {kDrop, 'z', kEnd}},
      {"Alt with a letter", "\x1bxz", {kDrop, 'z', kEnd}},
      {"Escape then Enter", "\x1b\rz", {kDrop, '\r', 'z', kEnd}},
      {"Escape then arrow", "\x1b\x1b[Az", {kDrop, kDrop, 'z', kEnd}},
      {"control byte ends a sequence", "\x1b[1\x03", {kDrop, 3, kEnd}},
      {"high byte ends a sequence", "\x1b[1\xc3\xa9", {kDrop, 0xC3, 0xA9, kEnd}},
      {"Escape at the end", "\x1b", {kDrop, kEnd}},
      {"bytes above 127", "\xc3\xa9", {0xC3, 0xA9, kEnd}},
      {"Ctrl-C and Ctrl-D are bytes", "\x03\x04", {3, 4, kEnd}},
  };
  for (const KeyCase& row : table) {
    Pipe in, out;
    in.write(row.input);
    in.closeWrite();
    ConsoleRedirect redirect(in.readEnd(), out.writeEnd());
    ConsoleKeyReader reader;
    EXPECT_FALSE(reader.isTerminal()) << row.name;
    std::vector<int> got;
    while (got.size() < row.keys.size()) {
      got.push_back(reader.next());
      if (got.back() == kEnd) break;
    }
    EXPECT_EQ(got, row.keys) << row.name;
  }
}

TEST(PlatformConsole, KeyReaderQuietensTerminalAndRestoresIt) {
  PseudoTerminal pty;
  termios before{};
  ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
  ASSERT_NE(before.c_lflag & ECHO, 0u);  // the pty starts cooked
  {
    ConsoleRedirect redirect(pty.slave(), pty.slave());
    ConsoleKeyReader reader;
    ASSERT_TRUE(reader.isTerminal());
    termios during{};
    ASSERT_EQ(tcgetattr(pty.slave(), &during), 0);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG), 0u);

    // Ctrl-C arrives as a byte, not as a signal; a lone Escape is told from a
    // sequence by the silence after it.
    pty.type("\x03");
    EXPECT_EQ(reader.next(), 3);
    pty.type("\x1b");
    EXPECT_EQ(reader.next(), kDrop);
    pty.type("q\x1b[Bw");
    EXPECT_EQ(reader.next(), 'q');
    EXPECT_EQ(reader.next(), kDrop);
    EXPECT_EQ(reader.next(), 'w');
  }
  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
  EXPECT_TRUE(sameSettings(before, after));
  // Nothing typed was echoed.
  EXPECT_EQ(tw::test::readAvailable(pty.master()), "");
}

TEST(PlatformConsole, RedirectNestsAndRestores) {
  Pipe outer, inner;
  {
    ConsoleRedirect first(-1, outer.writeEnd());
    {
      ConsoleRedirect second(-1, inner.writeEnd());
      zuPlatform::writeConsole("in");
    }
    zuPlatform::writeConsole("out");
  }
  EXPECT_EQ(tw::test::readAvailable(inner.readEnd()), "in");
  EXPECT_EQ(tw::test::readAvailable(outer.readEnd()), "out");
}

}  // namespace
