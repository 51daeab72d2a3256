#include "loam/dns/zuDNSName.h"

#include <cstring>
#include <string_view>

#include "loam/base/zuDate.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuDNSStateMachine.h"

namespace {

std::string_view viewOf(const char* s) { return s == nullptr ? std::string_view() : s; }

// Copies a result into a caller's buffer of outSize bytes, or refuses.
char* copyOut(const std::string& text, char* out, u32 outSize) {
  if (out == nullptr || outSize == 0) return nullptr;
  if (text.size() >= outSize || text.find('\0') != std::string::npos) {
    out[0] = '\0';
    return nullptr;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

u32 countLabels(std::string_view name) {
  if (name.empty()) return 0;
  if (name == ".") return 1;
  u32 dots = 0;
  for (char c : name) dots += c == '.' ? 1 : 0;
  return dots + 1;
}

}  // namespace

bool zuIsValidDNSName(const char* name) {
  const std::string_view text = viewOf(name);
  zuDNSStateMachine machine(0, false);
  return machine.feed(reinterpret_cast<const u8*>(text.data()), static_cast<u32>(text.size()));
}

bool zuIsPrintableDNSText(const char* text) {
  const std::string_view t = viewOf(text);
  if (t.empty()) return false;
  for (char c : t) {
    const auto b = static_cast<u8>(c);
    if (b < 33 || b > 126) return false;
  }
  return true;
}

u32 zuCountLabels(const char* name) { return countLabels(viewOf(name)); }

std::string zuNthToken(const std::string& text, u32 n, char separator) {
  return zuGetField(text, n, separator);
}

char* zuNthToken(const char* text, u32 n, char* out, u32 outSize, char separator) {
  return copyOut(zuNthToken(std::string(viewOf(text)), n, separator), out, outSize);
}

std::string zuLastLabels(const std::string& name, u32 n) {
  if (n == 0) return std::string();
  if (n >= countLabels(name)) return name;
  std::size_t start = name.size();
  u32 left = n;
  // The root of an absolute name is its final dot.
  if (name.back() == '.') {
    --start;
    --left;
  }
  while (left > 0) {
    // start is the first byte of the labels taken so far; skip the dot
    // before them and find the one before the next label.
    const std::size_t from = start == name.size() ? start : start - 1;
    const std::size_t dot = from == 0 ? std::string::npos : name.rfind('.', from - 1);
    if (dot == std::string::npos) return name;
    start = dot + 1;
    --left;
  }
  return name.substr(start);
}

char* zuLastLabels(const char* name, u32 n, char* out, u32 outSize) {
  return copyOut(zuLastLabels(std::string(viewOf(name)), n), out, outSize);
}

u32 zuCommonSuffixLabels(const char* a, const char* b) {
  const std::string_view x = viewOf(a);
  const std::string_view y = viewOf(b);
  std::size_t i = x.size();
  std::size_t j = y.size();
  while (i > 0 && j > 0 &&
         zuToUpper(static_cast<u8>(x[i - 1])) == zuToUpper(static_cast<u8>(y[j - 1]))) {
    --i;
    --j;
  }
  if (i > 0 && j > 0) {
    // The tails from the disagreeing bytes on share all but their first label.
    const u32 cx = countLabels(x.substr(i - 1));
    const u32 cy = countLabels(y.substr(j - 1));
    return (cx < cy ? cx : cy) - 1;
  }
  // One name (or both) is used up: it is shared whole when the other stops on
  // a label boundary too.
  const std::string_view used = i == 0 ? x : y;
  const std::string_view other = i == 0 ? y : x;
  const std::size_t rest = i == 0 ? j : i;
  const u32 count = countLabels(used);
  if (count == 0) return 0;
  const bool boundary = rest == 0 || other[rest - 1] == '.' || other[rest] == '.';
  return boundary ? count : count - 1;
}

std::string zuLabelsToDotted(const std::string& labels) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    if (pos >= labels.size() || pos >= kZuMaxNameLength) return std::string();
    const auto len = static_cast<u8>(labels[pos]);
    if (len == 0) break;
    if (len > kZuMaxLabelLength || labels.size() - pos - 1 < len) return std::string();
    const std::string_view label(labels.data() + pos + 1, len);
    if (label.find('\0') != std::string_view::npos) return std::string();
    out.append(label);
    out += '.';
    pos += 1 + std::size_t{len};
  }
  return out.empty() ? std::string(".") : out;
}

char* zuLabelsToDotted(char* buffer, u32 size) {
  if (buffer == nullptr) return nullptr;
  const std::string dotted = zuLabelsToDotted(std::string(buffer, size));
  if (dotted.empty() || dotted.size() >= size) return nullptr;
  std::memcpy(buffer, dotted.c_str(), dotted.size() + 1);
  return buffer;
}

std::string zuDottedToLabels(const std::string& dotted) {
  if (dotted.empty()) return std::string();
  // The root alone is the zero length.
  if (dotted == ".") return std::string(1, '\0');
  std::string_view text(dotted);
  if (text.back() == '.') text.remove_suffix(1);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t dot = text.find('.', pos);
    const std::string_view label =
        text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (label.empty() || label.size() > kZuMaxLabelLength ||
        label.find('\0') != std::string_view::npos)
      return std::string();
    out += static_cast<char>(label.size());
    out.append(label);
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  out += '\0';
  if (out.size() > kZuMaxNameLength) return std::string();
  return out;
}

char* zuDottedToLabels(char* buffer, u32 size) {
  if (buffer == nullptr || size == 0) return nullptr;
  const void* nul = std::memchr(buffer, '\0', size);
  if (nul == nullptr) return nullptr;
  const std::string dotted(buffer,
                           static_cast<std::size_t>(static_cast<const char*>(nul) - buffer));
  if (dotted.empty()) return buffer;
  const std::string labels = zuDottedToLabels(dotted);
  // The final zero length is the C string's NUL.
  if (labels.empty() || labels.size() > size) return nullptr;
  std::memcpy(buffer, labels.data(), labels.size());
  return buffer;
}

std::string zuTimeSpanText(u32 seconds) {
  if (seconds == 0) return "0 seconds";
  struct Part {
    u32 size;
    const char* one;
    const char* many;
  };
  static constexpr Part kParts[] = {{86400, "day", "days"},
                                    {3600, "hour", "hours"},
                                    {60, "minute", "minutes"},
                                    {1, "second", "seconds"}};
  std::string out;
  u32 left = seconds;
  for (const Part& p : kParts) {
    const u32 n = left / p.size;
    left %= p.size;
    if (n == 0) continue;
    if (!out.empty()) out += ", ";
    out += zuUIntToString(n);
    out += ' ';
    out += n == 1 ? p.one : p.many;
  }
  return out;
}

char* zuTimeSpanText(u32 seconds, char* out, u32 outSize) {
  return copyOut(zuTimeSpanText(seconds), out, outSize);
}

u32 zuNextSerial(u32 serial) {
  const zuDate today(true);
  return zuNextSerial(serial, u32{today.year()} * 10000 + u32{today.month()} * 100 + today.day());
}

u32 zuNextSerial(u32 serial, u32 today) {
  const u64 t = today;
  const u64 s = serial;
  if (serial == 0) return static_cast<u32>(t * 100 + 1);
  u64 d = 0;
  if (s >= 19700101 && s <= t) {
    d = 1;
  } else if (s >= 197001010 && s <= t * 10 + 9) {
    d = 10;
  } else if (s >= 1970010100 && s < t * 100 + 99) {
    d = 100;
  } else {
    return serial + 1;  // wraps past 0xFFFFFFFF, as serial arithmetic does
  }
  const u64 date = s / d;
  const u64 count = s % d;
  const u64 m = d == 1 ? 100 : d;
  u64 next = s + 1;
  if (date < t) {
    next = m * t + 1;
  } else if (date == t) {
    next = date * m + count + 1;
  }
  // Only a "today" past the year 42949 could leave the 32 bits.
  return next > 0xFFFFFFFFu ? serial + 1 : static_cast<u32>(next);
}

bool zuIsReverseZone(const std::string& name) {
  return zuEndsWithNoCaseStr(name, ".in-addr.arpa.") || zuEndsWithNoCaseStr(name, ".ip6.arpa.");
}

bool zuIsMailboxLocalPart(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    const auto b = static_cast<u8>(c);
    if (b < 32 || b > 126 || c == '@' || c == '\\') return false;
  }
  return true;
}

bool zuIsValidMailbox(const char* text, bool dnsFormAllowed, bool refuseAtForm) {
  const std::string all(viewOf(text));
  std::string local;
  std::string domain;
  if (zuSplitAtChar(all, local, domain, '@')) {
    if (refuseAtForm) return false;
    return zuIsMailboxLocalPart(local) && zuIsValidDNSName(domain.c_str());
  }
  if (!dnsFormAllowed) return false;
  std::string rest = all;
  for (;;) {
    if (zuIsValidDNSName(rest.c_str())) return true;
    const auto dot = rest.find('.');
    if (dot == std::string::npos) return false;
    std::string piece = rest.substr(0, dot);
    // "first\.last": the backslash escapes the dot.
    if (!piece.empty() && piece.back() == '\\') piece.pop_back();
    if (!zuIsMailboxLocalPart(piece)) return false;
    rest.erase(0, dot + 1);
  }
}

std::string zuMailboxToDnsName(const std::string& mailbox) {
  const auto at = mailbox.find('@');
  if (at == std::string::npos) return mailbox;
  std::string out;
  out.reserve(mailbox.size() + 8);
  for (std::size_t i = 0; i < at; ++i) {
    if (mailbox[i] == '.' && i > 0) out += '\\';
    out += mailbox[i];
  }
  out += '.';
  out.append(mailbox, at + 1, std::string::npos);
  if (out.back() != '.') out += '.';
  return out;
}

bool zuEqualsNoCase(const char* a, const char* b) {
  const std::string_view x = viewOf(a);
  const std::string_view y = viewOf(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (zuToUpper(static_cast<u8>(x[i])) != zuToUpper(static_cast<u8>(y[i]))) return false;
  }
  return true;
}
