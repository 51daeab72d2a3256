#include "loam/base/zuString.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

constexpr i32 kI32Max = std::numeric_limits<i32>::max();
constexpr i32 kI32Min = std::numeric_limits<i32>::min();
constexpr u32 kU32Max = std::numeric_limits<u32>::max();

const char* orEmpty(const char* s) { return s ? s : ""; }

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool bytesEqualNoCase(char a, char b) {
  return zuToUpper(static_cast<unsigned char>(a)) == zuToUpper(static_cast<unsigned char>(b));
}

// First position >= start of pattern in text, or kZuNotFound when the pattern
// is empty or cannot fit between start and the end.
u32 findIn(std::string_view text, std::string_view pattern, i32 start, bool caseSensitive) {
  if (start < 0 || pattern.empty()) return kZuNotFound;
  const auto from = static_cast<std::size_t>(start);
  if (from > text.size() || pattern.size() > text.size() - from) return kZuNotFound;
  std::size_t pos;
  if (caseSensitive) {
    pos = text.find(pattern, from);
  } else {
    auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                          pattern.begin(), pattern.end(), bytesEqualNoCase);
    pos = it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
  }
  if (pos == std::string_view::npos || pos >= kZuNotFound) return kZuNotFound;
  return static_cast<u32>(pos);
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), bytesEqualNoCase);
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
  return !suffix.empty() && suffix.size() <= text.size() &&
         equalNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// A string holding a NUL inside is not a number, whatever its first part says.
bool toUInt32(const std::string& s, u32& out) {
  if (s.find('\0') != std::string::npos) return false;
  return zuStrToUInt32(s.c_str(), out);
}

template <typename T>
std::string numberText(T v, int base) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v, base);
  std::string s(buf, res.ptr);
  if (base == 16) s = zuToUpperCopy(s);
  return s;
}

void copyChars(const std::string& text, char* buffer) {
  std::memcpy(buffer, text.c_str(), text.size() + 1);
}

}  // namespace

// ---- Characters and case ---------------------------------------------------

int zuToUpper(int c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

int zuToLower(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

std::string zuToUpperCopy(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(zuToUpper(static_cast<unsigned char>(c)));
  return r;
}

std::string zuToLowerCopy(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(zuToLower(static_cast<unsigned char>(c)));
  return r;
}

bool zuCharEqual(char a, char b, bool caseSensitive) {
  return a == b || (!caseSensitive && bytesEqualNoCase(a, b));
}

bool zuIsDigit(u8 c) { return c >= '0' && c <= '9'; }

bool zuIsDigits(const char* s) {
  if (!s || !*s) return false;
  for (; *s; ++s)
    if (!zuIsDigit(static_cast<u8>(*s))) return false;
  return true;
}

bool zuIsAlphanumeric(const std::string& s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return zuIsDigit(static_cast<u8>(c)) || isAsciiLetter(c); });
}

bool zuIsPrintableText(const char* s) {
  for (s = orEmpty(s); *s; ++s) {
    const auto c = static_cast<u8>(*s);
    if (c < 32 || c > 126) return false;
  }
  return true;
}

bool zuHasNoControlChars(const char* s) {
  for (s = orEmpty(s); *s; ++s) {
    const auto c = static_cast<u8>(*s);
    if (c < 32 || c == 127) return false;
  }
  return true;
}

std::string zuPrintable(const char* s) {
  std::string r(orEmpty(s));
  for (char& c : r) {
    const auto b = static_cast<u8>(c);
    if (b < 32 || b > 126) c = '.';
  }
  return r;
}

std::string zuLogText(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789abcdef";
  static constexpr std::string_view kCut = "...";
  const auto isControl = [](char c) {
    const auto b = static_cast<u8>(c);
    return b < 32 || b == 127;
  };
  std::size_t width = 0;
  for (char c : text) width += isControl(c) ? 4u : 1u;
  // A cut text keeps room for the mark; an escape is never cut in two.
  const std::size_t room = width <= limit ? limit : (limit > kCut.size() ? limit - kCut.size() : 0);
  std::string out;
  for (char c : text) {
    const std::size_t need = isControl(c) ? 4u : 1u;
    if (out.size() + need > room) break;
    if (need == 1) {
      out += c;
    } else {
      const auto b = static_cast<u8>(c);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  if (width > limit) out += kCut.substr(0, limit - out.size());
  return out;
}

// ---- Comparison and search -------------------------------------------------

int zuStrCompare(const char* a, const char* b, bool caseSensitive) {
  a = orEmpty(a);
  b = orEmpty(b);
  for (;; ++a, ++b) {
    // Signed bytes: the order callers and stored sort orders rely on.
    int ca = static_cast<signed char>(*a);
    int cb = static_cast<signed char>(*b);
    if (!caseSensitive) {
      ca = zuToUpper(ca);
      cb = zuToUpper(cb);
    }
    if (ca != cb || *a == '\0') return ca - cb;
  }
}

u32 zuStrFind(const char* text, const char* pattern, i32 start, bool caseSensitive) {
  if (!text || !pattern) return kZuNotFound;
  return findIn(text, pattern, start, caseSensitive);
}

u32 zuStrFindNoCase(const std::string& text, const std::string& pattern, i32 start) {
  if (text.empty()) return kZuNotFound;
  return findIn(text, pattern, start, false);
}

bool zuStartsWithNoCase(const char* text, const char* prefix) {
  return zuStrFind(text, prefix, 0, false) == 0;
}

bool zuStartsWithNoCaseStr(const std::string& text, const std::string& prefix) {
  return zuStrFindNoCase(text, prefix, 0) == 0;
}

bool zuEndsWithNoCase(const char* text, const char* suffix) {
  return endsWithNoCase(orEmpty(text), orEmpty(suffix));
}

bool zuEndsWithNoCaseStr(const std::string& text, const std::string& suffix) {
  return endsWithNoCase(text, suffix);
}

bool zuContains(const char* text, const char* pattern, bool caseSensitive) {
  return zuStrFind(text, pattern, 0, caseSensitive) != kZuNotFound;
}

bool zuContainsNoCase(const std::string& text, const std::string& pattern) {
  return zuStrFindNoCase(text, pattern, 0) != kZuNotFound;
}

bool zuMatches(const std::string& text, const std::string& pattern, u32 mode) {
  switch (mode) {
    case kZuMatchAny:
      return true;
    case kZuMatchBegins:
      return zuStartsWithNoCaseStr(text, pattern);
    case kZuMatchEnds:
      return zuEndsWithNoCaseStr(text, pattern);
    case kZuMatchContains:
      return zuContainsNoCase(text, pattern);
    case kZuMatchEquals:
      return zuStrCompare(text.c_str(), pattern.c_str(), false) == 0;
    default:
      return false;
  }
}

// ---- Editing and extraction ------------------------------------------------

std::string& zuTrimLeft(std::string& s) {
  s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
  return s;
}

std::string& zuTrimRight(std::string& s) {
  const auto last = s.find_last_not_of(' ');
  s.erase(last == std::string::npos ? 0 : last + 1);
  return s;
}

std::string& zuTrim(std::string& s) { return zuTrimRight(zuTrimLeft(s)); }

namespace {
bool isQuoted(const std::string& s) { return s.size() >= 2 && s.front() == '"' && s.back() == '"'; }
}  // namespace

std::string zuUnquote(const std::string& s) { return isQuoted(s) ? s.substr(1, s.size() - 2) : s; }

std::string zuQuote(const std::string& s) { return isQuoted(s) ? s : '"' + s + '"'; }

std::string& zuReplaceChar(std::string& s, char from, char to) {
  std::replace(s.begin(), s.end(), from, to);
  return s;
}

std::string zuReplaceMatching(const std::string& text, const std::string& pattern,
                              const std::string& replacement, u32 mode, bool all) {
  if (!zuMatches(text, pattern, mode)) return text;
  switch (mode) {
    case kZuMatchAny:
    case kZuMatchEquals:
      return replacement;
    case kZuMatchBegins:
      return replacement + text.substr(pattern.size());
    case kZuMatchEnds:
      return text.substr(0, text.size() - pattern.size()) + replacement;
    default:
      break;
  }
  // Contains: the pattern is not empty here, so each step moves forward.
  std::string r(text);
  u32 pos = zuStrFindNoCase(r, pattern, 0);
  while (pos != kZuNotFound) {
    r.replace(pos, pattern.size(), replacement);
    const std::size_t next = std::size_t{pos} + replacement.size();
    if (!all || next > static_cast<std::size_t>(kI32Max)) break;
    pos = zuStrFindNoCase(r, pattern, static_cast<i32>(next));
  }
  return r;
}

std::string zuQualifyName(const std::string& name, const std::string& origin) {
  if (name.empty()) return origin;
  if (name.back() == '.') return name;
  // An origin that begins with a dot (the root ".") brings its own separator.
  if (!origin.empty() && origin.front() == '.') return name + origin;
  return name + "." + origin;
}

std::string zuAfterChar(const std::string& text, char c) {
  const auto p = text.find(c);
  return p == std::string::npos ? std::string() : text.substr(p + 1);
}

bool zuSplitAtChar(const std::string& text, std::string& head, std::string& tail, char c) {
  const auto p = text.find(c);
  if (p == std::string::npos) return false;
  head = text.substr(0, p);
  tail = text.substr(p + 1);
  return !head.empty() && !tail.empty();
}

std::string zuGetField(const std::string& text, u32 index, char sep) {
  std::size_t pos = 0;
  for (u32 k = 0; k < index; ++k) {
    const auto p = text.find(sep, pos);
    if (p == std::string::npos) return std::string();
    pos = p + 1;
  }
  const auto end = text.find(sep, pos);
  return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

u32 zuFindSuffixNoCase(const std::string& text, u32 end, const std::string& suffix) {
  if (end > text.size() || suffix.size() > end) return end;
  const u32 p = end - static_cast<u32>(suffix.size());
  if (!equalNoCase(std::string_view(text).substr(p, suffix.size()), suffix)) return end;
  if (p == 0) return p;
  const char before = text[p - 1];
  if (before == '.') return p - 1;
  if (before == '\t') return p;
  return end;
}

// ---- Numbers and text ------------------------------------------------------

// The conversions below are defined by what strtol/strtoul give with a 32-bit
// long: results beyond 32 bits saturate at the 32-bit limits, which are then
// refused. Our long is 64 bits, so the saturation is done here.

bool zuStrToInt32(const char* s, i32& out) {
  if (!s || !(zuIsDigit(static_cast<u8>(s[0])) || s[0] == '+' || s[0] == '-')) return false;
  char* end = nullptr;
  long long v = std::strtoll(s, &end, 10);
  v = std::clamp<long long>(v, kI32Min, kI32Max);
  out = static_cast<i32>(v);
  return end != s && *end == '\0' && v != kI32Max && v != kI32Min;
}

bool zuStrToUInt32(const char* s, u32& out) {
  if (!s || !(zuIsDigit(static_cast<u8>(s[0])) || s[0] == '+')) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(s, &end, 10);
  v = std::min<unsigned long long>(v, kU32Max);
  out = static_cast<u32>(v);
  if (v == kU32Max) {
    // The saturated value stands for every larger number too: only the exact
    // text is the real maximum.
    return std::strcmp(s[0] == '+' ? s + 1 : s, "4294967295") == 0;
  }
  return end != s && *end == '\0';
}

bool zuStrToUInt16(const char* s, u16& out) {
  u32 v = out;  // untouched when nothing is converted
  const bool ok = zuStrToUInt32(s, v);
  out = static_cast<u16>(v & 0xFFFFu);
  return ok && v < 65536;
}

i32 zuStrToInt32Or(const char* s, i32 fallback) {
  i32 v = 0;
  return zuStrToInt32(s, v) ? v : fallback;
}

u32 zuStrToUInt32Or(const char* s, u32 fallback) {
  u32 v = 0;
  return zuStrToUInt32(s, v) ? v : fallback;
}

u16 zuStrToUInt16Or(const char* s, u16 fallback) {
  u16 v = 0;
  return zuStrToUInt16(s, v) ? v : fallback;
}

bool zuStrToBool(const char* s, bool& out) {
  if (!s) return false;
  if (zuIsDigit(static_cast<u8>(s[0]))) {
    i32 v = 0;
    if (!zuStrToInt32(s, v)) return false;
    out = v != 0;
    return true;
  }
  const std::string word = zuToLowerCopy(s);
  if (word == "y" || word == "yes" || word == "t" || word == "true") {
    out = true;
    return true;
  }
  if (word == "n" || word == "no" || word == "f" || word == "false") {
    out = false;
    return true;
  }
  return false;
}

std::string zuIntToString(i32 v) { return numberText(v, 10); }

std::string zuUIntToString(u32 v) { return numberText(v, 10); }

std::string zuHexToString(u32 v) { return numberText(v, 16); }

std::string zuInt64ToString(i64 v) { return numberText(v, 10); }

void zuIntToChars(i32 v, char* buffer) { copyChars(zuIntToString(v), buffer); }

void zuUIntToChars(u32 v, char* buffer) { copyChars(zuUIntToString(v), buffer); }

void zuHexToChars(u32 v, char* buffer) { copyChars(zuHexToString(v), buffer); }

bool zuHexDigitValue(char c, u8& out) {
  if (c >= '0' && c <= '9') {
    out = static_cast<u8>(c - '0');
  } else if (c >= 'A' && c <= 'F') {
    out = static_cast<u8>(c - 'A' + 10);
  } else if (c >= 'a' && c <= 'f') {
    out = static_cast<u8>(c - 'a' + 10);
  } else {
    return false;
  }
  return true;
}

bool zuIsHexDigit(char c) {
  u8 ignored = 0;
  return zuHexDigitValue(c, ignored);
}

void zuHexEncode(std::string& out, const void* bytes, i32 count, const std::string& separator,
                 bool upperCase) {
  if (count <= 0 || !bytes) return;
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  const auto* p = static_cast<const u8*>(bytes);
  out.reserve(out.size() + static_cast<std::size_t>(count) * (2 + separator.size()));
  for (i32 i = 0; i < count; ++i) {
    out += separator;
    out += digits[p[i] >> 4];
    out += digits[p[i] & 0x0F];
  }
}

bool zuHexDecode(u8* buffer, u32 capacity, u32& count, const std::string& hex) {
  count = 0;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    u8 v = 0;
    if (!zuHexDigitValue(hex[i], v)) return false;
    if (i % 2 == 0) {
      if (count >= capacity) return false;
      buffer[count++] = static_cast<u8>(v << 4);
    } else {
      buffer[count - 1] = static_cast<u8>(buffer[count - 1] | v);
    }
  }
  return true;
}

bool zuHexDecode(std::vector<u8>& out, const std::string& hex) {
  out.assign(std::min<std::size_t>(hex.size() / 2 + hex.size() % 2, kU32Max), 0);
  u32 count = 0;
  const bool ok = zuHexDecode(out.data(), static_cast<u32>(out.size()), count, hex);
  out.resize(count);
  return ok;
}

// ---- Fixed-format texts ----------------------------------------------------

bool zuIsSizeText(const std::string& s) {
  if (s.empty()) return false;
  u32 v = 0;
  if (std::string_view("kKmMgG").find(s.back()) != std::string_view::npos) {
    return toUInt32(s.substr(0, s.size() - 1), v);
  }
  return toUInt32(s, v);
}

bool zuNormalizeMacAddress(const std::string& text, std::string& out) {
  std::string r;
  int digits = 0;
  for (char raw : text) {
    const char c = static_cast<char>(zuToUpper(static_cast<unsigned char>(raw)));
    if (c == '-' || c == ':' || c == ' ' || c == '\t') continue;
    u8 v = 0;
    if (!zuHexDigitValue(c, v)) return false;
    if (++digits > 12) return false;
    r += c;
    if (digits % 2 == 0 && digits != 12) r += ':';
  }
  if (digits != 12) return false;
  out = r;
  return true;
}

std::string zuFormatMacAddress(const std::string& text) {
  std::string r;
  return zuNormalizeMacAddress(text, r) ? r : text;
}

std::string zuStripMacAddress(const std::string& text) {
  std::string r;
  r.reserve(text.size());
  for (char c : text) {
    if (c == ':' || c == '-' || c == '.') continue;
    r += static_cast<char>(zuToLower(static_cast<unsigned char>(c)));
  }
  return r;
}
