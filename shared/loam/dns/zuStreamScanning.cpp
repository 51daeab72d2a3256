#include "loam/dns/zuStreamScanning.h"

#include "loam/base/zuString.h"

namespace {
constexpr int kEnd = std::char_traits<char>::eof();
constexpr int kSkipLimit = 1024;

bool isBlank(int c) { return c == ' ' || c == '\t'; }
}  // namespace

bool matchNoCase(std::istream& in, const char* literal) {
  if (literal == nullptr) return false;
  const std::streampos start = in.tellg();
  for (const char* p = literal; *p != 0; ++p) {
    const int c = in.get();
    if (c == kEnd || zuToUpper(c) != zuToUpper(static_cast<u8>(*p))) {
      if (start != std::streampos(-1)) {
        in.clear();
        in.seekg(start);
      }
      return false;
    }
  }
  return true;
}

bool readLineText(std::istream& in, std::string& line) {
  line.clear();
  int c = in.get();
  if (c == kEnd) return false;
  while (c != kEnd && c != '\r' && c != '\n') {
    line.push_back(static_cast<char>(c));
    c = in.get();
  }
  if (c != kEnd) {
    const int pair = c == '\r' ? '\n' : '\r';
    if (in.peek() == pair) in.get();
  }
  in.clear(in.rdstate() & ~std::ios::failbit);
  return true;
}

bool findKeyword(std::istream& in, const char* keyword) {
  for (;;) {
    int c = in.peek();
    while (c != kEnd && (isBlank(c) || c == '\r' || c == '\n')) {
      in.get();
      c = in.peek();
    }
    if (c == kEnd) return false;
    if (matchNoCase(in, keyword)) return true;
    std::string skipped;
    if (!readLineText(in, skipped)) return false;
  }
}

namespace {
bool skipThrough(std::istream& in, char delimiter) {
  for (int i = 0; i < kSkipLimit; ++i) {
    const int c = in.get();
    if (c == kEnd) return false;
    if (c == static_cast<u8>(delimiter)) return true;
  }
  return false;
}
}  // namespace

bool readIntAfter(std::istream& in, const char* keyword, char delimiter, i32& value, bool hex) {
  if (!findKeyword(in, keyword) || !skipThrough(in, delimiter)) return false;
  std::string word;
  if (!readWord(in, word)) return false;
  if (!hex) return zuStrToInt32(word.c_str(), value);
  if (word.empty() || word.size() > 8) return false;
  u32 v = 0;
  for (char ch : word) {
    u8 digit = 0;
    if (!zuHexDigitValue(ch, digit)) return false;
    v = (v << 4) | digit;
  }
  value = static_cast<i32>(v);
  return true;
}

bool readStringAfter(std::istream& in, const char* keyword, char delimiter, std::string& word) {
  return findKeyword(in, keyword) && skipThrough(in, delimiter) && readWord(in, word);
}

bool readWord(std::istream& in, std::string& word) {
  word.clear();
  while (isBlank(in.peek())) in.get();
  bool quoted = false;
  for (int c = in.peek(); c != kEnd; c = in.peek()) {
    if (!quoted && (isBlank(c) || c == '\r' || c == '\n')) break;
    if (word.size() >= kZuMaxScannedWord) return false;
    if (c == '"') quoted = !quoted;
    word.push_back(static_cast<char>(in.get()));
  }
  in.clear(in.rdstate() & ~std::ios::failbit);
  return !quoted && !word.empty();
}
