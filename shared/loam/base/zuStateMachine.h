#pragma once
// Table-driven byte recogniser. A subclass owns the (shared, read-only) tables
// and hands them over with setTables; the machine only points at them and
// steps through one text. State 0 is the reject state and is sticky: callers
// build a fresh machine per text.
#include "loam/platform/zuTypes.h"

class zuStateMachine {
 public:
  zuStateMachine() = default;
  virtual ~zuStateMachine() = default;

  zuStateMachine(const zuStateMachine&) = default;
  zuStateMachine& operator=(const zuStateMachine&) = default;

  // Steps one byte; false once the machine has rejected. A byte stepped in a
  // live state is counted, even when it is the one that rejects.
  virtual bool step(u8 byte);
  // Steps each byte through the virtual step, stopping at the first false;
  // otherwise reports isAccepting after the last byte.
  virtual bool feed(const u8* bytes, u32 n);
  virtual bool isAccepting() const;
  virtual u32 charCount() const;

  // transitions: rows x columns bytes, row-major (row = state, column = byte
  // class); classMap: 256 bytes; accepting: acceptingCount state numbers.
  void setTables(const u8* transitions, const u8* classMap, const u8* accepting, u32 rows,
                 u32 columns, u32 acceptingCount);

 protected:
  u8 state() const { return m_state; }
  void setState(u8 state) { m_state = state; }
  void setStepCount(u32 count) { m_steps = count; }

 private:
  const u8* m_transitions = nullptr;
  const u8* m_classMap = nullptr;
  const u8* m_accepting = nullptr;
  u32 m_rows = 0;
  u32 m_columns = 0;
  u32 m_acceptingCount = 0;
  u32 m_steps = 0;
  u8 m_state = 1;
};
