#pragma once
// A user-visible text with one-letter "$" parameters: a literal text or an id
// into the process-wide message catalog.
#include <map>
#include <string>
#include <utility>

#include "loam/platform/zuTypes.h"

using zuMessageArgs = std::map<char, std::string>;

class zuMessage {
 public:
  static constexpr u32 kLiteral = 65535;  // the text field is the message
  static constexpr u32 kNone = 0;         // no message at all
  // Formatting stops growing the text here, so values that repeat other
  // keys' patterns cannot multiply without limit.
  static constexpr std::size_t kMaxFormatted = 65536;

  zuMessage() = default;
  zuMessage(const char* text) : text_(text ? text : "") {}  // NOLINT: implicit by design
  zuMessage(const std::string& text) : text_(text) {}       // NOLINT
  // A text and one to six (key, value) pairs, added in the order given.
  template <typename... More>
  zuMessage(const char* text, char key, const std::string& value, More&&... more)
      : zuMessage(text) {
    static_assert(sizeof...(More) % 2 == 0 && sizeof...(More) <= 10,
                  "one to six (key, value) pairs");
    addPairs(key, value, std::forward<More>(more)...);
  }
  zuMessage(const zuMessage&) = default;
  zuMessage& operator=(const zuMessage&) = default;
  zuMessage(zuMessage&&) noexcept = default;
  zuMessage& operator=(zuMessage&&) noexcept = default;
  virtual ~zuMessage() = default;

  virtual void clear();
  virtual bool isEmpty() const;

  u32 id() const { return id_; }
  void setId(u32 id) { id_ = id; }
  const std::string& text() const { return text_; }
  void setText(const char* text);
  void setText(const std::string& text);

  // Adds a parameter; a key already present keeps its earlier value.
  void setParam(char key, const std::string& value);
  void setParamNumber(char key, u32 value);
  void setParamNumber(char key, i32 value);
  // Sets a parameter, adding or overwriting it.
  void replaceParam(char key, const std::string& value);
  void replaceParam(char key, u32 value);
  void replaceParam(char key, i32 value);
  bool hasParam(char key) const;
  // The stored value; an absent key gives an empty value and adds nothing.
  const std::string& paramRef(char key) const;
  u32 paramUInt(char key) const;
  i32 paramInt(char key) const;
  u32 paramCount() const { return static_cast<u32>(params_.size()); }
  bool paramAt(u32 index, char& key, std::string& value) const;
  const zuMessageArgs& params() const { return params_; }

  std::string& format(std::string& out) const;
  std::string toString() const;
  // The formatted text as a log line carries it: every parameter value
  // (they hold what came from outside) through zuLogText.
  std::string logText() const;
  std::string paramsText(char separator) const;

  bool operator==(const zuMessage& other) const;
  bool operator!=(const zuMessage& other) const { return !(*this == other); }
  bool operator<(const zuMessage& other) const;

 protected:
  u32 id_ = kLiteral;
  std::string text_;
  zuMessageArgs params_;

 private:
  void addPairs() {}
  template <typename V, typename... More>
  void addPairs(char key, V&& value, More&&... more) {
    setParam(key, std::string(std::forward<V>(value)));
    addPairs(std::forward<More>(more)...);
  }
};
