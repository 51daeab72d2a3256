// The DNS name and text checks over arbitrary bytes: none may crash or read
// outside its input, and the conversions must agree with each other. The
// input is split at its first NUL into a name and a second text (an origin,
// or the other name of a pair).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "loam/base/zuString.h"
#include "loam/dns/zuDNSName.h"
#include "loam/dns/zuDNSStateMachine.h"
#include "loam/dns/zuRRDataNames.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuTextChecks.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

u32 len(const std::string& s) { return static_cast<u32>(s.size()); }

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void fuzzLabelForms(const std::string& bytes, const std::string& name) {
  // Arbitrary bytes as label form, through both forms; the buffer form gets
  // exactly the bytes it may touch.
  const std::string dotted = zuLabelsToDotted(bytes);
  std::vector<char> buffer(bytes.begin(), bytes.end());
  char* inPlace = zuLabelsToDotted(buffer.data(), len(bytes));
  if (inPlace != nullptr) check(dotted == inPlace);
  if (!dotted.empty()) check(dotted.back() == '.');

  const std::string labels = zuDottedToLabels(name);
  if (labels.empty()) return;
  check(labels.size() <= kZuMaxNameLength && labels.back() == '\0');
  // Back to dotted text: the name with its final dot (label texts hold no dots).
  check(zuLabelsToDotted(labels) == (name.back() == '.' ? name : name + "."));
  std::vector<char> room(name.begin(), name.end());
  room.push_back('\0');
  if (name.back() != '.') {
    // A relative name needs one byte more than its text and NUL.
    check(zuDottedToLabels(room.data(), static_cast<u32>(room.size())) == nullptr);
    check(std::string(room.data()) == name);
    room.push_back('\0');
  }
  check(zuDottedToLabels(room.data(), static_cast<u32>(room.size())) == room.data());
  check(std::string(room.data(), labels.size()) == labels);
}

void fuzzNames(const std::string& a, const std::string& b) {
  const bool valid = zuIsValidDNSName(a.c_str());
  check(valid == zuIsValidDNSText(a.c_str(), len(a)) || a.find('\0') != std::string::npos);
  zuIsValidText(a.data(), len(a));
  zuIsPrintableDNSText(a.c_str());
  const u32 labels = zuCountLabels(a.c_str());
  const u32 shared = zuCommonSuffixLabels(a.c_str(), b.c_str());
  check(shared == zuCommonSuffixLabels(b.c_str(), a.c_str()));
  check(shared <= labels && shared <= zuCountLabels(b.c_str()));
  for (u32 n = 0; n <= labels + 1; ++n) {
    const std::string last = zuLastLabels(a, n);
    check(endsWith(a, last));
    char out[64];
    if (zuLastLabels(a.c_str(), n, out, sizeof out) != nullptr) check(last == out);
  }
  char token[16];
  zuNthToken(a.c_str(), static_cast<u32>(b.size()), token, sizeof token, '.');
  zuIsReverseZone(a);
  zuIsMailboxLocalPart(a);
  for (int form = 0; form < 4; ++form) zuIsValidMailbox(a.c_str(), form & 1, form & 2);
  const std::string dns = zuMailboxToDnsName(a);
  if (a.find('@') != std::string::npos) check(!dns.empty() && dns.back() == '.');
  zuEqualsNoCase(a.c_str(), b.c_str());

  // Stripping an origin from a valid name and qualifying it again gives the
  // name back, up to the case of the origin's letters.
  std::string stripped = a;
  if (valid && zuStripOrigin(b, stripped)) {
    const std::string back = zuQualifyName(stripped, b);
    check(back.size() == a.size() && zuStrCompare(back.c_str(), a.c_str(), false) == 0);
  }
}

void fuzzRecordData(const std::string& rdata, const std::string& origin, u8 pick) {
  if (origin.find('\t') != std::string::npos) return;  // no origin holds a TAB
  const u32 type = kZuRRTypeTable[pick % kZuRRTypeCount].type;
  std::string normalized = rdata;
  zuNormalizeDataNames(origin, type, normalized);
  std::string qualified = normalized;
  zuQualifyDataNames(origin, type, qualified);
  // Every field keeps its place.
  const auto tabs = [](const std::string& s) {
    std::size_t n = 0;
    for (char c : s) n += c == '\t' ? 1 : 0;
    return n;
  };
  check(tabs(normalized) == tabs(rdata) && tabs(qualified) == tabs(rdata));
}

void fuzzTextChecks(const std::string& a) {
  u32 seconds = 0;
  if (zuParseTimeSpan(a.data(), len(a), seconds)) {
    check(seconds <= 2147483647u);
    const std::string plain = zuUIntToString(seconds);
    u32 again = 0;
    check(zuParseTimeSpan(plain.data(), len(plain), again) && again == seconds);
    zuTimeSpanText(seconds);
  } else if (!a.empty()) {
    check(seconds == 0xFFFFFFFFu);
  }
  zuIsHexPairText(a.data(), len(a));
  zuIsUnsignedNumber(a);
  zuIsValidIPAddressText(a.data(), len(a));
  zuIsValidIPAddressTextLoose(a.data(), len(a));
  for (u32 kind = 0; kind <= 6; ++kind) zuIsValidLocText(kind, a.data(), len(a), (kind & 1) != 0);
  for (int mode = 0; mode < 8; ++mode) {
    zuDNSStateMachine m(0, (mode & 1) != 0);
    m.configure(static_cast<u8>(mode & 2), (mode & 1) != 0, (mode & 4) != 0);
    m.feed(reinterpret_cast<const u8*>(a.data()), len(a));
    check(m.charCount() <= a.size());
  }
  zuRRTypeFromName(a.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return 0;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const auto nul = all.find('\0');
  const std::string a = all.substr(0, nul);
  const std::string b = nul == std::string::npos ? std::string() : all.substr(nul + 1);
  fuzzLabelForms(all, a);
  fuzzNames(a, b);
  fuzzRecordData(a, b.substr(0, b.find('\0')), size == 0 ? 0 : data[size - 1]);
  fuzzTextChecks(a);
  u32 serial = 0;
  std::memcpy(&serial, data, size < 4 ? size : 4);
  check(zuNextSerial(serial, 20240315) != serial);
  return 0;
}
