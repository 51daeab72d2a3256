#pragma once
// The plain stream lexer: over a caller's stream (not owned) or over an owned
// in-memory copy of a text.
#include <istream>
#include <string>

#include "loam/dns/zuCustomStreamLexer.h"

class zuStreamLexer : public zuCustomStreamLexer {
 public:
  zuStreamLexer() = default;
  explicit zuStreamLexer(std::istream& stream);
  explicit zuStreamLexer(const char* text);
  explicit zuStreamLexer(const std::string& text);
};
