#pragma once
// The library's exception: carries a zuErrorMessage. what() is the message's
// unformatted literal text; code that shows or sends the error formats the
// message instead.
#include <exception>
#include <string>
#include <utility>

#include "loam/base/zuErrorMessage.h"

class zuException : public std::exception {
 public:
  zuException(u16 code, const char* text) : message_(code, text) {}
  zuException(u16 code, const std::string& text) : message_(code, text) {}
  template <typename... More>
  zuException(u16 code, const char* text, char key, const std::string& value, More&&... more)
      : message_(code, text, key, value, std::forward<More>(more)...) {}
  explicit zuException(const zuErrorMessage& message) : message_(message) {}
  zuException(const zuException&) = default;
  zuException& operator=(const zuException&) = default;
  ~zuException() override = default;

  const char* what() const noexcept override { return message_.text().c_str(); }

  const zuErrorMessage& message() const { return message_; }
  u16 code() const { return message_.code(); }

 private:
  zuErrorMessage message_;
};
