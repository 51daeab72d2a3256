#pragma once
// A message with a 16-bit status code (0 = no error).
#include <string>
#include <utility>

#include "loam/base/zuMessage.h"

class zuErrorMessage : public zuMessage {
 public:
  static constexpr u32 kClearedId = 290;

  zuErrorMessage() = default;
  zuErrorMessage(u16 code, const char* text) : zuMessage(text), code_(code) {}
  zuErrorMessage(u16 code, const std::string& text) : zuMessage(text), code_(code) {}
  // A code, a text and one to three (key, value) pairs.
  template <typename... More>
  zuErrorMessage(u16 code, const char* text, char key, const std::string& value,
                 More&&... more)
      : zuMessage(text, key, value, std::forward<More>(more)...), code_(code) {
    static_assert(sizeof...(More) <= 4, "one to three (key, value) pairs");
  }
  zuErrorMessage(const zuErrorMessage&) = default;
  zuErrorMessage& operator=(const zuErrorMessage&) = default;
  zuErrorMessage(zuErrorMessage&&) noexcept = default;
  zuErrorMessage& operator=(zuErrorMessage&&) noexcept = default;
  // Takes id, text and parameters; the code stays.
  zuErrorMessage& operator=(const zuMessage& message) {
    zuMessage::operator=(message);
    return *this;
  }
  ~zuErrorMessage() override = default;

  void clear() override;
  bool isEmpty() const override;

  u16 code() const { return code_; }
  void setCode(u16 code) { code_ = code; }

 private:
  u16 code_ = 0;
};
