#include "loam/net/zuIPAddressStateMachine.h"

namespace {

// Byte classes: 0 anything else, then the suffix letters, '.', '*' and the
// digits '0' to '9' as classes 10 to 19.
constexpr u8 kI = 1;
constexpr u8 kN = 2;
constexpr u8 kDash = 3;
constexpr u8 kDot = 4;
constexpr u8 kStar = 5;
constexpr u8 kA = 6;
constexpr u8 kD = 7;
constexpr u8 kR = 8;
constexpr u8 kP = 9;
constexpr u8 kDigit0 = 10;
constexpr u32 kRows = 21;
constexpr u32 kColumns = 20;

constexpr u8 kReverseState = 19;
constexpr u8 kWildcardState = 20;

struct Tables {
  u8 classMap[256];
  u8 transitions[kRows * kColumns];
  u8 accepting[7];
};

constexpr void on(Tables& t, u32 from, u8 cls, u8 to) { t.transitions[from * kColumns + cls] = to; }

constexpr void onDigits(Tables& t, u32 from, u8 lo, u8 hi, u8 to) {
  for (u8 d = lo; d <= hi; ++d) on(t, from, static_cast<u8>(kDigit0 + d), to);
}

constexpr Tables buildTables() {
  Tables t{};
  t.classMap[u8{'i'}] = kI;
  t.classMap[u8{'n'}] = kN;
  t.classMap[u8{'-'}] = kDash;
  t.classMap[u8{'.'}] = kDot;
  t.classMap[u8{'*'}] = kStar;
  t.classMap[u8{'a'}] = kA;
  t.classMap[u8{'d'}] = kD;
  t.classMap[u8{'r'}] = kR;
  t.classMap[u8{'p'}] = kP;
  for (u8 d = 0; d < 10; ++d) t.classMap['0' + d] = static_cast<u8>(kDigit0 + d);

  // 1: start of an octet ('.' here rejects)
  onDigits(t, 1, 0, 1, 3);
  onDigits(t, 1, 2, 2, 2);
  onDigits(t, 1, 3, 9, 4);
  on(t, 1, kI, 7);
  on(t, 1, kStar, kWildcardState);
  // 2: after the digit 2
  onDigits(t, 2, 0, 4, 4);
  onDigits(t, 2, 5, 5, 5);
  onDigits(t, 2, 6, 9, 6);
  on(t, 2, kDot, 1);
  // 3: after 0 or 1
  onDigits(t, 3, 0, 9, 4);
  on(t, 3, kDot, 1);
  // 4
  onDigits(t, 4, 0, 9, 6);
  on(t, 4, kDot, 1);
  // 5: after 25
  onDigits(t, 5, 0, 5, 6);
  on(t, 5, kDot, 1);
  // 6: octet complete
  on(t, 6, kDot, 1);
  // 7 to 18: the suffix in-addr.arpa. after the 'i'
  on(t, 7, kN, 8);
  on(t, 8, kDash, 9);
  on(t, 9, kA, 10);
  on(t, 10, kD, 11);
  on(t, 11, kD, 12);
  on(t, 12, kR, 13);
  on(t, 13, kDot, 14);
  on(t, 14, kA, 15);
  on(t, 15, kR, 16);
  on(t, 16, kP, 17);
  on(t, 17, kA, 18);
  on(t, 18, kDot, kReverseState);
  // 19 and 20 take no further byte.

  const u8 accepting[7] = {2, 3, 4, 5, 6, kReverseState, kWildcardState};
  for (u32 i = 0; i < 7; ++i) t.accepting[i] = accepting[i];
  return t;
}

constexpr Tables kTables = buildTables();

}  // namespace

zuIPAddressStateMachine::zuIPAddressStateMachine(u32 /*unused*/, bool wildcard)
    : m_wildcard(wildcard ? 1 : 0) {
  setTables(kTables.transitions, kTables.classMap, kTables.accepting, kRows, kColumns, 7);
}

bool zuIPAddressStateMachine::step(u8 byte) {
  if (byte == '.') ++m_dots;
  return zuStateMachine::step(byte);
}

bool zuIPAddressStateMachine::isAccepting() const {
  if (!zuStateMachine::isAccepting()) return false;
  switch (state()) {
    case kReverseState:
      return m_reverseForm != 0 && m_dots == 6;
    case kWildcardState:
      return m_wildcard != 0 && m_dots < 4;
    default:
      return m_dots == 3;
  }
}

bool zuIPAddressStateMachine::isPartialAddress() const {
  if (charCount() == 0 || m_dots >= 4 || !zuStateMachine::isAccepting()) return false;
  if (state() == kReverseState) return m_reverseForm != 0;
  if (state() == kWildcardState) return m_wildcard != 0;
  return true;
}

bool zuIPAddressStateMachine::isReverseForm(const u8* bytes, u32 n) {
  feed(bytes, n);
  return state() == kReverseState;
}

bool zuIPAddressStateMachine::isWildcardForm(const u8* bytes, u32 n) {
  feed(bytes, n);
  return state() == kWildcardState;
}
