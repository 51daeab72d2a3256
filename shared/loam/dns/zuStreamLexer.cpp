#include "loam/dns/zuStreamLexer.h"

#include <memory>
#include <sstream>

zuStreamLexer::zuStreamLexer(std::istream& stream) { setStreamNoName(&stream, false); }

zuStreamLexer::zuStreamLexer(const char* text)
    : zuStreamLexer(std::string(text == nullptr ? "" : text)) {}

zuStreamLexer::zuStreamLexer(const std::string& text) {
  setStream(std::make_unique<std::istringstream>(text), std::string());
}
