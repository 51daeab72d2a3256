#include "loam/base/zuStateMachine.h"

bool zuStateMachine::step(u8 byte) {
  if (m_state == 0) return false;
  ++m_steps;
  // Missing tables, or a class or state outside them, reject rather than read
  // past the subclass's data.
  if (m_transitions == nullptr || m_classMap == nullptr || m_state >= m_rows) {
    m_state = 0;
    return false;
  }
  const u32 cls = m_classMap[byte];
  if (cls >= m_columns) {
    m_state = 0;
    return false;
  }
  const u8 next = m_transitions[cls + m_columns * m_state];
  m_state = next < m_rows ? next : u8{0};
  return m_state != 0;
}

bool zuStateMachine::feed(const u8* bytes, u32 n) {
  for (u32 i = 0; i < n; ++i) {
    if (!step(bytes[i])) return false;
  }
  return isAccepting();
}

bool zuStateMachine::isAccepting() const {
  if (m_accepting == nullptr) return false;
  for (u32 i = 0; i < m_acceptingCount; ++i) {
    if (m_accepting[i] == m_state) return true;
  }
  return false;
}

u32 zuStateMachine::charCount() const { return m_steps; }

void zuStateMachine::setTables(const u8* transitions, const u8* classMap, const u8* accepting,
                               u32 rows, u32 columns, u32 acceptingCount) {
  m_transitions = transitions;
  m_classMap = classMap;
  m_accepting = accepting;
  m_rows = rows;
  m_columns = columns;
  m_acceptingCount = acceptingCount;
}
