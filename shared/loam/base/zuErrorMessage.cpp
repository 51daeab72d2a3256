#include "loam/base/zuErrorMessage.h"

void zuErrorMessage::clear() {
  zuMessage::clear();
  code_ = 0;
  id_ = kClearedId;
}

bool zuErrorMessage::isEmpty() const {
  if (code_ == 0 && id_ == kClearedId) return true;
  return zuMessage::isEmpty();
}
