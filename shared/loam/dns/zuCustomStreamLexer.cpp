#include "loam/dns/zuCustomStreamLexer.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <memory>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuMasterFileErrors.h"
#include "loam/platform/zuPlatformOutputFile.h"

namespace {
constexpr std::size_t kBlockSize = 64 * 1024;
}

zuCustomStreamLexer::zuCustomStreamLexer() : line_(kInitialLineCapacity, 0) {
  classes_[' '] = kSpace;
  classes_['\t'] = kSpace;
}

zuCustomStreamLexer::~zuCustomStreamLexer() = default;

void zuCustomStreamLexer::setStreamNoName(std::istream* stream, bool owns) {
  setStream(stream, std::string(), owns);
}

void zuCustomStreamLexer::setStream(std::istream* stream, const std::string& name, bool owns) {
  std::unique_ptr<std::istream> taken(owns ? stream : nullptr);
  owned_ = std::move(taken);
  stream_ = stream;
  fileName_ = name;
  reset();
}

void zuCustomStreamLexer::setStream(std::unique_ptr<std::istream> stream, const std::string& name) {
  std::istream* raw = stream.get();
  owned_ = std::move(stream);
  stream_ = raw;
  fileName_ = name;
  reset();
}

bool zuCustomStreamLexer::openFile(const std::string& name) {
  std::unique_ptr<std::istream> file = zuPlatform::openInputFile(name);
  const bool open = !file->fail();
  setStream(std::move(file), name);
  return open;
}

void zuCustomStreamLexer::reset() {
  cursor_ = tokenStart_ = lineEnd_ = tokenLength_ = 0;
  line_[0] = 0;
  lineNumber_ = 0;
  tokenLine_ = 0;
  endReached_ = false;
  kind_ = zuTokenKind::None;
  savedPos_ = kNoSaved;
  blockPos_ = blockEnd_ = 0;
  inputEnded_ = false;
  consumed_ = 0;
  startPosition_ = 0;
  if (stream_ != nullptr && *stream_) {
    const std::streamoff at = stream_->tellg();
    if (at > 0) startPosition_ = static_cast<u64>(at);
    stream_->clear();
  }
}

u64 zuCustomStreamLexer::position() const {
  return stream_ == nullptr ? 0 : startPosition_ + consumed_;
}

u64 zuCustomStreamLexer::size() const {
  if (stream_ == nullptr) return 0;
  std::streambuf* buffer = stream_->rdbuf();
  if (buffer == nullptr) return 0;
  const std::streamoff here = buffer->pubseekoff(0, std::ios::cur, std::ios::in);
  const std::streamoff end = buffer->pubseekoff(0, std::ios::end, std::ios::in);
  if (here >= 0) buffer->pubseekpos(here, std::ios::in);
  return end < 0 ? 0 : static_cast<u64>(end);
}

bool zuCustomStreamLexer::fill() {
  if (stream_ == nullptr || !*stream_ || stream_->rdbuf() == nullptr) return false;
  if (block_.empty()) block_.resize(kBlockSize);
  const std::streamsize got =
      stream_->rdbuf()->sgetn(block_.data(), static_cast<std::streamsize>(block_.size()));
  blockPos_ = 0;
  blockEnd_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  return blockEnd_ > 0;
}

bool zuCustomStreamLexer::peekByte(char& c) {
  if (blockPos_ == blockEnd_ && !fill()) return false;
  c = block_[blockPos_];
  return true;
}

bool zuCustomStreamLexer::readLine() {
  cursor_ = tokenStart_ = lineEnd_ = tokenLength_ = 0;
  kind_ = zuTokenKind::None;
  savedPos_ = kNoSaved;
  line_[0] = 0;
  if (stream_ == nullptr || inputEnded_) return false;
  std::size_t length = 0;
  for (;;) {
    if (blockPos_ == blockEnd_ && !fill()) {
      inputEnded_ = true;
      break;
    }
    const char* begin = block_.data() + blockPos_;
    const char* end = block_.data() + blockEnd_;
    const char* stop = begin;
    while (stop != end && *stop != '\n' && *stop != '\r') ++stop;
    const auto run = static_cast<std::size_t>(stop - begin);
    if (length + run > maxLineLength_) {
      tokenLine_ = ++lineNumber_;
      raise(zuErrIncorrectFormat, zuTextIncorrectFormat, std::string());
    }
    if (length + run + 1 > line_.size()) {
      const std::size_t grown = std::max(line_.size() * 2, length + run + 1);
      line_.resize(std::min<std::size_t>(grown, std::size_t{maxLineLength_} + 1));
    }
    std::memcpy(line_.data() + length, begin, run);
    length += run;
    blockPos_ += run;
    consumed_ += run;
    if (stop != end) {
      const char ending = *stop;
      ++blockPos_;
      ++consumed_;
      const char pair = ending == '\n' ? '\r' : '\n';
      char next = 0;
      if (peekByte(next) && next == pair) {
        ++blockPos_;
        ++consumed_;
      }
      break;
    }
  }
  line_[length] = 0;
  // Without strict NUL handling a NUL byte ends the line as far as tokens go.
  const void* nul = strictNul_ ? nullptr : std::memchr(line_.data(), 0, length);
  if (nul != nullptr)
    length = static_cast<std::size_t>(static_cast<const char*>(nul) - line_.data());
  lineEnd_ = static_cast<u32>(length);
  ++lineNumber_;
  return true;
}

void zuCustomStreamLexer::expandNul(u32 at) {
  // The terminating NUL moves along with the rest of the line.
  if (std::size_t{lineEnd_} + 4 > line_.size()) line_.resize(std::size_t{lineEnd_} + 4);
  std::memmove(line_.data() + at + 4, line_.data() + at + 1, lineEnd_ - at);
  std::memcpy(line_.data() + at, "\\000", 4);
  lineEnd_ += 3;
}

void zuCustomStreamLexer::expandNuls(u32 from) {
  if (!strictNul_) return;
  for (u32 i = from; i < lineEnd_; ++i)
    if (line_[i] == 0) expandNul(i);
}

void zuCustomStreamLexer::restoreSaved() {
  if (savedPos_ != kNoSaved) {
    line_[savedPos_] = savedChar_;
    savedPos_ = kNoSaved;
  }
}

void zuCustomStreamLexer::skipSpace() {
  while (cursor_ < lineEnd_ && isSpace(static_cast<u8>(line_[cursor_]))) ++cursor_;
}

u32 zuCustomStreamLexer::nextToken() {
  restoreSaved();
  tokenLine_ = lineNumber_;
  for (;;) {
    skipSpace();
    tokenStart_ = cursor_;
    tokenLength_ = 0;
    if (cursor_ >= lineEnd_) {
      if (confined_) {
        kind_ = zuTokenKind::EndOfLine;
        return kind_;
      }
      const u32 previous = kind_;
      if (!readLine()) {
        if (endReached_ || !returnEOL_ || previous == zuTokenKind::EndOfLine)
          kind_ = zuTokenKind::EndOfInput;
        else
          kind_ = zuTokenKind::EndOfLine;
        endReached_ = true;
        return kind_;
      }
      tokenLine_ = lineNumber_;
      if (returnEOL_) {
        // It ends the line before the one just read.
        tokenLine_ = lineNumber_ - 1;
        kind_ = zuTokenKind::EndOfLine;
        return kind_;
      }
      kind_ = previous;
      continue;
    }
    const auto c = static_cast<u8>(line_[cursor_]);
    if (isCommentStart(c)) {
      tokenPrefix_.assign(1, static_cast<char>(c));
      expandNuls(cursor_ + 1);
      tokenStart_ = cursor_ + 1;
      tokenLength_ = lineEnd_ - tokenStart_;
      cursor_ = lineEnd_;
      if (returnComments_) {
        kind_ = zuTokenKind::Comment;
        return kind_;
      }
      continue;
    }
    if (slashComments_ && c == '/' && cursor_ + 1 < lineEnd_ &&
        (line_[cursor_ + 1] == '/' || line_[cursor_ + 1] == '*')) {
      if (line_[cursor_ + 1] == '/') {
        tokenPrefix_ = "//";
        expandNuls(cursor_ + 2);
        tokenStart_ = cursor_ + 2;
        tokenLength_ = lineEnd_ - tokenStart_;
        cursor_ = lineEnd_;
      } else {
        skipBlockComment();
      }
      if (returnComments_) {
        kind_ = zuTokenKind::Comment;
        return kind_;
      }
      continue;
    }
    if (isSingleChar(c)) {
      kind_ = c;
      tokenLength_ = 1;
      ++cursor_;
      return kind_;
    }
    scanWord();
    return kind_;
  }
}

void zuCustomStreamLexer::skipBlockComment() {
  tokenPrefix_ = "/*";
  cursor_ += 2;
  tokenStart_ = cursor_;
  for (;;) {
    for (u32 i = cursor_; i + 1 < lineEnd_; ++i) {
      if (line_[i] == '*' && line_[i + 1] == '/') {
        tokenLength_ = i - tokenStart_;
        cursor_ = i + 2;
        return;
      }
    }
    if (confined_ || !readLine()) {
      kind_ = zuTokenKind::EndOfInput;
      tokenLine_ = lineNumber_;
      raise(zuErrUnterminatedComment, zuTextUnterminatedComment, std::string());
    }
    tokenStart_ = cursor_ = 0;
  }
}

void zuCustomStreamLexer::scanWord() {
  kind_ = zuTokenKind::Word;
  u32 out = cursor_;
  bool quoted = false;
  while (cursor_ < lineEnd_) {
    const auto c = static_cast<u8>(line_[cursor_]);
    if (c == 0 && strictNul_) {
      if (!quoted) {
        tokenLength_ = out - tokenStart_;
        raise(zuErrIncorrectFormat, zuTextIncorrectFormat, std::string());
      }
      if (!decodeEscapes_) {
        expandNul(cursor_);
        std::memmove(line_.data() + out, line_.data() + cursor_, 4);
        out += 4;
        cursor_ += 4;
        continue;
      }
      line_[out++] = 0;
      ++cursor_;
      continue;
    }
    if (c == 0 || (!quoted && classes_[c] != 0)) break;
    if (c == '\\') {
      if (cursor_ + 1 >= lineEnd_) {
        tokenLength_ = out - tokenStart_;
        raise(zuErrIncorrectFormat, zuTextIncorrectFormat, std::string());
      }
      const char* d = line_.data() + cursor_ + 1;
      if (cursor_ + 3 < lineEnd_ && zuIsDigit(static_cast<u8>(d[0])) &&
          zuIsDigit(static_cast<u8>(d[1])) && zuIsDigit(static_cast<u8>(d[2]))) {
        const int value = (d[0] - '0') * 100 + (d[1] - '0') * 10 + (d[2] - '0');
        if (value > 255) {
          tokenLength_ = out - tokenStart_;
          raise(zuErrIncorrectFormat, zuTextIncorrectFormat, std::string());
        }
        if (decodeEscapes_) {
          line_[out++] = static_cast<char>(value);
        } else {
          std::memmove(line_.data() + out, line_.data() + cursor_, 4);
          out += 4;
        }
        cursor_ += 4;
        continue;
      }
      if (strictNul_ && !decodeEscapes_ && line_[cursor_ + 1] == 0) {
        // An escaped NUL is the escape "\000" alone.
        expandNul(cursor_ + 1);
        std::memmove(line_.data() + out, line_.data() + cursor_ + 1, 4);
        out += 4;
        cursor_ += 5;
        continue;
      }
      if (!decodeEscapes_) line_[out++] = '\\';
      line_[out++] = line_[cursor_ + 1];
      cursor_ += 2;
      continue;
    }
    if (c == quote_) {
      // Split mode: an opening quote starts a word of its own, a closing one ends it.
      if (quotesSplit_ && !quoted && out > tokenStart_) break;
      quoted = !quoted;
      line_[out++] = static_cast<char>(c);
      ++cursor_;
      if (quotesSplit_ && !quoted) break;
      continue;
    }
    line_[out++] = static_cast<char>(c);
    ++cursor_;
  }
  // Bytes the compaction freed stay behind the word; they are never read again.
  tokenLength_ = out - tokenStart_;
  if (quoted)
    raise(zuErrUnexpectedToken, zuTextExpectedGot, std::string(1, static_cast<char>(quote_)));
}

const char* zuCustomStreamLexer::tokenText() {
  if (kind_ == zuTokenKind::None || kind_ == zuTokenKind::EndOfLine ||
      kind_ == zuTokenKind::EndOfInput)
    return tokenName(kind_);
  restoreSaved();
  u32 start = tokenStart_;
  u32 length = tokenLength_;
  if (stripQuotes_ && kind_ == zuTokenKind::Word && length >= 2 &&
      static_cast<u8>(line_[start]) == quote_ &&
      static_cast<u8>(line_[start + length - 1]) == quote_) {
    ++start;
    length -= 2;
  }
  savedPos_ = start + length;
  savedChar_ = line_[savedPos_];
  line_[savedPos_] = 0;
  return line_.data() + start;
}

const char* zuCustomStreamLexer::tokenName(u32 kind) {
  switch (kind) {
    case zuTokenKind::None:
      return "<nul>";
    case zuTokenKind::EndOfLine:
      return "<eol>";
    case zuTokenKind::EndOfInput:
      return "<eof>";
    case zuTokenKind::Comment:
      return "<comment>";
    case zuTokenKind::Word:
      return kind_ == zuTokenKind::Word ? tokenText() : "<word>";
    default:
      break;
  }
  if (kind >= 32 && kind <= 126) {
    nameBuffer_[0] = static_cast<char>(kind);
    nameBuffer_[1] = 0;
  } else {
    zuUIntToChars(kind, nameBuffer_.data());
  }
  return nameBuffer_.data();
}

i32 zuCustomStreamLexer::tokenInteger() { return zuStrToInt32Or(tokenText(), 0); }

bool zuCustomStreamLexer::isInteger() {
  return kind_ == zuTokenKind::Word && zuIsDigits(tokenText());
}

bool zuCustomStreamLexer::isKeyword(const char* word) {
  return kind_ == zuTokenKind::Word && zuStrCompare(tokenText(), word, false) == 0;
}

std::string zuCustomStreamLexer::lineText(u32 from, u32 to) {
  restoreSaved();
  to = std::min(to, lineEnd_);
  if (from >= to) return std::string();
  return std::string(line_.data() + from, to - from);
}

bool zuCustomStreamLexer::setColumn(u32 column) {
  if (column > lineEnd_) return false;
  restoreSaved();
  cursor_ = column;
  return true;
}

void zuCustomStreamLexer::skipRestOfLine() {
  restoreSaved();
  cursor_ = lineEnd_;
}

void zuCustomStreamLexer::skipLine() {
  u32 kind = nextToken();
  while (kind != zuTokenKind::EndOfLine && kind != zuTokenKind::EndOfInput) kind = nextToken();
}

void zuCustomStreamLexer::raise(u16 code, const char* text, const std::string& expected) {
  std::string token;
  if (kind_ == zuTokenKind::Comment)
    token = "<comment>";
  else
    token = zuPrintable(tokenText());
  zuErrorMessage message(code, text);
  message.setParam('f', fileName_);
  message.setParam('l', zuUIntToString(tokenLine_ > lineNumber_ ? lineNumber_ : tokenLine_));
  message.setParam('t', token);
  message.setParam('e', expected);
  throw zuException(message);
}

void zuCustomStreamLexer::throwError(u16 code, const char* text, u32 expectedKind) {
  raise(code, text, tokenName(expectedKind));
}

void zuCustomStreamLexer::expectKind(u32 kind, u16 code, const char* text) {
  if (kind_ != kind) throwError(code, text, kind);
}

void zuCustomStreamLexer::expectEither(u32 kind1, u32 kind2, u16 code, const char* text) {
  if (kind_ != kind1 && kind_ != kind2) throwError(code, text, zuTokenKind::None);
}

void zuCustomStreamLexer::expectWord() {
  if (kind_ != zuTokenKind::Word) raise(zuErrUnexpectedToken, zuTextUnexpectedToken, std::string());
}

void zuCustomStreamLexer::expectKeyword(const char* word) {
  if (!isKeyword(word)) raise(zuErrUnexpectedToken, zuTextExpectedGot, word);
}

void zuCustomStreamLexer::expectInteger() {
  if (!isInteger()) raise(zuErrExpectedInteger, zuTextExpectedInteger, std::string());
}

void zuCustomStreamLexer::nextExpectTTLWord() {
  if (nextToken() != zuTokenKind::Word) raise(zuErrIncorrectTTL, zuTextIncorrectTTL, std::string());
}

void zuCustomStreamLexer::nextExpectWord() {
  nextToken();
  expectWord();
}

void zuCustomStreamLexer::nextExpectKeyword(const char* word) {
  nextToken();
  expectKeyword(word);
}

void zuCustomStreamLexer::nextExpectInteger() {
  nextToken();
  expectInteger();
}

void zuCustomStreamLexer::nextExpectEither(u32 kind1, u32 kind2, u16 code, const char* text) {
  nextToken();
  expectEither(kind1, kind2, code, text);
}
