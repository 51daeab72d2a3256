#include "loam/base/zuProperties.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <sstream>
#include <streambuf>

#include "loam/base/zuList.h"
#include "loam/base/zuString.h"

namespace {

using Traits = std::char_traits<char>;
constexpr int kEnd = Traits::eof();

bool isBlank(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isNameChar(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '.' || c == '-';
}

// Reads straight from the stream buffer so that looking ahead never changes
// the stream's state bits. Holds one character of its own push-back, handed
// back to the buffer at the end, so the document reader does not depend on
// the buffer's put-back capacity in the middle of a read.
class Scanner {
 public:
  explicit Scanner(std::streambuf& buf) : buf_(buf) {}
  ~Scanner() {
    if (pending_ != kEnd) buf_.sputbackc(Traits::to_char_type(pending_));
  }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  int peek() { return pending_ != kEnd ? pending_ : buf_.sgetc(); }
  int get() {
    if (pending_ != kEnd) {
      int c = pending_;
      pending_ = kEnd;
      return c;
    }
    return buf_.sbumpc();
  }
  // Only the character just taken may be put back, and only one.
  void unget(char c) { pending_ = Traits::to_int_type(c); }

  void skipBlank() {
    while (isBlank(peek())) get();
  }
  bool take(char c) {
    if (peek() != Traits::to_int_type(c)) return false;
    get();
    return true;
  }
  bool takeWord(const char* word) {
    for (; *word; ++word)
      if (!take(*word)) return false;
    return true;
  }
  // Zero or more name characters.
  std::string name() {
    std::string out;
    while (isNameChar(peek())) out.push_back(Traits::to_char_type(get()));
    return out;
  }
  // "<" already taken, "!" next: "<!--", anything, the first "--", then ">".
  bool comment() {
    if (!takeWord("!--")) return false;
    for (;;) {
      int c = get();
      if (c == kEnd) return false;
      if (c == '-' && take('-')) return take('>');
    }
  }
  // "<?" already taken: everything up to and including the next "?>".
  bool declaration() {
    for (;;) {
      int c = get();
      if (c == kEnd) return false;
      if (c == '?' && take('>')) return true;
    }
  }

 private:
  std::streambuf& buf_;
  int pending_ = kEnd;
};

// The entry grammar; stops with success before the first text that is not an
// entry or a comment.
bool readEntries(Scanner& in, zuProperties& props) {
  for (;;) {
    in.skipBlank();
    if (in.peek() != '<') return true;
    in.get();
    int c = in.peek();
    if (c == '!') {
      if (!in.comment()) return false;
      continue;
    }
    if (!isNameChar(c)) {
      in.unget('<');
      return true;
    }
    std::string name = in.name();
    if (in.peek() == kEnd) return false;
    in.skipBlank();
    if (!in.takeWord("value")) return false;
    in.skipBlank();
    if (!in.take('=')) return false;
    in.skipBlank();
    if (!in.take('"')) return false;
    std::string value;
    for (;;) {
      c = in.get();
      if (c == kEnd) return false;
      if (c == '"') break;
      value.push_back(Traits::to_char_type(c));
    }
    in.skipBlank();
    if (!in.takeWord("/>")) return false;
    props.set(name, value);
  }
}

bool readSections(Scanner& in, std::list<zuProperties>& sections) {
  in.skipBlank();
  if (in.peek() == '<') {
    in.get();
    if (in.peek() == '?') {
      in.get();
      if (!in.declaration()) return false;
      in.skipBlank();
    } else {
      in.unget('<');
    }
  }
  for (;;) {
    if (in.peek() != '<') return true;
    in.get();
    if (in.peek() == '!') {
      if (!in.comment()) return false;
      in.skipBlank();
      continue;
    }
    in.skipBlank();
    std::string open = in.name();
    if (open.empty()) return false;
    in.skipBlank();
    if (!in.take('>')) return false;

    // Read in place; a section that fails is taken off again.
    zuProperties& section = sections.emplace_back();
    bool ok = readEntries(in, section) && in.take('<');
    while (ok && in.peek() == '!') ok = in.comment() && in.take('<');
    std::string close;
    if (ok) {
      ok = in.take('/');
      if (ok) close = in.name();
      if (ok) in.skipBlank();
      ok = ok && in.take('>') && zuStrCompare(open.c_str(), close.c_str(), false) == 0;
    }
    if (!ok) {
      sections.pop_back();
      return false;
    }
    section.name() = open;
    in.skipBlank();
  }
}

// A number only when the whole value is decimal text; the conversion reads
// up to a NUL, which must not let "1\0x" pass as 1.
bool valueToInt(const std::string& value, i32& out) {
  if (value.find('\0') != std::string::npos) return false;
  i32 n = 0;
  if (!zuStrToInt32(value.c_str(), n)) return false;
  out = n;
  return true;
}

bool valueToUInt(const std::string& value, u32& out) {
  if (value.find('\0') != std::string::npos) return false;
  u32 n = 0;
  if (!zuStrToUInt32(value.c_str(), n)) return false;
  out = n;
  return true;
}

}  // namespace

zuProperties::zuProperties(const std::string& tabList) { fromTabList(tabList); }

zuProperties::zuProperties(const zuProperties& other)
    : entries_(other.entries_),
      order_(other.order_),
      name_(other.name_),
      modified_(other.modified_) {}

zuProperties& zuProperties::operator=(const zuProperties& other) {
  assign(other);
  return *this;
}

zuProperties::~zuProperties() = default;

void zuProperties::assign(const zuProperties& other) {
  if (&other == this) return;
  // Built aside first so a failed allocation leaves this object as it was.
  zuProperties copy(other);
  *this = std::move(copy);
}

void zuProperties::clear() {
  entries_.clear();
  order_.clear();
  modified_ = true;
}

bool zuProperties::getAt(u32 index, std::string& name, std::string& value) const {
  if (index >= order_.size()) return false;
  const std::string& key = order_[index];
  name = key;
  value = entries_.find(key)->second;
  return true;
}

void zuProperties::addAll(const zuProperties& other) {
  if (&other == this) return;
  for (const std::string& key : other.order_) set(key, other.entries_.find(key)->second);
}

const std::string* zuProperties::find(const std::string& lowerName) const {
  auto it = entries_.find(lowerName);
  return it == entries_.end() ? nullptr : &it->second;
}

bool zuProperties::set(const std::string& name, const std::string& value) {
  std::string key = zuToLowerCopy(name);
  auto it = entries_.lower_bound(key);
  if (it != entries_.end() && it->first == key) {
    if (it->second != value) {
      it->second = value;
      modified_ = true;
    }
    return true;
  }
  order_.push_back(key);
  try {
    entries_.emplace_hint(it, std::move(key), value);
  } catch (...) {
    order_.pop_back();
    throw;
  }
  modified_ = true;
  return true;
}

bool zuProperties::get(const std::string& name, std::string& value) const {
  const std::string* v = find(zuToLowerCopy(name));
  if (!v) return false;
  value = *v;
  return true;
}

std::string zuProperties::getString(const std::string& name, const std::string& def) const {
  const std::string* v = find(zuToLowerCopy(name));
  return v ? *v : def;
}

const std::string& zuProperties::valueRef(const std::string& name) const {
  static const std::string empty;
  const std::string* v = find(zuToLowerCopy(name));
  return v ? *v : empty;
}

bool zuProperties::exists(const std::string& name) const {
  return find(zuToLowerCopy(name)) != nullptr;
}

void zuProperties::remove(const std::string& name) {
  auto it = entries_.find(zuToLowerCopy(name));
  if (it == entries_.end()) return;
  order_.erase(std::find(order_.begin(), order_.end(), it->first));
  entries_.erase(it);
  modified_ = true;
}

bool zuProperties::getInt(const std::string& name, i32& out) const {
  const std::string* v = find(zuToLowerCopy(name));
  return v && valueToInt(*v, out);
}

bool zuProperties::getUInt(const std::string& name, u32& out) const {
  const std::string* v = find(zuToLowerCopy(name));
  return v && valueToUInt(*v, out);
}

i32 zuProperties::getIntInRange(const std::string& name, i32 def, i32 min, i32 max) const {
  i32 n = 0;
  if (!getInt(name, n)) return def;
  if (n < min) return min;
  if (n > max) return max;
  return n;
}

u32 zuProperties::getUIntInRange(const std::string& name, u32 def, u32 min, u32 max) const {
  u32 n = 0;
  if (!getUInt(name, n)) return def;
  if (n < min) return min;
  if (n > max) return max;
  return n;
}

bool zuProperties::findBool(const std::string& name, bool& out) const {
  i32 n = 0;
  if (!getInt(name, n)) return false;
  out = n != 0;
  return true;
}

bool zuProperties::getBool(const std::string& name) const {
  bool flag = true;
  return findBool(name, flag) ? flag : true;
}

bool zuProperties::getBoolValue(const std::string& name, bool& out) const {
  const std::string* v = find(zuToLowerCopy(name));
  if (!v) return false;
  std::string lower = zuToLowerCopy(*v);
  if (lower == "yes" || lower == "true") {
    out = true;
  } else {
    i32 n = 0;
    out = valueToInt(*v, n) && n != 0;
  }
  return true;
}

bool zuProperties::getBoolValueOr(const std::string& name, bool def) const {
  bool flag = def;
  return getBoolValue(name, flag) ? flag : def;
}

void zuProperties::setInt(const std::string& name, i32 value) { set(name, zuIntToString(value)); }

void zuProperties::setUInt(const std::string& name, u32 value) { set(name, zuUIntToString(value)); }

void zuProperties::setBool(const std::string& name, bool value) { set(name, value ? "yes" : "no"); }

bool zuProperties::getStringList(const std::string& name, std::list<std::string>& out,
                                 char sep) const {
  const std::string* v = find(zuToLowerCopy(name));
  if (!v) return false;
  zuSplitList(*v, out, sep);
  return true;
}

bool zuProperties::getStringVector(const std::string& name, std::vector<std::string>& out,
                                   char sep) const {
  const std::string* v = find(zuToLowerCopy(name));
  if (!v) return false;
  zuSplit(*v, out, sep);
  return true;
}

void zuProperties::setStringList(const std::string& name, const std::list<std::string>& items,
                                 char sep) {
  set(name, zuJoinList(items, sep));
}

void zuProperties::setStringVector(const std::string& name, const std::vector<std::string>& items,
                                   char sep) {
  set(name, zuJoin(items, sep));
}

bool zuProperties::getSection(const std::string& section, zuProperties& out) const {
  if (&out == this) {
    // Clearing out would empty the source before it is walked.
    zuProperties part;
    getSection(section, part);
    out = std::move(part);
    return out.count() != 0;
  }
  out.clear();
  out.name_ = section;
  const std::string prefix = zuToLowerCopy(section) + ":";
  for (auto it = entries_.lower_bound(prefix);
       it != entries_.end() && zuStartsWithNoCaseStr(it->first, prefix); ++it)
    out.set(it->first.substr(prefix.size()), it->second);
  return out.count() != 0;
}

void zuProperties::setSection(const zuProperties& section) {
  if (&section == this) {
    // Walking our own order while removing and adding entries would read
    // entries already gone and a vector that is being grown.
    const zuProperties source(section);
    setSection(source);
    return;
  }
  const std::string prefix = zuToLowerCopy(section.name_) + ":";
  removeSection(section.name_);
  for (const std::string& key : section.order_)
    set(prefix + key, section.entries_.find(key)->second);
}

void zuProperties::removeSection(const std::string& section) {
  const std::string prefix = zuToLowerCopy(section) + ":";
  auto first = entries_.lower_bound(prefix);
  auto last = first;
  while (last != entries_.end() && zuStartsWithNoCaseStr(last->first, prefix)) ++last;
  if (first != last) {
    order_.erase(
        std::remove_if(order_.begin(), order_.end(),
                       [&](const std::string& key) { return zuStartsWithNoCaseStr(key, prefix); }),
        order_.end());
    entries_.erase(first, last);
  }
  modified_ = true;
}

bool zuProperties::readXml(std::istream& in) {
  modified_ = false;
  std::streambuf* buf = in.rdbuf();
  if (!buf || in.fail()) return false;
  Scanner scanner(*buf);
  return readEntries(scanner, *this);
}

bool zuProperties::isWritableName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(),
                                      [](char c) { return isNameChar(Traits::to_int_type(c)); });
}

bool zuProperties::canWriteEntries() const {
  return std::all_of(entries_.begin(), entries_.end(), [](const Entry& e) {
    return isWritableName(e.first) && e.second.find('"') == std::string::npos;
  });
}

void zuProperties::writeEntriesUnchecked(std::ostream& out, bool lineEnds) const {
  for (const std::string& key : order_) {
    out << '<' << key << " value=\"" << entries_.find(key)->second << "\"/>";
    if (lineEnds) out << std::endl;
  }
}

bool zuProperties::writeEntries(std::ostream& out, bool lineEnds) const {
  // The text form has no escapes: an entry that would not read back would
  // also end the read there and lose every entry after it.
  if (!canWriteEntries()) return false;
  writeEntriesUnchecked(out, lineEnds);
  return out.good();
}

bool zuProperties::fromString(const std::string& text) {
  std::istringstream in(text.substr(0, text.find('\0')));
  return readXml(in);
}

bool zuProperties::toString(std::string& out, bool lineEnds) const {
  std::ostringstream text;
  if (!writeEntries(text, lineEnds)) return false;
  out = text.str();
  return true;
}

void zuProperties::fromTabList(const std::string& text) {
  clear();
  std::vector<std::string> pieces;
  zuSplit(text, pieces, '\t');
  for (std::size_t i = 0; i < pieces.size(); i += 2)
    set(pieces[i], i + 1 < pieces.size() ? pieces[i + 1] : std::string());
}

bool zuProperties::writeDocument(std::ostream& out, const std::list<zuProperties>& sections,
                                 bool lineEnds) {
  for (const zuProperties& s : sections)
    if (!isWritableName(s.name_) || !s.canWriteEntries()) return false;
  out << "<?xml version='1.0'?>";
  if (lineEnds) out << std::endl;
  for (const zuProperties& s : sections) {
    out << '<' << s.name_ << '>';
    if (lineEnds) out << std::endl;
    s.writeEntriesUnchecked(out, lineEnds);
    out << "</" << s.name_ << '>';
    if (lineEnds) out << std::endl;
  }
  return out.good();
}

bool zuProperties::readDocument(std::istream& in, std::list<zuProperties>& sections) {
  std::streambuf* buf = in.rdbuf();
  if (!buf || in.fail()) return false;
  Scanner scanner(*buf);
  return readSections(scanner, sections);
}

bool zuProperties::keyLessNoCase(const Entry& a, const Entry& b) {
  return zuStrCompare(a.first.c_str(), b.first.c_str(), false) < 0;
}
