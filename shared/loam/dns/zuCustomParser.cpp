#include "loam/dns/zuCustomParser.h"

std::string zuCustomParser::fileName() const { return lexer_->fileName(); }

u32 zuCustomParser::lineNumber() const { return lexer_->lineNumber(); }

u32 zuCustomParser::column() const { return lexer_->column(); }

void zuCustomParser::throwError(u16 code, const char* text, u32 expectedKind) {
  lexer_->throwError(code, text, expectedKind);
}

void zuCustomParser::throwErrorText(u16 code, const char* text, const std::string& expected) {
  lexer_->raise(code, text, expected);
}

u32 zuCustomParser::nextToken() {
  kind_ = lexer_->nextToken();
  return kind_;
}

const char* zuCustomParser::tokenText() { return lexer_->tokenText(); }

bool zuCustomParser::openFile(const std::string& name) { return lexer_->openFile(name); }

void zuCustomParser::detachInput(const std::string& name) {
  lexer_->setStream(nullptr, name, false);
}
