#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "loam/threads/zuStrStream.h"

namespace {

TEST(zuStrStream, StrEndsTheTextAndFreezesTheBuffer) {
  zuStrStream empty;
  EXPECT_STREQ(empty.str(), "");
  EXPECT_EQ(empty.pcount(), 1u);

  zuStrStream s;
  const std::string long_(1000, 'q');
  s << "n=" << 42 << ' ' << long_;
  const char* first = s.str();
  EXPECT_EQ(std::string(first), "n=42 " + long_);
  EXPECT_TRUE(s.frozen());
  // A second call adds a further zero behind the first.
  const char* again = s.str();
  EXPECT_EQ(again, first);
  EXPECT_EQ(s.pcount(), 5 + long_.size() + 2);
  EXPECT_EQ(first[5 + long_.size() + 1], '\0');
}

TEST(zuStrStream, AFrozenBufferNeverMovesAndGrowsAgainWhenUnfrozen) {
  zuStrStream s;
  s << "abc";
  const char* frozen = s.str();
  // Far more than any spare room: the writes fail rather than move the text.
  for (int i = 0; i < 10000; ++i) s << 'z';
  EXPECT_TRUE(s.bad());
  EXPECT_EQ(s.str(), frozen);
  EXPECT_STREQ(frozen, "abc");

  s.unfreeze();
  s.clear();
  s.seekp(3);  // over the zeros
  s << "def";
  EXPECT_STREQ(s.str(), "abcdef");
}

TEST(zuStrStream, ReadsBackWhatWasWritten) {
  zuStrStream s;
  s << "12 word 3.5";
  int i = 0;
  std::string w;
  double d = 0;
  s >> i >> w >> d;
  EXPECT_EQ(i, 12);
  EXPECT_EQ(w, "word");
  EXPECT_EQ(d, 3.5);
  EXPECT_EQ(s.tellp(), 11);
}

TEST(zuStrStream, TheTextEndsEvenWhenTheStreamHasFailed) {
  zuStrStream s;
  s << "12";
  int i = 0;
  s >> i;
  s >> i;  // past the end: the stream refuses further input and output
  EXPECT_TRUE(s.fail());
  EXPECT_STREQ(s.str(), "12");
  EXPECT_EQ(s.pcount(), 3u);

  // A frozen buffer filled to its last byte gives that byte up for the zero.
  zuStrStream full;
  full << 'a';
  const char* text = full.str();
  while (!full.bad()) full << 'b';
  const std::size_t room = full.pcount();
  EXPECT_EQ(full.str(), text);
  EXPECT_EQ(std::string(text, room),
            "a" + std::string(1, '\0') + std::string(room - 3, 'b') + std::string(1, '\0'));
}

}  // namespace
