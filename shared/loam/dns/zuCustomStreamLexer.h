#pragma once
// A line-buffered lexer over an input stream. It reads one physical line at a
// time (CR, LF, CR LF or LF CR end a line), splits it into tokens by a table of
// character classes and names the file and line in every error it throws.
//
// Input is taken from the stream's buffer in blocks, so the lexer reads ahead
// of the last line it returned; a caller's stream is left past that point.
// Lines grow the buffer geometrically up to maxLineLength(); a longer line is
// refused (zuErrIncorrectFormat) instead of taking unbounded memory.
//
// tokenText() terminates the token in place and hands out a pointer into the
// line buffer: it stays valid until the next token is read.
#include <array>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "loam/dns/zuTokenKind.h"
#include "loam/platform/zuTypes.h"

class zuCustomStreamLexer {
 public:
  static constexpr u8 kSpace = 1;
  static constexpr u8 kCommentStart = 2;
  static constexpr u8 kSingleChar = 4;
  static constexpr u32 kInitialLineCapacity = 512;
  static constexpr u32 kDefaultMaxLineLength = 1u << 20;

  zuCustomStreamLexer();
  virtual ~zuCustomStreamLexer();
  zuCustomStreamLexer(const zuCustomStreamLexer&) = delete;
  zuCustomStreamLexer& operator=(const zuCustomStreamLexer&) = delete;

  // With owns, the lexer deletes the stream when it is replaced or destroyed.
  virtual void setStreamNoName(std::istream* stream, bool owns);
  virtual void setStream(std::istream* stream, const std::string& name, bool owns);
  void setStream(std::unique_ptr<std::istream> stream, const std::string& name);
  // Opens the file in binary mode as an owned stream named after it.
  bool openFile(const std::string& name);
  // Back to the start of the input with no token, no line read and, in a
  // derived lexer, none of its own state left (setStream and openFile call it).
  virtual void reset();

  bool readLine();
  virtual u32 nextToken();
  virtual const char* tokenText();
  virtual const char* tokenName(u32 kind);

  i32 tokenInteger();
  bool isInteger();
  bool isKeyword(const char* word);
  u32 kind() const { return kind_; }
  u32 tokenColumn() const { return tokenStart_; }
  u32 tokenLength() const { return tokenLength_; }
  u32 lineNumber() const { return lineNumber_; }
  // The line the current token belongs to, which errors name: an end of line
  // arrives once the next line is read, and belongs to the line it ends.
  u32 tokenLine() const { return tokenLine_; }
  const std::string& fileName() const { return fileName_; }
  u32 column() const { return cursor_; }
  const std::string& tokenPrefix() const { return tokenPrefix_; }
  // The stream's logical read position (what the lexer has consumed) and size.
  u64 position() const;
  u64 size() const;

  void setReturnEOL(bool on) { returnEOL_ = on; }
  bool returnEOL() const { return returnEOL_; }
  void setReturnComments(bool on) { returnComments_ = on; }
  void setSlashComments(bool on) { slashComments_ = on; }
  void disableEscapes() { decodeEscapes_ = false; }
  void setStripQuotes(bool on) { stripQuotes_ = on; }
  void setQuote(u32 quote) { quote_ = quote; }
  // A quote always opens or closes a string: a word never runs into a quoted
  // string next to it ("a""b" is two words, so is "abc"def).
  void setQuotesSplitWords(bool on) { quotesSplit_ = on; }
  // A NUL byte outside quotes and comments is an error (zuErrIncorrectFormat);
  // inside them it is kept as the escape "\000" (with escapes not decoded).
  // Off, a NUL ends the line.
  void setStrictNul(bool on) { strictNul_ = on; }
  void setMaxLineLength(u32 bytes) { maxLineLength_ = bytes < 1 ? 1 : bytes; }
  u32 maxLineLength() const { return maxLineLength_; }
  void setClass(u8 c, u8 mask) { classes_[c] = static_cast<u8>(classes_[c] | mask); }
  void clearClass(u8 c, u8 mask) { classes_[c] = static_cast<u8>(classes_[c] & ~mask); }

  bool isSpace(u8 c) const { return (classes_[c] & kSpace) != 0; }
  bool isCommentStart(u8 c) const { return (classes_[c] & kCommentStart) != 0; }
  bool isSingleChar(u8 c) const { return (classes_[c] & kSingleChar) != 0; }
  bool isDelimiter(u8 c) const { return c == 0 || classes_[c] != 0; }
  bool hasClass(u8 c, u8 mask) const { return (classes_[c] & mask) != 0; }
  bool isQuote(u8 c) const { return c == quote_; }

  // While confined, the end of the current line is the end of the input: no
  // further line is read and every call there yields an end of line.
  void setLineConfined(bool on) { confined_ = on; }
  bool lineConfined() const { return confined_; }
  // The raw text of the current line between two columns, as read.
  std::string lineText(u32 from, u32 to);
  // Moves the cursor to a column of the current line (false when outside it).
  bool setColumn(u32 column);
  // Moves the cursor to the end of the current line.
  void skipRestOfLine();

  void skipLine();

  [[noreturn]] void raise(u16 code, const char* text, const std::string& expected);
  [[noreturn]] void throwError(u16 code, const char* text, u32 expectedKind);

  void expectKind(u32 kind, u16 code, const char* text);
  void expectEither(u32 kind1, u32 kind2, u16 code, const char* text);
  void expectWord();
  void expectKeyword(const char* word);
  void expectInteger();
  void nextExpectTTLWord();
  void nextExpectWord();
  void nextExpectKeyword(const char* word);
  void nextExpectInteger();
  void nextExpectEither(u32 kind1, u32 kind2, u16 code, const char* text);

 protected:
  void restoreSaved();
  void skipSpace();
  // The line an error about the current token names.
  void setTokenLine(u32 line) { tokenLine_ = line; }
  // Reads up to and including the "*/" that ends a block comment.
  void skipBlockComment();
  void scanWord();

  u32 kind_ = zuTokenKind::None;
  bool returnEOL_ = false;

 private:
  bool fill();
  bool peekByte(char& c);
  void appendByte(char c);
  // Replaces the NUL at a position of the line by the four bytes "\000".
  void expandNul(u32 at);
  void expandNuls(u32 from);

  std::string fileName_;
  std::istream* stream_ = nullptr;
  std::unique_ptr<std::istream> owned_;
  std::vector<char> line_;
  u32 cursor_ = 0;
  u32 tokenStart_ = 0;
  u32 lineEnd_ = 0;
  u32 tokenLength_ = 0;
  std::string tokenPrefix_;
  u32 lineNumber_ = 0;
  u32 tokenLine_ = 0;
  bool endReached_ = false;
  bool returnComments_ = false;
  bool slashComments_ = false;
  bool decodeEscapes_ = true;
  bool stripQuotes_ = false;
  bool confined_ = false;
  bool quotesSplit_ = false;
  bool strictNul_ = false;
  std::array<u8, 256> classes_{};
  u32 quote_ = '"';
  static constexpr u32 kNoSaved = 0xFFFFFFFF;
  u32 savedPos_ = kNoSaved;
  char savedChar_ = 0;
  u32 maxLineLength_ = kDefaultMaxLineLength;
  // Read-ahead block over the stream.
  std::vector<char> block_;
  std::size_t blockPos_ = 0;
  std::size_t blockEnd_ = 0;
  bool inputEnded_ = false;
  u64 startPosition_ = 0;
  u64 consumed_ = 0;
  // tokenName's text for a character kind; one per lexer.
  std::array<char, 12> nameBuffer_{};
};
