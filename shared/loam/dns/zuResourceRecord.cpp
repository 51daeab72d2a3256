#include "loam/dns/zuResourceRecord.h"

#include <algorithm>
#include <utility>

#include "loam/base/zuString.h"
#include "loam/dns/zuDNSName.h"
#include "loam/dns/zuRRDataNames.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuTextChecks.h"

namespace {

bool textEqual(const std::string& a, const std::string& b, bool caseSensitive) {
  if (caseSensitive) return a == b;
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return zuCharEqual(x, y, false);
         });
}

// Start and end of field `index` of a TAB-joined text; false when absent.
bool fieldBounds(const std::string& text, u32 index, std::size_t& begin, std::size_t& end) {
  std::size_t pos = 0;
  for (u32 k = 0; k < index; ++k) {
    const auto p = text.find(zuResourceRecord::separator, pos);
    if (p == std::string::npos) return false;
    pos = p + 1;
  }
  begin = pos;
  end = text.find(zuResourceRecord::separator, pos);
  if (end == std::string::npos) end = text.size();
  return true;
}

}  // namespace

zuResourceRecord::zuResourceRecord(zuRecordCollection* collection, const std::string& name,
                                   const std::string& ttl, u32 type, const std::string& rdata,
                                   const std::string& comment, bool enabled)
    : zuResourceRecord(collection, name, ttl, type, rdata, comment, std::string(), enabled) {}

zuResourceRecord::zuResourceRecord(zuRecordCollection* collection, const std::string& name,
                                   const std::string& ttl, u32 type, const std::string& rdata,
                                   const std::string& comment, const std::string& aging,
                                   bool enabled)
    : m_name(name), m_ttl(ttl), m_data(rdata), m_collection(collection), m_type(type),
      m_enabled(enabled) {
  setComment(comment);
  setAging(aging);
  normalizeName();
  normalizeData();
}

zuResourceRecord::zuResourceRecord(const zuResourceRecord& other) { copyFields(other); }

zuResourceRecord::zuResourceRecord(zuResourceRecord&& other) noexcept { moveFields(other); }

zuResourceRecord& zuResourceRecord::operator=(const zuResourceRecord& other) {
  if (this == &other) return *this;
  if (m_collection == nullptr) {
    copyFields(other);
    return *this;
  }
  std::string name;
  std::string rdata;
  namesFrom(other, name, rdata);
  const u32 oldType = m_type;
  copyFields(other);
  m_name = std::move(name);
  m_data = std::move(rdata);
  normalizeName();
  normalizeData();
  if (m_stored && m_type != oldType) m_collection->retyped(*this, oldType);
  return *this;
}

zuResourceRecord& zuResourceRecord::operator=(zuResourceRecord&& other) {
  if (this == &other) return *this;
  // The names may need the other's origin: taken as a copy.
  if (m_collection != nullptr) return *this = static_cast<const zuResourceRecord&>(other);
  moveFields(other);
  return *this;
}

void zuResourceRecord::namesFrom(const zuResourceRecord& other, std::string& name,
                                 std::string& rdata) const {
  const std::string* mine = originOrNull();
  const std::string* theirs = other.originOrNull();
  if (theirs == nullptr || theirs->empty() ||
      (mine != nullptr && zuEqualsNoCase(mine->c_str(), theirs->c_str()))) {
    name = other.m_name;
    rdata = other.m_data;
    return;
  }
  name = other.fullName();
  rdata = other.absoluteData();
}

std::string zuResourceRecord::absoluteData() const {
  if (!zuRRTypeHasNames(m_type)) return m_data;
  std::string rdata = field(0, true);
  for (u32 i = 1, n = fieldCount(); i < n; ++i) rdata += separator + field(i, true);
  return rdata;
}

void zuResourceRecord::setType(u32 type) {
  const u32 oldType = m_type;
  m_type = type;
  if (m_stored && oldType != type) m_collection->retyped(*this, oldType);
}

void zuResourceRecord::copyFields(const zuResourceRecord& other) {
  m_id = other.m_id;
  m_name = other.m_name;
  m_type = other.m_type;
  m_ttl = other.m_ttl;
  m_data = other.m_data;
  m_enabled = other.m_enabled;
  if (!other.m_extras)
    m_extras.reset();
  else if (m_extras)
    *m_extras = *other.m_extras;
  else
    m_extras = std::make_unique<Extras>(*other.m_extras);
}

void zuResourceRecord::moveFields(zuResourceRecord& other) noexcept {
  m_id = other.m_id;
  m_name = std::move(other.m_name);
  m_type = other.m_type;
  m_ttl = std::move(other.m_ttl);
  m_data = std::move(other.m_data);
  m_enabled = other.m_enabled;
  m_extras = std::move(other.m_extras);
}

namespace {
const std::string kNoText;
const zuProperties kNoProperties;
}  // namespace

zuResourceRecord::Extras& zuResourceRecord::extras() {
  if (!m_extras) m_extras = std::make_unique<Extras>();
  return *m_extras;
}

const std::string& zuResourceRecord::comment() const {
  return m_extras ? m_extras->comment : kNoText;
}

const std::string& zuResourceRecord::aging() const { return m_extras ? m_extras->aging : kNoText; }

zuProperties& zuResourceRecord::properties() { return extras().properties; }

const zuProperties& zuResourceRecord::properties() const {
  return m_extras ? m_extras->properties : kNoProperties;
}

void zuResourceRecord::setComment(const std::string& comment) {
  if (m_extras || !comment.empty()) extras().comment = comment;
}

void zuResourceRecord::setAging(const std::string& aging) {
  if (m_extras || !aging.empty()) extras().aging = aging;
}

void zuResourceRecord::shrinkToFit() {
  m_name.shrink_to_fit();
  m_ttl.shrink_to_fit();
  m_data.shrink_to_fit();
}

const std::string* zuResourceRecord::originOrNull() const {
  return m_collection == nullptr ? nullptr : &m_collection->origin();
}

void zuResourceRecord::setName(const std::string& name) {
  m_name = name;
  normalizeName();
}

void zuResourceRecord::setData(const std::string& rdata) {
  m_data = rdata;
  normalizeData();
}

bool zuResourceRecord::normalizeName() {
  const std::string* origin = originOrNull();
  return origin != nullptr && zuStripOrigin(*origin, m_name);
}

bool zuResourceRecord::normalizeData() {
  const std::string* origin = originOrNull();
  return origin != nullptr && zuNormalizeDataNames(*origin, m_type, m_data);
}

std::string zuResourceRecord::fullName() const { return qualify(m_name); }

std::string zuResourceRecord::qualify(const std::string& value) const {
  const std::string* origin = originOrNull();
  // Without an origin there is nothing to qualify against, as in the zone writer.
  if (origin == nullptr || origin->empty()) return value;
  return zuQualifyName(value, *origin);
}

u32 zuResourceRecord::fieldCount() const {
  return static_cast<u32>(std::count(m_data.begin(), m_data.end(), separator)) + 1;
}

std::string zuResourceRecord::field(u32 index, bool qualified) const {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string f;
  if (fieldBounds(m_data, index, begin, end)) f = m_data.substr(begin, end - begin);
  if (qualified && zuRRTypeIsNameField(m_type, index)) f = qualify(f);
  return f;
}

void zuResourceRecord::setField(u32 index, const std::string& value) {
  const u64 count = fieldCount();
  const u64 needed = u64{index} + 1;
  if (count < needed) m_data.append(static_cast<std::size_t>(needed - count), separator);
  std::string v = value;
  const std::string* origin = originOrNull();
  if (origin != nullptr && zuRRTypeIsNameField(m_type, index)) zuStripOrigin(*origin, v);
  std::size_t begin = 0;
  std::size_t end = 0;
  fieldBounds(m_data, index, begin, end);
  m_data.replace(begin, end - begin, v);
}

bool zuResourceRecord::isFieldEmpty(const std::string& text, u32 index) {
  std::size_t begin = 0;
  std::size_t end = 0;
  return !fieldBounds(text, index, begin, end) || begin == end;
}

u32 zuResourceRecord::ttlValue() const {
  u32 seconds = 0xFFFFFFFFu;
  if (!zuParseTimeSpan(m_ttl.data(), static_cast<u32>(m_ttl.size()), seconds)) return 0xFFFFFFFFu;
  return seconds;
}

bool zuResourceRecord::isBlank(bool ignoreComment) const {
  return m_name.empty() && m_ttl.empty() && m_data.empty() && m_type == zuRRType::kNone &&
         (ignoreComment || comment().empty());
}

bool zuResourceRecord::isApexNonAddress() const {
  return m_name.empty() && m_type != zuRRType::kNone && m_type != zuRRType::kA &&
         m_type != zuRRType::kAAAA;
}

bool zuResourceRecord::equals(const zuResourceRecord& other, bool caseSensitive, bool ignoreComment,
                              bool ignoreEnabled) const {
  return textEqual(m_name, other.m_name, caseSensitive) &&
         textEqual(m_ttl, other.m_ttl, caseSensitive) &&
         textEqual(m_data, other.m_data, caseSensitive) && m_type == other.m_type &&
         (ignoreComment || textEqual(comment(), other.comment(), false)) &&
         (ignoreEnabled || m_enabled == other.m_enabled);
}
