#pragma once
// Validator for IPv4 address text on the byte state machine: dotted quads
// (leading zeros allowed, unlike the parser), partial addresses such as 10.1,
// and, when enabled, a trailing "*" wildcard or the in-addr.arpa. reverse form.
#include "loam/base/zuStateMachine.h"
#include "loam/platform/zuTypes.h"

class zuIPAddressStateMachine : public zuStateMachine {
 public:
  // The first argument is accepted for callers that pass one and has no effect.
  explicit zuIPAddressStateMachine(u32 unused = 0, bool wildcard = false);

  // Counts '.' bytes, then steps.
  bool step(u8 byte) override;
  // State 19 (reverse form) needs the reverse-form flag and exactly 6 dots,
  // state 20 (wildcard) the wildcard flag and fewer than 4 dots; every other
  // accepting state needs exactly 3 dots.
  bool isAccepting() const override;

  // At least one byte stepped, fewer than 4 dots and an accepting state
  // (10.1 passes). The wildcard and reverse states count only when their
  // flag is on.
  bool isPartialAddress() const;
  // Feed the bytes; true when the machine ends in the reverse / wildcard state.
  bool isReverseForm(const u8* bytes, u32 n);
  bool isWildcardForm(const u8* bytes, u32 n);

  u32 dotCount() const { return m_dots; }

 private:
  u8 m_reverseForm = 0;
  u8 m_wildcard = 0;
  u32 m_dots = 0;
};
