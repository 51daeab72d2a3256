#include "loam/netobjects/zuFieldReader.h"

#include <istream>
#include <sstream>

namespace {

constexpr i32 kQuote = '"';

}  // namespace

zuFieldReader::zuFieldReader(std::istream* stream, i32 separator)
    : stream_(stream), separator_(separator) {}

i32 zuFieldReader::nextChar() {
  using Traits = std::istream::traits_type;
  if (stream_ == nullptr || !stream_->good()) return current_ = kEnd;
  const Traits::int_type got = stream_->get();
  // The int_type keeps 0xFF apart from the end of input.
  if (Traits::eq_int_type(got, Traits::eof())) return current_ = kEnd;
  const i32 c = static_cast<i32>(static_cast<unsigned char>(Traits::to_char_type(got)));
  ++column_;
  if (isLineEnd(c)) {
    const Traits::int_type next = stream_->peek();
    if (!Traits::eq_int_type(next, Traits::eof())) {
      const i32 n = static_cast<i32>(static_cast<unsigned char>(Traits::to_char_type(next)));
      if (isLineEnd(n) && n != c) stream_->get();
    }
    ++line_;
    column_ = 0;
    return current_ = 10;
  }
  return current_ = c;
}

bool zuFieldReader::readField() {
  unterminated_ = false;
  i32 c = nextChar();
  while (isBlank(c) || (fieldsInLine_ == 0 && isLineEnd(c))) c = nextChar();
  field_.clear();
  if (isEnd(c)) {
    if (fieldsInLine_ == 0) return false;
    // A separator just before the end: the line's last field is empty.
    ++records_;
    fieldsInLine_ = 0;
    return true;
  }

  bool quoted = false;
  // The field without its trailing blanks outside quotes.
  std::string::size_type keep = 0;
  for (;; c = nextChar()) {
    if (quoted) {
      if (isEnd(c)) {
        unterminated_ = true;
        return false;
      }
      if (c == kQuote) {
        if (stream_->peek() == kQuote) {
          nextChar();
          field_ += '"';
        } else {
          quoted = false;
        }
      } else {
        field_ += static_cast<char>(c);
      }
      keep = field_.size();
      continue;
    }
    if (isFieldEnd(c)) break;
    if (c == kQuote) {
      quoted = true;
      continue;
    }
    field_ += static_cast<char>(c);
    if (!isBlank(c)) keep = field_.size();
  }
  if (c == separator_) {
    ++fieldsInLine_;
  } else {
    ++records_;
    fieldsInLine_ = 0;
  }
  field_.resize(keep);
  return true;
}

bool zuFieldReader::readField(std::string& text) {
  if (!readField()) return false;
  text = field_;
  return true;
}

bool zuFieldReader::readRecord(std::vector<std::string>& fields) {
  fields.clear();
  const u32 before = records_;
  do {
    if (!readField()) return false;
    fields.push_back(field_);
  } while (records_ == before);
  return true;
}

bool zuSplitFields(const std::string& text, std::vector<std::string>& fields, char separator) {
  fields.clear();
  if (text.empty()) return true;
  std::istringstream in(text);
  zuFieldReader reader(&in, static_cast<unsigned char>(separator));
  return reader.readRecord(fields);
}

std::string zuQuoteField(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

bool zuJoinFields(const std::vector<std::string>& fields, std::string& text, char separator) {
  text.clear();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) text += separator;
    text += zuQuoteField(fields[i]);
  }
  return true;
}
