#pragma once
// Thread base of the library. (The thread machinery itself is built on top of
// the exception rule below.)
#include <exception>

#include "loam/base/zuErrorMessage.h"

class zuThread {
 public:
  // The one rule that turns a caught exception into an error message: a
  // zuException gives its own message, std::bad_alloc code 259, any other
  // std::exception code 261 with "e" its what() text.
  static zuErrorMessage exceptionMessage(const std::exception& e);
};
