#include "loam/base/zuList.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

template <typename Add>
void splitInto(const std::string& text, char sep, Add add) {
  if (text.empty()) return;
  std::size_t pos = 0;
  for (;;) {
    const auto p = text.find(sep, pos);
    if (p == std::string::npos) {
      add(text.substr(pos));
      return;
    }
    add(text.substr(pos, p - pos));
    pos = p + 1;
  }
}

template <typename Container>
std::string joinItems(const Container& items, char sep) {
  std::string r;
  bool first = true;
  for (const auto& item : items) {
    if (!first) r += sep;
    r += item;
    first = false;
  }
  return r;
}

template <typename Container, typename Format>
std::string formatNumbers(const Container& items, char sep, Format format) {
  std::string r;
  bool first = true;
  for (auto v : items) {
    if (!first) r += sep;
    r += format(v);
    first = false;
  }
  return r;
}

// Blanks and tabs around the item are skipped; an item with a NUL inside is
// malformed rather than cut short.
template <typename T, typename Convert, typename Store>
bool parseNumbers(const std::string& text, char sep, Convert convert, Store store) {
  std::vector<std::string> items;
  zuSplit(text, items, sep);
  for (const auto& item : items) {
    if (item.empty()) return false;
    const auto first = item.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    const auto last = item.find_last_not_of(" \t");
    const std::string number = item.substr(first, last - first + 1);
    if (number.find('\0') != std::string::npos) return false;
    T v{};
    if (!convert(number.c_str(), v)) return false;
    store(v);
  }
  return true;
}

bool sameText(const std::string& a, const std::string& b, bool caseSensitive) {
  return zuStrCompare(a.c_str(), b.c_str(), caseSensitive) == 0;
}

template <typename It>
It findText(const std::string& value, It first, It last, bool caseSensitive) {
  return std::find_if(
      first, last, [&](const std::string& item) { return sameText(item, value, caseSensitive); });
}

// Replaces occurrences of a non-empty from in place, resuming after each
// inserted text.
void replaceInPlace(std::string& text, const std::string& from, const std::string& to, bool all) {
  if (from.empty()) return;
  std::size_t pos = text.find(from);
  while (pos != std::string::npos) {
    text.replace(pos, from.size(), to);
    if (!all) break;
    pos = text.find(from, pos + to.size());
  }
}

u32 cLength(const char* s) {
  return s ? static_cast<u32>(std::min<std::size_t>(std::strlen(s), kZuNotFound - 1)) : 0;
}

}  // namespace

// ---- Text and string containers --------------------------------------------

void zuSplit(const std::string& text, std::vector<std::string>& out, char sep) {
  out.clear();
  splitInto(text, sep, [&](std::string item) { out.push_back(std::move(item)); });
}

void zuSplitList(const std::string& text, std::list<std::string>& out, char sep) {
  out.clear();
  splitInto(text, sep, [&](std::string item) { out.push_back(std::move(item)); });
}

void zuSplitSet(const std::string& text, std::set<std::string>& out, char sep) {
  out.clear();
  splitInto(text, sep, [&](std::string item) { out.insert(std::move(item)); });
}

std::string zuDropFirstLabel(const std::string& name) {
  std::vector<std::string> labels;
  zuSplit(name, labels, '.');
  if (labels.size() <= 1) return std::string();
  labels.erase(labels.begin());
  return zuJoin(labels, '.');
}

std::string zuJoin(const std::vector<std::string>& items, char sep) {
  return joinItems(items, sep);
}

std::string zuJoinList(const std::list<std::string>& items, char sep) {
  return joinItems(items, sep);
}

std::string zuJoinSet(const std::set<std::string>& items, char sep) {
  return joinItems(items, sep);
}

// ---- Numbers ---------------------------------------------------------------

bool zuParseUIntList(const std::string& text, std::vector<u32>& out, char sep) {
  out.clear();
  return parseNumbers<u32>(text, sep, zuStrToUInt32, [&](u32 v) { out.push_back(v); });
}

bool zuParseIntList(const std::string& text, std::vector<i32>& out, char sep) {
  out.clear();
  return parseNumbers<i32>(text, sep, zuStrToInt32, [&](i32 v) { out.push_back(v); });
}

bool zuParseUIntSet(const std::string& text, std::set<u32>& out, char sep) {
  out.clear();
  return parseNumbers<u32>(text, sep, zuStrToUInt32, [&](u32 v) { out.insert(v); });
}

std::string zuFormatUIntList(const std::vector<u32>& items, char sep) {
  return formatNumbers(items, sep, zuUIntToString);
}

std::string zuFormatIntList(const std::vector<i32>& items, char sep) {
  return formatNumbers(items, sep, zuIntToString);
}

std::string zuFormatUIntSet(const std::set<u32>& items, char sep) {
  return formatNumbers(items, sep, zuUIntToString);
}

// ---- Searching string containers -------------------------------------------

std::list<std::string>::const_iterator zuFindString(const std::string& value,
                                                    const std::list<std::string>& items,
                                                    bool caseSensitive) {
  return findText(value, items.begin(), items.end(), caseSensitive);
}

std::list<std::string>::iterator zuFindString(const std::string& value,
                                              std::list<std::string>& items, bool caseSensitive) {
  return findText(value, items.begin(), items.end(), caseSensitive);
}

std::vector<std::string>::const_iterator zuFindStringIn(
    const std::string& value, std::vector<std::string>::const_iterator first,
    std::vector<std::string>::const_iterator last, bool caseSensitive) {
  return findText(value, first, last, caseSensitive);
}

std::vector<std::string>::const_iterator zuFindStringIn(const std::string& value,
                                                        const std::vector<std::string>& items,
                                                        bool caseSensitive) {
  return findText(value, items.begin(), items.end(), caseSensitive);
}

bool zuRemoveDuplicates(std::vector<std::string>& items, bool caseSensitive) {
  bool erased = false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string& keep = items[i];
    const auto from = items.begin() + static_cast<std::ptrdiff_t>(i) + 1;
    const auto newEnd = std::remove_if(
        from, items.end(), [&](const std::string& s) { return sameText(s, keep, caseSensitive); });
    if (newEnd != items.end()) {
      items.erase(newEnd, items.end());
      erased = true;
    }
  }
  return erased;
}

void zuRemoveString(std::vector<std::string>& items, const std::string& value, bool erase) {
  if (erase) {
    items.erase(std::remove(items.begin(), items.end(), value), items.end());
  } else {
    std::replace(items.begin(), items.end(), value, std::string());
  }
}

// ---- Replacing -------------------------------------------------------------

std::string zuReplaceAll(const std::string& text, const std::string& from, const std::string& to,
                         bool all) {
  std::string r(text);
  replaceInPlace(r, from, to, all);
  return r;
}

std::string& zuSubstituteParam(std::string& text, char key, const std::string& value) {
  if (text.empty()) return text;
  std::string token = "$$";
  token[1] = key;
  replaceInPlace(text, token, value, true);
  return text;
}

std::string zuSubstituteParamCopy(const std::string& text, char key, const std::string& value) {
  std::string r(text);
  return zuSubstituteParam(r, key, value);
}

u32 zuFindBytes(const void* buffer, u32 length, const void* pattern, u32 patternLength, u32 start) {
  if (!buffer || !pattern || patternLength == 0 || patternLength > length ||
      start > length - patternLength) {
    return kZuNotFound;
  }
  const std::string_view data(static_cast<const char*>(buffer), length);
  const std::string_view pat(static_cast<const char*>(pattern), patternLength);
  const auto pos = data.find(pat, start);
  return pos == std::string_view::npos ? kZuNotFound : static_cast<u32>(pos);
}

u32 zuReplaceBytes(void* buffer, u32 length, u32 capacity, const void* pattern, u32 patternLength,
                   const void* replacement, u32 replacementLength, bool all) {
  length = std::min(length, capacity);
  if (!buffer || !pattern || patternLength == 0) return length;
  // Own copies: the pattern or replacement may lie inside the buffer.
  const std::string pat(static_cast<const char*>(pattern), patternLength);
  const std::string rep =
      replacement ? std::string(static_cast<const char*>(replacement), replacementLength)
                  : std::string();
  auto* b = static_cast<u8*>(buffer);
  const u64 cap = capacity;
  const u64 pl = pat.size();
  const u64 rl = rep.size();
  u32 start = 0;
  for (;;) {
    const u32 m = zuFindBytes(b, length, pat.data(), patternLength, start);
    if (m == kZuNotFound) break;
    const u64 tail = u64{m} + pl;  // first byte after the match, <= length
    if (rl > pl) {
      const u64 dst = u64{m} + rl;
      if (dst < cap) std::memmove(b + dst, b + tail, std::min<u64>(length - tail, cap - dst));
    } else if (rl < pl) {
      std::memmove(b + m + rl, b + tail, length - tail);
    }
    std::memcpy(b + m, rep.data(), std::min<u64>(rl, cap - m));
    length = static_cast<u32>(std::min<u64>(u64{length} - pl + rl, cap));
    const u64 next = u64{m} + rl;
    if (!all || next >= length) break;
    start = static_cast<u32>(next);
  }
  return length;
}

char* zuReplaceInCString(char* buffer, const char* pattern, const char* replacement, bool all,
                         u32 bufferSize) {
  if (!buffer || bufferSize == 0) return buffer;
  const u32 capacity = bufferSize - 1;
  // An unterminated buffer counts as full; the NUL then goes in the last byte.
  const auto nul = std::find(buffer, buffer + capacity, '\0');
  const auto length = static_cast<u32>(nul - buffer);
  const u32 n = zuReplaceBytes(buffer, length, capacity, pattern, cLength(pattern), replacement,
                               cLength(replacement), all);
  buffer[n] = '\0';
  return buffer;
}

u8* zuReplaceInCounted(u8* buffer, const char* pattern, const char* replacement, bool all,
                       u32 capacity) {
  if (!buffer || capacity == 0) return buffer;
  // The length is one byte: the counted bytes can never pass 255.
  const u32 room = std::min<u32>(capacity - 1, 255);
  const u32 length = std::min<u32>(buffer[0], room);
  const u32 n = zuReplaceBytes(buffer + 1, length, room, pattern, cLength(pattern), replacement,
                               cLength(replacement), all);
  buffer[0] = static_cast<u8>(n);
  return buffer;
}

std::string& zuConvertLineEnds(std::string& text, u8 mode, bool ensureLineEnd) {
  if (mode > kZuLineEndBlank) return text;
  if (mode == kZuLineEndDefault) mode = kZuLineEndCRLF;
  if (ensureLineEnd && (text.empty() || (text.back() != '\r' && text.back() != '\n'))) {
    text += '\r';
  }
  std::string r;
  r.reserve(text.size() + text.size() / 8 + 1);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const bool nextIsLF = i + 1 < n && text[i + 1] == '\n';
    const bool prevIsCR = i > 0 && text[i - 1] == '\r';
    switch (mode) {
      case kZuLineEndLF:
        if (c == '\r') {
          if (!nextIsLF) r += '\n';
        } else {
          r += c;
        }
        break;
      case kZuLineEndCRLF:
        if (c == '\r') {
          r += '\r';
          if (!nextIsLF) r += '\n';
        } else if (c == '\n') {
          if (!prevIsCR) r += '\r';
          r += '\n';
        } else {
          r += c;
        }
        break;
      case kZuLineEndCR:
        if (c == '\n') {
          if (!prevIsCR) r += '\r';
        } else {
          r += c;
        }
        break;
      default:  // blank
        if (c == '\r') {
          if (!nextIsLF) r += ' ';
        } else if (c == '\n') {
          r += ' ';
        } else {
          r += c;
        }
        break;
    }
  }
  text = std::move(r);
  return text;
}
