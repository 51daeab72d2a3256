#pragma once
// The small base of the text parsers: it reads through a lexer that the
// derived parser owns and points it at, and forwards positions and errors.
#include <string>

#include "loam/dns/zuCustomStreamLexer.h"
#include "loam/platform/zuTypes.h"

class zuCustomParser {
 public:
  zuCustomParser() = default;
  virtual ~zuCustomParser() = default;
  zuCustomParser(const zuCustomParser&) = delete;
  zuCustomParser& operator=(const zuCustomParser&) = delete;

  virtual std::string fileName() const;
  virtual u32 lineNumber() const;
  virtual u32 column() const;
  virtual void reset() {}
  [[noreturn]] virtual void throwError(u16 code, const char* text, u32 expectedKind);
  [[noreturn]] virtual void throwErrorText(u16 code, const char* text,
                                           const std::string& expected);
  virtual u32 nextToken();
  virtual const char* tokenText();

  // Attaches a file (false when it cannot be opened) or clears the input.
  virtual bool openFile(const std::string& name);
  void detachInput(const std::string& name);

  u32 kind() const { return kind_; }
  void setIncludesNotAllowed(bool on) { includesNotAllowed_ = on; }
  bool includesNotAllowed() const { return includesNotAllowed_; }

 protected:
  zuCustomStreamLexer* lexer_ = nullptr;
  u32 kind_ = 0;
  bool includesNotAllowed_ = false;
};
