#include "loam/dns/zuDNSStateMachine.h"

#include <cstring>

namespace {

// Byte classes.
constexpr u8 kOther = 0;
constexpr u8 kLetter = 1;
constexpr u8 kDigit = 2;
constexpr u8 kHyphen = 3;
constexpr u8 kDot = 4;
constexpr u8 kStar = 5;

// States.
constexpr u8 kReject = 0;
constexpr u8 kStart = 1;
constexpr u8 kInLabel = 2;
constexpr u8 kAfterHyphen = 3;
constexpr u8 kAfterDot = 4;
constexpr u8 kAfterStar = 5;

constexpr u32 kColumns = zuDNSStateMachine::kClasses;
constexpr u8 kAccepting[3] = {kInLabel, kAfterDot, kAfterStar};

struct BaseTables {
  u8 classMap[256];
  u8 transitions[zuDNSStateMachine::kStates * kColumns];
};

constexpr void on(BaseTables& t, u8 from, u8 cls, u8 to) {
  t.transitions[from * kColumns + cls] = to;
}

constexpr BaseTables buildBaseTables() {
  BaseTables t{};
  for (int c = 'A'; c <= 'Z'; ++c) t.classMap[c] = kLetter;
  for (int c = 'a'; c <= 'z'; ++c) t.classMap[c] = kLetter;
  for (int c = '0'; c <= '9'; ++c) t.classMap[c] = kDigit;
  t.classMap[u8{'-'}] = kHyphen;
  t.classMap[u8{'/'}] = kHyphen;
  t.classMap[u8{'.'}] = kDot;
  t.classMap[u8{'*'}] = kStar;

  on(t, kStart, kLetter, kInLabel);
  on(t, kStart, kDigit, kInLabel);
  on(t, kStart, kStar, kAfterStar);
  on(t, kInLabel, kLetter, kInLabel);
  on(t, kInLabel, kDigit, kInLabel);
  on(t, kInLabel, kHyphen, kAfterHyphen);
  on(t, kInLabel, kDot, kAfterDot);
  on(t, kAfterHyphen, kLetter, kInLabel);
  on(t, kAfterHyphen, kDigit, kInLabel);
  on(t, kAfterHyphen, kHyphen, kAfterHyphen);
  on(t, kAfterDot, kLetter, kInLabel);
  on(t, kAfterDot, kDigit, kInLabel);
  on(t, kAfterDot, kStar, kAfterStar);
  on(t, kAfterStar, kDot, kAfterDot);
  return t;
}

constexpr BaseTables kBase = buildBaseTables();
static_assert(kBase.classMap[u8{' '}] == kOther && kBase.transitions[kReject] == kReject);

}  // namespace

zuDNSStateMachine::zuDNSStateMachine(u32 /*unused*/, bool relaxed) {
  std::memcpy(m_classMap, kBase.classMap, sizeof m_classMap);
  std::memcpy(m_transitions, kBase.transitions, sizeof m_transitions);
  configure(1, relaxed, false);
  pointAtOwnTables();
}

zuDNSStateMachine::zuDNSStateMachine(const zuDNSStateMachine& other) : zuStateMachine(other) {
  std::memcpy(m_classMap, other.m_classMap, sizeof m_classMap);
  std::memcpy(m_transitions, other.m_transitions, sizeof m_transitions);
  pointAtOwnTables();
}

zuDNSStateMachine& zuDNSStateMachine::operator=(const zuDNSStateMachine& other) {
  if (this != &other) {
    zuStateMachine::operator=(other);
    std::memcpy(m_classMap, other.m_classMap, sizeof m_classMap);
    std::memcpy(m_transitions, other.m_transitions, sizeof m_transitions);
    pointAtOwnTables();
  }
  return *this;
}

void zuDNSStateMachine::pointAtOwnTables() {
  // The base copied the other machine's pointers; ours must point here.
  setTables(m_transitions, m_classMap, kAccepting, kStates, kColumns, 3);
}

void zuDNSStateMachine::configure(u8 underscore, bool relaxed, bool leadingHyphen) {
  if (relaxed) {
    m_classMap[u8{'-'}] = kLetter;
    m_classMap[u8{'/'}] = kLetter;
    m_classMap[u8{'_'}] = kLetter;
  } else {
    m_classMap[u8{'-'}] = kHyphen;
    m_classMap[u8{'/'}] = kHyphen;
    m_classMap[u8{'_'}] = underscore > 0 ? kHyphen : kOther;
  }
  const u8 afterLeadingHyphen = leadingHyphen ? kInLabel : kReject;
  m_transitions[kStart * kColumns + kHyphen] = afterLeadingHyphen;
  m_transitions[kAfterDot * kColumns + kHyphen] = afterLeadingHyphen;
}
