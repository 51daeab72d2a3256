#include "loam/dns/zuZoneWriter.h"

#include <sstream>
#include <string_view>

#include "loam/base/zuString.h"
#include "loam/dns/zuRRDataNames.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace {

bool isControl(u8 c) { return c < 32 || c == 127; }

void writeEscape(std::ostream& out, u8 c) {
  const char text[4] = {'\\', static_cast<char>('0' + c / 100),
                        static_cast<char>('0' + (c / 10) % 10), static_cast<char>('0' + c % 10)};
  out.write(text, 4);
}

// Writes the text with control bytes escaped; with keepTab the TAB separators
// of an rdata stay as they are.
void writeSafe(std::ostream& out, std::string_view text, bool keepTab) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<u8>(text[i]);
    if (!isControl(c) || (keepTab && c == '\t')) continue;
    out.write(text.data() + run, static_cast<std::streamsize>(i - run));
    writeEscape(out, c);
    run = i + 1;
  }
  out.write(text.data() + run, static_cast<std::streamsize>(text.size() - run));
}

// TXT and HINFO: each TAB-separated string in double quotes. A quote is
// escaped unless an odd run of backslashes already escapes it; a backslash
// that would escape the closing quote is written as "\092".
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
      out.write("\"\t\"", 3);
    } else if (c == '"') {
      if (backslashes % 2 == 0) out.put('\\');
      out.put('"');
    } else if (isControl(c)) {
      // An escaped control byte would swallow the backslash before it.
      if (backslashes % 2 == 1) out.write("092", 3);
      writeEscape(out, c);
    } else {
      out.put(static_cast<char>(c));
    }
    backslashes = 0;
  }
  out.put('"');
}

void writeOwner(std::ostream& out, const char* name, const char* origin) {
  std::string_view owner(name);
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
      writeSafe(out, owner, false);
    return;
  }
  const std::string_view base(origin);
  if (owner.empty()) {
    writeSafe(out, base, false);
    return;
  }
  writeSafe(out, owner, false);
  if (owner.back() == '.') return;
  if (base.empty() || base.front() != '.') out.put('.');
  writeSafe(out, base, false);
}

// A disabled line closes its marker before the comment; a live one gives the
// comment its own field.
void writeEnding(std::ostream& out, std::string_view note, bool enabled, char separator) {
  if (!enabled) {
    out.put('>');
    writeSafe(out, note, true);
  } else if (!note.empty()) {
    out.put(separator);
    out.put(';');
    writeSafe(out, note, true);
  }
}

// NAPTR: flags, services and regular expression are quoted strings (escaped
// like TXT), the replacement a name.
void writeNAPTR(std::ostream& out, std::string_view data, const char* origin) {
  u32 index = 0;
  for (std::size_t start = 0;; ++index) {
    const std::size_t end = data.find('\t', start);
    std::string_view field =
        data.substr(start, end == std::string_view::npos ? data.npos : end - start);
    if (index > 0) out.put('\t');
    if (index >= 2 && index <= 4) {
      if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        field = field.substr(1, field.size() - 2);
      writeQuotedStrings(out, field);
    } else if (zuRRTypeIsNameField(zuRRType::kNAPTR, index)) {
      const std::string name(field);
      writeSafe(out, origin == nullptr ? (name.empty() ? "@" : name) : zuQualifyName(name, origin),
                false);
    } else {
      writeSafe(out, field, false);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

}  // namespace

void writeZoneLine(std::ostream& out, const char* name, const char* ttl, u32 type,
                   const char* rdata, const char* comment, const char* aging, bool enabled,
                   const char* origin, bool writeIN, char separator) {
  const std::string_view data(rdata);
  const std::string_view note(comment);
  if (type == zuRRType::kTTL) {
    out << "$TTL ";
    if (*ttl == 0)
      out << "86400";
    else
      writeSafe(out, ttl, false);
    return;
  }
  if (type == zuRRType::kInclude || type == zuRRType::kGenerate) {
    // A disabled directive stays a comment, so that it can never come alive.
    if (!enabled) out << ";<!dis:";
    writeSafe(out, data, true);
    writeEnding(out, note, enabled, separator);
    return;
  }
  if (type == zuRRType::kNone && *name == 0 && *ttl == 0 && data.empty()) {
    out << (enabled ? ";" : ";<!dis:>");
    writeSafe(out, note, true);
    return;
  }
  if (!enabled) out << ";<!dis:";
  writeOwner(out, name, origin);
  if (*aging != 0) {
    out.put(separator);
    out << "[AGE:";
    writeSafe(out, aging, false);
    out.put(']');
  }
  out.put(separator);
  writeSafe(out, ttl, false);
  if (writeIN) {
    out.put(separator);
    out << "IN";
  }
  out.put(separator);
  out << (type == zuRRType::kNone ? "N/A" : zuRRTypeName(type));
  out.put(separator);
  const u32 format = zuRRTypeFormat(type);
  if (type == zuRRType::kNAPTR) {
    writeNAPTR(out, data, origin);
  } else if (zuRRTypeHasNames(type)) {
    std::string qualified(data);
    zuQualifyDataNames(origin == nullptr ? "@" : origin, type, qualified);
    writeSafe(out, qualified, true);
  } else if (format == zuRRFormat::kText || format == zuRRFormat::kTwoStrings) {
    // An empty text is one empty string: written as nothing it would be no TXT at all.
    writeQuotedStrings(out, data);
  } else {
    writeSafe(out, data, true);
  }
  writeEnding(out, note, enabled, separator);
}

std::string toString(const char* name, const char* ttl, u32 type, const char* rdata,
                     const char* comment, const char* aging, bool enabled, const char* origin,
                     bool writeIN, char separator) {
  std::ostringstream out;
  writeZoneLine(out, name, ttl, type, rdata, comment, aging, enabled, origin, writeIN, separator);
  return out.str();
}

std::ostream& operator<<(std::ostream& stream, const zuResourceRecord& record) {
  writeZoneLine(stream, record.name().c_str(), record.TTL().c_str(), record.type(),
                record.data().c_str(), record.comment().c_str(), record.aging().c_str(),
                record.enabled());
  return stream;
}

namespace {
bool isZoneSOA(const zuResourceRecord& record) {
  return record.type() == zuRRType::kSOA && record.enabled();
}
}  // namespace

void zuRecordCollection::writeZone(std::ostream& stream, bool withTTL) const {
  if (withTTL) {
    writeZoneLine(stream, "", zoneTTL().c_str(), zuRRType::kTTL, "", "", "", true);
    stream.put('\n');
  }
  const u32 total = count(kAnyType, kAnyTag);
  u32 i = 0;
  for (; i < total; ++i) {
    const zuResourceRecord& record = *recordAt(i, kAnyType, kAnyTag);
    if (record.type() >= 1 && record.type() <= 104) break;
    stream << record << '\n';
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
      stream << record << '\n';
    }
  }
  stream.flush();
}
