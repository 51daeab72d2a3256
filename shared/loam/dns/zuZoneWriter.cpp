#include "loam/dns/zuZoneWriter.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "loam/base/zuString.h"
#include "loam/dns/zuRRDataNames.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace {

bool isControl(u8 c) { return c < 32 || c == 127; }

void writeDigits(std::ostream& out, u8 c) {
  const char text[3] = {static_cast<char>('0' + c / 100), static_cast<char>('0' + (c / 10) % 10),
                        static_cast<char>('0' + c % 10)};
  out.write(text, 3);
}

void writeEscape(std::ostream& out, u8 c) {
  out.put('\\');
  writeDigits(out, c);
}

// How text outside the quoted strings of TXT, HINFO and NAPTR is written.
struct Escapes {
  // Rdata: a quoted word stays one, as the parser keeps it; elsewhere (names,
  // TTL, aging) and in the middle of a word every quote is escaped.
  bool keepStrings = false;
  // A disabled line ends at a '>' outside quotes: one there is escaped.
  bool disabled = false;
  // The TAB separators of a directive's text stay as they are.
  bool keepTab = false;
};

// Whether the quote at a position opens a quoted word of the text: it starts
// the text or follows a blank, and an unescaped quote closes it at the end of
// the text or before a blank (the words of WKS and NSEC lists are joined by
// spaces, those of a directive by TABs). Any other quote would split the word where it stands.
bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool opensQuotedWord(std::string_view text, std::size_t at) {
  if (at > 0 && !(isBlank(text[at - 1]) && (at < 2 || text[at - 2] != '\\'))) return false;
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\')
      ++i;
    else if (text[i] == '"')
      return i + 1 == text.size() || isBlank(text[i + 1]);
  }
  return false;
}

// Writes a word as the parser reads it back: control bytes as "\DDD" (an
// escaped one as that escape alone, never a backslash and more), a quote or
// '>' that would end the word or the line escaped, and a last backslash,
// which would escape what follows the word, as "\092".
bool needsCare(u8 c) { return c == '\\' || c == '"' || c == '>' || isControl(c); }

void writeWord(std::ostream& out, std::string_view text, const Escapes& how) {
  // Most words hold nothing to escape: they go out in one piece.
  if (std::none_of(text.begin(), text.end(), [](char c) { return needsCare(static_cast<u8>(c)); })) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  bool escaped = false;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<u8>(text[i]);
    if (escaped) {
      escaped = false;
      if (isControl(c) && !(how.keepTab && c == '\t'))
        writeDigits(out, c);
      else
        out.put(static_cast<char>(c));
      continue;
    }
    if (c == '\\') {
      if (i + 1 == text.size()) {
        out.write("\\092", 4);
      } else {
        out.put('\\');
        escaped = true;
      }
      continue;
    }
    if (isControl(c) && !(how.keepTab && c == '\t')) {
      writeEscape(out, c);
    } else if (c == '"') {
      if (inString || (how.keepStrings && opensQuotedWord(text, i))) {
        inString = !inString;
        out.put('"');
      } else {
        out.write("\\\"", 2);
      }
    } else if (c == '>' && how.disabled && !inString) {
      out.write("\\062", 4);
    } else {
      out.put(static_cast<char>(c));
    }
  }
}

// A comment is read back as the rest of its line, escapes and all: only what
// would end the line (and NUL, which the parser refuses outside comments and
// quotes) is written as "\DDD".
void writeNote(std::ostream& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<u8>(text[i]);
    if (c != '\n' && c != '\r' && c != 0) continue;
    out.write(text.data() + run, static_cast<std::streamsize>(i - run));
    writeEscape(out, c);
    run = i + 1;
  }
  out.write(text.data() + run, static_cast<std::streamsize>(text.size() - run));
}

// TXT and HINFO: each TAB-separated string in double quotes. A quote is
// escaped unless an odd run of backslashes already escapes it; a backslash
// that would escape the closing quote is written as "\092"; an escaped
// control byte is that byte's "\DDD" alone.
void writeQuotedStrings(std::ostream& out, std::string_view text) {
  out.put('"');
  std::size_t backslashes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<u8>(text[i]);
    const bool boundary = i + 1 == text.size() || text[i + 1] == '\t';
    if (c == '\\') {
      ++backslashes;
      if (boundary && backslashes % 2 == 1) {
        out.write("\\092", 4);
        backslashes = 0;
      } else {
        out.put('\\');
      }
      continue;
    }
    if (c == '\t') {
      // A TAB after a lone backslash is an escaped TAB inside the string.
      if (backslashes % 2 == 1)
        writeDigits(out, c);
      else
        out.write("\"\t\"", 3);
    } else if (c == '"') {
      if (backslashes % 2 == 0) out.put('\\');
      out.put('"');
    } else if (isControl(c)) {
      if (backslashes % 2 == 1)
        writeDigits(out, c);
      else
        writeEscape(out, c);
    } else {
      out.put(static_cast<char>(c));
    }
    backslashes = 0;
  }
  out.put('"');
}

void writeOwner(std::ostream& out, std::string_view owner, const char* origin,
                const Escapes& how) {
  // An owner at the start of a line that begins with "$" would read as a directive.
  if (!owner.empty() && owner.front() == '$') {
    out.write("\\$", 2);
    owner.remove_prefix(1);
    if (owner.empty()) return;
  }
  if (origin == nullptr) {
    if (owner.empty())
      out.put('@');
    else
      writeWord(out, owner, how);
    return;
  }
  const std::string_view base(origin);
  if (owner.empty()) {
    writeWord(out, base, how);
    return;
  }
  writeWord(out, owner, how);
  if (owner.back() == '.') return;
  if (base.empty() || base.front() != '.') out.put('.');
  writeWord(out, base, how);
}

// A disabled line closes its marker before the comment; a live one gives the
// comment its own field.
void writeEnding(std::ostream& out, std::string_view note, bool enabled, char separator) {
  if (!enabled) {
    out.put('>');
    writeNote(out, note);
  } else if (!note.empty()) {
    out.put(separator);
    out.put(';');
    writeNote(out, note);
  }
}

// The rdata field by field: name fields as names, NAPTR's flags, services
// and regular expression as quoted strings (escaped like TXT), the others as
// words that keep their quoted strings.
void writeFields(std::ostream& out, u32 type, std::string_view data, const char* origin,
                 bool disabled) {
  const Escapes name{false, disabled, false};
  const Escapes other{true, disabled, false};
  u32 index = 0;
  for (std::size_t start = 0;; ++index) {
    const std::size_t end = data.find('\t', start);
    std::string_view field =
        data.substr(start, end == std::string_view::npos ? data.npos : end - start);
    if (index > 0) out.put('\t');
    if (type == zuRRType::kNAPTR && index >= 2 && index <= 4) {
      if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        field = field.substr(1, field.size() - 2);
      writeQuotedStrings(out, field);
    } else if (zuRRTypeIsNameField(type, index)) {
      // Without an origin names stay as stored; an empty one is the origin, "@".
      if (origin != nullptr)
        writeWord(out, zuQualifyName(std::string(field), origin), name);
      else if (field.empty())
        out.put('@');
      else
        writeWord(out, field, name);
    } else if (field.empty() && data.size() > 0) {
      // Between two separators an empty field would vanish; it came from "@"
      // under an empty origin, and reads back the same way.
      out.put('@');
    } else {
      writeWord(out, field, other);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void writeLine(std::ostream& out, std::string_view name, std::string_view ttl, u32 type,
               std::string_view data, std::string_view note, std::string_view aging, bool enabled,
               const char* origin, bool writeIN, char separator) {
  const Escapes word{false, !enabled, false};
  if (type == zuRRType::kTTL) {
    out << "$TTL ";
    if (ttl.empty())
      out << "86400";
    else
      writeWord(out, ttl, word);
    return;
  }
  if (type == zuRRType::kInclude || type == zuRRType::kGenerate) {
    // A disabled directive stays a comment, so that it can never come alive.
    if (!enabled) out << ";<!dis:";
    writeWord(out, data, Escapes{true, false, true});
    writeEnding(out, note, enabled, separator);
    return;
  }
  if (type == zuRRType::kNone && name.empty() && ttl.empty() && data.empty()) {
    out << (enabled ? ";" : ";<!dis:>");
    writeNote(out, note);
    return;
  }
  if (!enabled) out << ";<!dis:";
  writeOwner(out, name, origin, word);
  if (!aging.empty()) {
    out.put(separator);
    out << "[AGE:";
    writeWord(out, aging, word);
    out.put(']');
  }
  out.put(separator);
  writeWord(out, ttl, word);
  if (writeIN) {
    out.put(separator);
    out << "IN";
  }
  out.put(separator);
  out << (type == zuRRType::kNone ? "N/A" : zuRRTypeName(type));
  out.put(separator);
  const u32 format = zuRRTypeFormat(type);
  if (format == zuRRFormat::kText || format == zuRRFormat::kTwoStrings) {
    // An empty text is one empty string: written as nothing it would be no TXT at all.
    writeQuotedStrings(out, data);
  } else {
    writeFields(out, type, data, origin, !enabled);
  }
  writeEnding(out, note, enabled, separator);
}

}  // namespace

void writeZoneLine(std::ostream& out, const char* name, const char* ttl, u32 type,
                   const char* rdata, const char* comment, const char* aging, bool enabled,
                   const char* origin, bool writeIN, char separator) {
  writeLine(out, name, ttl, type, rdata, comment, aging, enabled, origin, writeIN, separator);
}

std::string toString(const char* name, const char* ttl, u32 type, const char* rdata,
                     const char* comment, const char* aging, bool enabled, const char* origin,
                     bool writeIN, char separator) {
  std::ostringstream out;
  writeZoneLine(out, name, ttl, type, rdata, comment, aging, enabled, origin, writeIN, separator);
  return out.str();
}

std::ostream& operator<<(std::ostream& stream, const zuResourceRecord& record) {
  // The fields as stored, NUL bytes included.
  writeLine(stream, record.name(), record.TTL(), record.type(), record.data(), record.comment(),
            record.aging(), record.enabled(), nullptr, true, '\t');
  return stream;
}

namespace {
bool isZoneSOA(const zuResourceRecord& record) {
  return record.type() == zuRRType::kSOA && record.enabled();
}

// A kept "$INCLUDE" whose records took another TTL than the zone's (its TTL
// text, as the parser gives it) is written between two "$TTL" lines, that
// TTL's and then the zone's again.
void writeRecord(std::ostream& stream, const zuResourceRecord& record, const std::string* zoneTTL) {
  const bool ownTTL = zoneTTL != nullptr && record.type() == zuRRType::kInclude &&
                      record.enabled() && !record.TTL().empty() && record.TTL() != *zoneTTL;
  if (ownTTL) {
    writeLine(stream, "", record.TTL(), zuRRType::kTTL, "", "", "", true, nullptr, true, '\t');
    stream.put('\n');
  }
  stream << record << '\n';
  if (ownTTL) {
    writeLine(stream, "", *zoneTTL, zuRRType::kTTL, "", "", "", true, nullptr, true, '\t');
    stream.put('\n');
  }
}
}  // namespace

void zuRecordCollection::writeZone(std::ostream& stream, bool withTTL) const {
  // Without the "$TTL" line the reader's zone TTL is not known here.
  const std::string writtenTTL = zoneTTL().empty() ? std::string("86400") : zoneTTL();
  const std::string* ttl = withTTL ? &writtenTTL : nullptr;
  if (withTTL) {
    writeZoneLine(stream, "", zoneTTL().c_str(), zuRRType::kTTL, "", "", "", true);
    stream.put('\n');
  }
  const u32 total = count(kAnyType, kAnyTag);
  u32 i = 0;
  for (; i < total; ++i) {
    const zuResourceRecord& record = *recordAt(i, kAnyType, kAnyTag);
    if (record.type() >= 1 && record.type() <= 104) break;
    writeRecord(stream, record, ttl);
  }
  if (i < total) {
    // Exactly one live SOA, first: the next record when it is one, else the
    // first live SOA stored. Disabled SOA records are written in their place.
    const zuResourceRecord* soa = zoneSOA();
    if (soa == recordAt(i, kAnyType, kAnyTag)) ++i;
    if (soa != nullptr) stream << *soa << '\n';
    for (; i < total; ++i) {
      const zuResourceRecord& record = *recordAt(i, kAnyType, kAnyTag);
      if (isZoneSOA(record)) continue;
      writeRecord(stream, record, ttl);
    }
  }
  stream.flush();
}
