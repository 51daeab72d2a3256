#pragma once
// Lines of delimited fields (comma- or tab-separated values with double-quote
// quoting): a reader of fields and records over a character stream, and the
// functions that split one text into its fields or build such a line.
//
// Quoting: a double quote opens a quoted part, two double quotes inside it
// stand for one, and a single one closes it; separators and line ends inside
// quotes are data. Blanks around an unquoted field are dropped. CR LF, LF CR,
// CR and LF each end one line, and empty lines between records vanish.
#include <iosfwd>
#include <string>
#include <vector>

#include "loam/platform/zuTypes.h"

class zuFieldReader {
 public:
  static constexpr i32 kEnd = -1;

  // The stream is not owned and must outlive the reader.
  zuFieldReader(std::istream* stream, i32 separator);

  // The next character (0 to 255, so byte 0xFF is data), or kEnd; a line
  // end of one or two characters comes back as one LF.
  i32 nextChar();
  // The next field into field(); false at the end of input or when a quoted
  // part is not closed before it.
  bool readField();
  bool readField(std::string& text);
  // The fields of one line; false when the first field cannot be read or a
  // quoted part is not closed.
  bool readRecord(std::vector<std::string>& fields);

  static bool isLineEnd(i32 c) { return c == 13 || c == 10; }
  static bool isEnd(i32 c) { return c == kEnd; }
  // Space, and tab unless tab is the separator (then blank fields stay).
  bool isBlank(i32 c) const { return (c == ' ' || c == '\t') && c != separator_; }
  bool isFieldEnd(i32 c) const { return c == separator_ || isLineEnd(c) || isEnd(c); }

  const std::string& field() const { return field_; }
  i32 current() const { return current_; }
  u32 line() const { return line_; }
  u32 column() const { return column_; }
  u32 records() const { return records_; }
  u32 fieldsInLine() const { return fieldsInLine_; }
  // The last read failed on a quoted part that was not closed.
  bool unterminatedQuote() const { return unterminated_; }

 private:
  std::istream* stream_;
  i32 separator_;
  i32 current_ = 0;
  u32 line_ = 1;
  u32 column_ = 0;
  u32 records_ = 0;
  u32 fieldsInLine_ = 0;
  std::string field_;
  bool unterminated_ = false;
};

// Empties fields; an empty text gives true and no fields, otherwise one
// record of the text is read.
bool zuSplitFields(const std::string& text, std::vector<std::string>& fields, char separator);
// The text in double quotes, each double quote in it doubled.
std::string zuQuoteField(const std::string& text);
// Every field quoted, joined by the separator; empty for no fields. Always
// true.
bool zuJoinFields(const std::vector<std::string>& fields, std::string& text, char separator);
