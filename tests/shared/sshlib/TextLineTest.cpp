#include "sshlib/TextLine.h"

#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include "sshlib/Err.h"
#include "SSHTestSupport.h"

namespace {

using sshtest::queueOf;

TEST(SSHTextLine, ReadLineKeepsTheCarriageReturnForTrimRight) {
  auto q = queueOf("abc\r\nnext");
  const std::string line = SSH::readLine(q);
  EXPECT_EQ(line, "abc\r");
  EXPECT_EQ(SSH::trimRight(line), "abc");
  EXPECT_EQ(SSH::readLine(q), "next");  // end of data ends the last line
  EXPECT_EQ(sshtest::caughtErr([&] { SSH::readLine(q); }),
            (sshtest::Caught{3, "SSH: premature end of data"}));
}

TEST(SSHTextLine, DelimiterAcrossChunkBoundaries) {
  // Delimiters at the end of one 128-byte look and the start of the next.
  const std::string first(127, 'a');
  const std::string second(128, 'b');
  auto q = queueOf(first + ";" + second + ";" + "tail");
  EXPECT_EQ(SSH::readDelimited(q, ';', 16384), first);
  EXPECT_EQ(SSH::readDelimited(q, ';', 16384), second);
  EXPECT_EQ(SSH::readDelimited(q, ';', 16384), "tail");
  EXPECT_EQ(q.MaxRetrievable(), 0u);
}

TEST(SSHTextLine, LongLinesAreBounded) {
  auto justFits = queueOf(std::string(16383, 'x') + "\n");
  EXPECT_EQ(SSH::readLine(justFits).size(), 16383u);

  auto tooLong = queueOf(std::string(20000, 'x') + "\n");
  EXPECT_EQ(sshtest::caughtErr([&] { SSH::readLine(tooLong); }),
            (sshtest::Caught{2, "SSH: line too long"}));
}

TEST(SSHTextLine, TrimRight) {
  EXPECT_EQ(SSH::trimRight("a b \t\r\n "), "a b");
  EXPECT_EQ(SSH::trimRight(" \t\r\n"), "");
  EXPECT_EQ(SSH::trimRight("  a"), "  a");
  EXPECT_EQ(SSH::trimRight(""), "");
}

}  // namespace
