#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "loam/platform/zuPlatformConsole.h"
#include "loam/threads/zuConsole.h"
#include "support/ConsoleTestSupport.h"

namespace {

using tw::test::Pipe;
using tw::test::PseudoTerminal;
using zuPlatform::ConsoleRedirect;

// Console input fed from a pipe (closed after the given bytes, so the end of
// input follows them) and output captured in another.
class PipedConsole {
 public:
  explicit PipedConsole(const std::string& input) {
    in_.write(input);
    in_.closeWrite();
    redirect_ = std::make_unique<ConsoleRedirect>(in_.readEnd(), out_.writeEnd());
  }
  std::string output() const { return tw::test::readAvailable(out_.readEnd()); }
  // What input is left unread.
  std::string rest() const { return tw::test::readAvailable(in_.readEnd()); }

 private:
  Pipe in_, out_;
  std::unique_ptr<ConsoleRedirect> redirect_;
};

std::string repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

std::string promptFor(u32 kind, const std::string& text) {
  const char* choice = kind == 1   ? " [Ok/Cancel] "
                       : kind == 2 ? " [Yes/No] "
                       : kind == 3 ? " [Yes/No/Cancel] "
                                   : " ";
  return "Warning: " + text + choice;
}

struct AskCase {
  u32 kind;
  std::string input;
  u32 result;
  int prompts;  // how often the prompt was shown
};

TEST(Console, AskTable) {
  const AskCase table[] = {
      {1, "o\n", 1, 1},
      {1, "OK\n", 1, 1},
      {1, "c\n", 2, 1},
      {1, "Cancel\n", 2, 1},
      {1, "x\no\n", 1, 2},
      {1, "yes\nno\nc\n", 2, 3},  // letters of other kinds are not offered
      {2, "y\n", 5, 1},
      {2, "Yes\n", 5, 1},
      {2, "no\n", 6, 1},
      {2, "N\n", 6, 1},
      {2, "cancel\nok\nn\n", 6, 3},
      {3, "yes\n", 3, 1},
      {3, "n\n", 4, 1},
      {3, "C\n", 2, 1},
      {3, "ok\ny\n", 3, 2},
      {3, "\n yes\ny\n", 3, 3},  // empty and blank-led answers ask again
      {0, "anything\n", 1, 1},
      {0, "\n", 1, 1},
      {7, "y\n", 1, 1},
      // The tail of an over-long answer is not read as another answer.
      {1, std::string(300, 'x') + "ccc\no\n", 1, 2},
  };
  for (const AskCase& row : table) {
    SCOPED_TRACE(testing::Message() << "kind " << row.kind << " input \"" << row.input << "\"");
    PipedConsole console(row.input + "unread\n");
    EXPECT_EQ(zuConsole::ask(row.kind, 0, "Disk full.", 0), row.result);
    EXPECT_EQ(console.output(), repeat(promptFor(row.kind, "Disk full."), row.prompts));
    EXPECT_EQ(console.rest(), "unread\n");  // exactly the answers were read
  }
}

// Without this the prompt would be shown and read again for ever.
TEST(Console, AskAtEndOfInputTable) {
  const AskCase table[] = {
      {1, "", 2, 1},         // Cancel
      {2, "", 6, 1},         // No
      {3, "", 2, 1},         // Cancel
      {0, "", 1, 1},         // nothing to choose
      {1, "x\n", 2, 2},      // a wrong answer, then the end
      {2, "maybe\n", 6, 2},  // the same for kind 2
      {3, "\n\n", 2, 3},     // empty answers, then the end
      {3, "y", 3, 1},        // a last answer without line end still counts
      {2, "q", 6, 2},        // a wrong last answer without line end
  };
  for (const AskCase& row : table) {
    SCOPED_TRACE(testing::Message() << "kind " << row.kind << " input \"" << row.input << "\"");
    PipedConsole console(row.input);
    EXPECT_EQ(zuConsole::ask(row.kind, 0, "Go on?", 0), row.result);
    EXPECT_EQ(console.output(), repeat(promptFor(row.kind, "Go on?"), row.prompts));
  }
}

TEST(Console, AskFormatsMessages) {
  const zuMessage message("Port $p is in use by $s.", 'p', "4152", 's', "another agent");
  {
    PipedConsole console("y\n");
    EXPECT_EQ(zuConsole::ask(2, 0, message, 1), 5u);
    EXPECT_EQ(console.output(), "Warning: Port 4152 is in use by another agent. [Yes/No] ");
  }
  {
    PipedConsole console("whatever\n");
    EXPECT_EQ(zuConsole::ask(message), 1u);
    EXPECT_EQ(console.output(), "Warning: Port 4152 is in use by another agent. ");
  }
}

TEST(Console, ShowMessageSkipsEmptyText) {
  {
    PipedConsole console("line\n");
    zuConsole::showMessage(zuMessage(""));
    EXPECT_EQ(console.output(), "");
    EXPECT_EQ(console.rest(), "line\n");
  }
  {
    PipedConsole console("line\nnext\n");
    zuConsole::showMessage(zuMessage("Done."));
    EXPECT_EQ(console.output(), "Warning: Done. ");
    EXPECT_EQ(console.rest(), "next\n");
  }
}

TEST(Console, ReadLineShowsPromptAndReadsOneLine) {
  PipedConsole console("first line\n" + std::string(300, 'z') + "\nlast");
  std::string out = "stale";
  ASSERT_TRUE(zuConsole::readLine("Name: ", out, false));
  EXPECT_EQ(out, "first line");
  ASSERT_TRUE(zuConsole::readLine("Again: ", out, false));
  EXPECT_EQ(out, std::string(255, 'z'));
  ASSERT_TRUE(zuConsole::readLine("", out, false));
  EXPECT_EQ(out, "last");
  EXPECT_FALSE(zuConsole::readLine("More: ", out, false));
  EXPECT_EQ(out, "");
  EXPECT_EQ(console.output(), "Name: Again: More: ");
}

struct HiddenCase {
  const char* name;
  std::string keys;
  std::string out;
};

const HiddenCase kHiddenTable[] = {
    {"Enter ends", "secret\r", "secret"},
    {"LF ends", "secret\n", "secret"},
    {"Ctrl-C ends", "top\x03rest", "top"},
    {"Ctrl-D ends", "x\x04rest", "x"},
    {"backspace", "abc\b\bd\r", "ad"},
    {"DEL is backspace",
     "ab\x7f\x7f\x7f"
     "c\r",
     "c"},
    {"backspace on empty input ignored", "\b\x7fxy\r", "xy"},
    {"arrow keys dropped", "pa\x1b[A\x1b[Dss\r", "pass"},
    {"function keys dropped", "a\x1b[15~\x1bOP\x1b[[Ab\r", "ab"},
    {"Alt with a key dropped",
     "a\x1b"
     "bc\r",
     "ac"},
    {"Escape before backspace", "ab\x1b\x7f\r", "a"},
    {"blanks and bytes above 127 kept", "p \xc3\xa9!\r", "p \xc3\xa9!"},
};

TEST(Console, HiddenReadThroughPipeTable) {
  for (const HiddenCase& row : kHiddenTable) {
    PipedConsole console(std::string(row.keys) + "after");
    std::string out = "stale";
    EXPECT_TRUE(zuConsole::readLine("Password: ", out, true)) << row.name;
    EXPECT_EQ(out, row.out) << row.name;
    EXPECT_EQ(console.output(), "Password: \n") << row.name;
  }
}

TEST(Console, HiddenReadAtEndOfInput) {
  {
    PipedConsole console("");
    std::string out;
    EXPECT_FALSE(zuConsole::readLine("Password: ", out, true));
    EXPECT_EQ(out, "");
    EXPECT_EQ(console.output(), "Password: \n");
  }
  {
    PipedConsole console("part");
    std::string out;
    EXPECT_TRUE(zuConsole::readLine("Password: ", out, true));
    EXPECT_EQ(out, "part");
  }
}

using tw::test::sameSettings;

// A person at a terminal: the keys are typed once the prompt shows.
TEST(Console, HiddenReadOnTerminalTable) {
  for (const HiddenCase& row : kHiddenTable) {
    SCOPED_TRACE(row.name);
    PseudoTerminal pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
    std::string out;
    std::future<bool> done;
    {
      ConsoleRedirect redirect(pty.slave(), pty.slave());
      done = std::async(std::launch::async,
                        [&out] { return zuConsole::readLine("Password: ", out, true); });
      EXPECT_EQ(tw::test::readUntil(pty.master(), "Password: "), "Password: ");
      pty.type(row.keys);
      if (done.wait_for(tw::test::kFailBound) != std::future_status::ready) {
        ADD_FAILURE() << "the key that ends the input was not seen";
        pty.hangUp();
      }
      EXPECT_TRUE(done.get());
    }
    EXPECT_EQ(out, row.out);
    // Only the end of line reaches the screen; an echo would come before it.
    if (pty.master() >= 0) {
      EXPECT_EQ(tw::test::readUntil(pty.master(), "\r\n"), "\r\n");
    }
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_TRUE(sameSettings(before, after));
  }
}

}  // namespace
