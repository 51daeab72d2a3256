#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>

#include "loam/base/zuStateMachine.h"

namespace {

// Digits, optionally with '-' between runs, or a single 0xE9 after them:
//   classes: 0 other, 1 digit, 2 byte 0xE9, 3 '-'
//   states:  0 reject, 1 start, 2 in digits (accepting), 3 after 0xE9 (accepting)
constexpr u32 kColumns = 4;
constexpr u32 kRows = 4;
constexpr std::array<u8, kRows* kColumns> kTransitions = {
    0, 0, 0, 0,  // reject: never entered from
    0, 2, 3, 0,  // start
    0, 2, 3, 1,  // digits
    0, 0, 0, 0,  // after 0xE9
};
constexpr std::array<u8, 2> kAccepting = {2, 3};

std::array<u8, 256> makeClassMap() {
  std::array<u8, 256> map{};
  for (int c = '0'; c <= '9'; ++c) map[static_cast<size_t>(c)] = 1;
  map[0xE9] = 2;
  map['-'] = 3;
  return map;
}
const std::array<u8, 256> kClassMap = makeClassMap();

class DigitMachine : public zuStateMachine {
 public:
  DigitMachine() {
    setTables(kTransitions.data(), kClassMap.data(), kAccepting.data(), kRows, kColumns,
              static_cast<u32>(kAccepting.size()));
  }
};

bool feedText(zuStateMachine& m, const std::string& text) {
  return m.feed(reinterpret_cast<const u8*>(text.data()), static_cast<u32>(text.size()));
}

struct FeedCase {
  std::string text;
  bool accepted;
  u32 count;
};

void PrintTo(const FeedCase& c, std::ostream* os) {
  *os << "\"";
  for (char raw : c.text) {
    const auto ch = static_cast<unsigned char>(raw);
    if (ch >= 0x20 && ch < 0x7F) {
      *os << ch;
    } else {
      *os << "\\x" << std::hex << static_cast<int>(ch) << std::dec;
    }
  }
  *os << "\"";
}

class StateMachineFeed : public ::testing::TestWithParam<FeedCase> {};

TEST_P(StateMachineFeed, ResultAndCount) {
  const FeedCase& c = GetParam();
  DigitMachine m;
  EXPECT_EQ(feedText(m, c.text), c.accepted);
  EXPECT_EQ(m.isAccepting(), c.accepted);
  EXPECT_EQ(m.charCount(), c.count);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateMachineFeed,
    ::testing::Values(FeedCase{"", false, 0},          // start state is not accepting
                      FeedCase{"12", true, 2},         //
                      FeedCase{"1-2", true, 3},        //
                      FeedCase{"1-", false, 2},        // ends in a live, non-accepting state
                      FeedCase{"a", false, 1},         // rejecting byte is counted
                      FeedCase{"1a23", false, 2},      // later bytes are not
                      FeedCase{"\xE9", true, 1},       // high byte through the class map
                      FeedCase{"7\xE9", true, 2},      //
                      FeedCase{"\xE9\xE9", false, 2},  //
                      FeedCase{"\xFF", false, 1},      // high byte of class "other"
                      FeedCase{std::string(1, '\0'), false, 1}));

TEST(StateMachine, RejectionIsSticky) {
  DigitMachine m;
  EXPECT_TRUE(m.step('4'));
  EXPECT_FALSE(m.step('x'));
  EXPECT_EQ(m.charCount(), 2u);
  EXPECT_FALSE(m.step('5'));
  EXPECT_FALSE(feedText(m, "55"));
  EXPECT_FALSE(m.isAccepting());
  EXPECT_EQ(m.charCount(), 2u);
}

TEST(StateMachine, FeedContinuesFromCurrentState) {
  DigitMachine m;
  EXPECT_TRUE(feedText(m, "12"));
  EXPECT_FALSE(feedText(m, "-"));
  EXPECT_TRUE(feedText(m, "3"));
  EXPECT_EQ(m.charCount(), 4u);
}

TEST(StateMachine, WithoutTablesEveryByteRejects) {
  zuStateMachine m;
  EXPECT_FALSE(m.isAccepting());
  EXPECT_FALSE(feedText(m, "1"));
  EXPECT_EQ(m.charCount(), 1u);
}

TEST(StateMachine, TableEntriesOutsideTheTablesReject) {
  // Class 7 has no column and state 9 has no row: both must reject, not read past the table.
  std::array<u8, 256> classes{};
  classes['c'] = 7;
  classes['s'] = 1;
  const std::array<u8, 4> transitions = {0, 0, 0, 9};
  const std::array<u8, 1> accepting = {9};
  struct Bad : zuStateMachine {
    Bad(const u8* t, const u8* c, const u8* a) { setTables(t, c, a, 2, 2, 1); }
  };
  Bad byClass(transitions.data(), classes.data(), accepting.data());
  EXPECT_FALSE(feedText(byClass, "c"));
  Bad byState(transitions.data(), classes.data(), accepting.data());
  EXPECT_FALSE(feedText(byState, "s"));
  EXPECT_FALSE(byState.isAccepting());
}

// Blanks are skipped without reaching the tables, and the start state counts as accepting:
// both overrides must be reached through feed.
class BlankSkippingMachine : public DigitMachine {
 public:
  bool step(u8 byte) override {
    if (byte == ' ' && state() != 0) return true;
    return DigitMachine::step(byte);
  }
  bool isAccepting() const override { return state() == 1 || DigitMachine::isAccepting(); }
};

TEST(StateMachine, FeedDispatchesToSubclassOverrides) {
  BlankSkippingMachine derived;
  zuStateMachine& m = derived;
  EXPECT_TRUE(feedText(m, ""));
  EXPECT_TRUE(feedText(m, " 1 2 "));
  EXPECT_EQ(m.charCount(), 2u);
  EXPECT_FALSE(feedText(m, "2 x 3"));
  EXPECT_EQ(m.charCount(), 4u);
}

}  // namespace
