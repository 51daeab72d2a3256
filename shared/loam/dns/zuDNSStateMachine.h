#pragma once
// Recogniser of DNS name text on the byte state machine. A label starts with
// a letter or digit, may hold hyphens inside and never ends with one; "*" is
// allowed only as a whole label; a final dot (absolute name) is allowed; the
// empty text, a lone dot and empty labels are refused. No length limit is
// applied here.
//
// Each machine holds its own copy of the class map and transitions, so strict
// and relaxed machines, configured differently, can live side by side and in
// several threads. Like every state machine it reads one text: build a fresh
// one per text.
#include "loam/base/zuStateMachine.h"
#include "loam/platform/zuTypes.h"

class zuDNSStateMachine : public zuStateMachine {
 public:
  static constexpr u32 kStates = 6;
  static constexpr u32 kClasses = 6;

  // The first argument is accepted for callers that pass one and has no
  // effect. Configured as configure(1, relaxed, false).
  explicit zuDNSStateMachine(u32 unused = 0, bool relaxed = false);
  zuDNSStateMachine(const zuDNSStateMachine& other);
  zuDNSStateMachine& operator=(const zuDNSStateMachine& other);
  ~zuDNSStateMachine() override = default;

  // relaxed: '-', '/' and '_' count as letters (a label may start or end with
  // them). strict: '-' and '/' are hyphens, '_' is a hyphen when underscore
  // is above 0 and refused otherwise. leadingHyphen: a label may start with a
  // hyphen.
  virtual void configure(u8 underscore, bool relaxed, bool leadingHyphen);

 private:
  void pointAtOwnTables();

  u8 m_classMap[256];
  u8 m_transitions[kStates * kClasses];
};
