#include "loam/dns/zuRecordCollection.h"

#include <algorithm>
#include <iterator>

#include "loam/base/zuString.h"
#include "loam/dns/zuDNSName.h"
#include "loam/dns/zuRRDataNames.h"
#include "loam/dns/zuRRType.h"

namespace {

i32 keyOf(u32 type) { return static_cast<i32>(type); }

}  // namespace

zuRecordCollection::zuRecordCollection(const char* origin)
    : zuRecordCollection(std::string(origin ? origin : "")) {}

zuRecordCollection::zuRecordCollection(const std::string& origin) : origin_(origin) {
  ttlRecord_.setType(zuRRType::kTTL);
}

zuRecordCollection::zuRecordCollection(const zuRecordCollection& other)
    : origin_(other.origin_), properties_(other.properties_), ttlRecord_(other.ttlRecord_) {
  for (const Position& p : other.output_) insert(p->second.record(), p->second.tag);
}

zuRecordCollection& zuRecordCollection::operator=(const zuRecordCollection& other) {
  if (this == &other) return *this;
  clear();
  origin_ = other.origin_;
  ttlRecord_.copyFields(other.ttlRecord_);
  merge(other);
  return *this;
}

zuRecordCollection::~zuRecordCollection() = default;

zuRecordCollection::Position zuRecordCollection::insert(const zuResourceRecord& record, u32 tag) {
  // multimap inserts after the entries with an equal key: store order within
  // a type is insertion order. A zone adds runs of one type: the entry after
  // the last one added is where the next of its type goes, found once per run.
  const i32 key = keyOf(record.type());
  const bool hinted =
      nextKnown_ && nextKey_ == key && (next_ == store_.end() || next_->first > key);
  // A hint is only a guess: the tree checks it and otherwise searches.
  const Position p = store_.emplace_hint(hinted ? next_ : store_.end(), key, Entry(record, tag));
  if (!hinted) {
    next_ = std::next(p);
    nextKey_ = key;
    nextKnown_ = true;
  }
  p->second.record().setCollection(this);
  p->second.record().setStored();
  output_.push_back(p);
  changed(record.type());
  return p;
}

zuResourceRecord* zuRecordCollection::add(const zuResourceRecord& record, u32 tag) {
  if (record.type() == zuRRType::kTTL) {
    setTTLRecord(record);
    return nullptr;
  }
  zuResourceRecord& stored = insert(record, tag)->second.record();
  if (!origin_.empty()) {
    stored.normalizeName();
    stored.normalizeData();
  }
  // A large zone is mostly short names and rdata once the origin is gone.
  stored.shrinkToFit();
  return &stored;
}

zuResourceRecord* zuRecordCollection::addRecord(const std::string& name, const std::string& ttl,
                                                u32 type, const std::string& rdata,
                                                const std::string& comment,
                                                const std::string& aging, bool enabled) {
  // add makes the names relative, as a record built for this collection would be.
  return add(zuResourceRecord(nullptr, name, ttl, type, rdata, comment, aging, enabled), 1);
}

zuResourceRecord* zuRecordCollection::addRecord(const std::string& name, const std::string& ttl,
                                                u32 type, const std::string& rdata,
                                                const std::string& comment, bool enabled, u32 tag) {
  return add(zuResourceRecord(nullptr, name, ttl, type, rdata, comment, enabled), tag);
}

void zuRecordCollection::remove(const zuResourceRecord* record) {
  const auto it = std::find_if(output_.begin(), output_.end(),
                               [record](const Position& p) { return &p->second.record() == record; });
  if (it == output_.end()) return;
  const Position p = *it;
  const u32 type = static_cast<u32>(p->first);
  output_.erase(it);
  nextKnown_ = false;
  store_.erase(p);
  changed(type);
}

void zuRecordCollection::removeAll(const char* name, u32 type) {
  const auto matches = [name, type](const Store::value_type& e) {
    return (type == kAnyType || e.first == keyOf(type)) &&
           (name == nullptr || e.second.record().name() == name);
  };
  output_.erase(std::remove_if(output_.begin(), output_.end(),
                               [&matches](const Position& p) { return matches(*p); }),
                output_.end());
  nextKnown_ = false;
  std::erase_if(store_, matches);
  if (type == kAnyType)
    clearAllCounts();
  else
    changed(type);
  cursor_.valid = false;
}

void zuRecordCollection::clear() {
  nextKnown_ = false;
  store_.clear();
  output_.clear();
  cursor_.valid = false;
  clearAllCounts();
  properties_.clear();
}

bool zuRecordCollection::contains(const zuResourceRecord* record) const {
  return std::any_of(store_.begin(), store_.end(),
                     [record](const Store::value_type& e) { return &e.second.record() == record; });
}

void zuRecordCollection::clearCounts(u32 type) const {
  for (auto& counts : counts_) counts.erase(keyOf(type));
}

void zuRecordCollection::clearAllCounts() const {
  for (auto& counts : counts_) counts.clear();
}

void zuRecordCollection::changed(u32 type) const {
  cursor_.valid = false;
  clearCounts(type);
  clearCounts(kAnyType);
}

u32 zuRecordCollection::countUncached(u32 type, u32 tag) const {
  auto first = store_.begin();
  auto last = store_.end();
  if (type != kAnyType) std::tie(first, last) = store_.equal_range(keyOf(type));
  return static_cast<u32>(std::count_if(first, last, [tag](const Store::value_type& e) {
    return tag == kAnyTag || e.second.tag == tag;
  }));
}

u32 zuRecordCollection::count(u32 type, u32 tag) const {
  if (type == kAnyType && tag == kAnyTag) return static_cast<u32>(store_.size());
  // Only tags 0 to 3 have a cache; other tags are counted each time.
  if (tag >= kCachedTags) return countUncached(type, tag);
  u32& cached = counts_[tag][keyOf(type)];
  if (cached == 0) cached = countUncached(type, tag) + 1;
  return cached - 1;
}

const zuRecordCollection::Entry* zuRecordCollection::entryAt(u32 index, u32 type, u32 tag) const {
  if (type == kAnyType && tag == kAnyTag)
    return index < output_.size() ? &output_[index]->second : nullptr;
  auto it = store_.begin();
  auto last = store_.end();
  if (type != kAnyType) std::tie(it, last) = store_.equal_range(keyOf(type));
  u32 counter = 0;
  if (cursor_.valid && cursor_.type == type && cursor_.tag == tag && index != 0 &&
      index >= cursor_.index) {
    it = cursor_.position;
    counter = cursor_.index;
  }
  for (; it != last; ++it) {
    if (tag != kAnyTag && it->second.tag != tag) continue;
    if (counter == index) {
      cursor_ = Cursor{true, it, index, type, tag};
      return &it->second;
    }
    ++counter;
  }
  return nullptr;
}

zuResourceRecord* zuRecordCollection::recordAt(u32 index, u32 type, u32 tag) {
  const Entry* e = entryAt(index, type, tag);
  return e ? const_cast<zuResourceRecord*>(&e->record()) : nullptr;
}

const zuResourceRecord* zuRecordCollection::recordAt(u32 index, u32 type, u32 tag) const {
  const Entry* e = entryAt(index, type, tag);
  return e ? &e->record() : nullptr;
}

zuResourceRecord* zuRecordCollection::replaceAt(u32 index, const zuResourceRecord& record) {
  if (index >= output_.size()) return nullptr;
  zuResourceRecord* target = &output_[index]->second.record();
  // Taken before anything changes: the source may be the target itself.
  std::string name;
  std::string rdata;
  target->namesFrom(record, name, rdata);
  const zuResourceRecord source(record);
  // The type first, so that the rdata names are made relative by the new
  // type's layout.
  changeType(target, source.type());
  target->setId(source.id());
  target->setName(name);
  target->setTTL(source.TTL());
  target->setData(rdata);
  target->setComment(source.comment());
  target->setEnabled(source.enabled());
  target->properties() = source.properties();
  return target;
}

std::vector<zuRecordCollection::Position>::iterator zuRecordCollection::slotOf(
    const zuResourceRecord* record) {
  return std::find_if(output_.begin(), output_.end(),
                      [record](const Position& p) { return &p->second.record() == record; });
}

zuResourceRecord* zuRecordCollection::changeType(zuResourceRecord* record, u32 type) {
  if (record == nullptr || record->type() == type) return record;
  const auto slot = slotOf(record);
  if (slot == output_.end()) return record;
  const u32 oldType = record->type();
  record->m_type = type;
  rekey(slot, oldType);
  return record;
}

void zuRecordCollection::retyped(const zuResourceRecord& record, u32 oldType) {
  const auto slot = slotOf(&record);
  if (slot != output_.end()) rekey(slot, oldType);
}

void zuRecordCollection::rekey(std::vector<Position>::iterator slot, u32 oldType) {
  // The node itself moves to the new key, after the entries already there:
  // the record keeps its address, so pointers to it stay valid.
  auto node = store_.extract(*slot);
  const u32 type = node.mapped().record().type();
  node.key() = keyOf(type);
  *slot = store_.insert(std::move(node));
  nextKnown_ = false;
  clearCounts(oldType);
  changed(type);
}

void zuRecordCollection::move(u32 from, u32 to) {
  const u32 size = static_cast<u32>(output_.size());
  if (from == to || from >= size) return;
  if (to > size) to = size;
  if (from < to) --to;
  const Position p = output_[from];
  output_.erase(output_.begin() + from);
  output_.insert(output_.begin() + to, p);
  cursor_.valid = false;
}

bool zuRecordCollection::find(const std::string& name, u32 type, const std::string& rdata,
                              u32 tag) const {
  const u32 n = count(type, tag);
  for (u32 i = 0; i < n; ++i) {
    const zuResourceRecord* r = recordAt(i, type, tag);
    if (r && zuEqualsNoCase(r->name().c_str(), name.c_str()) &&
        zuEqualsNoCase(r->data().c_str(), rdata.c_str()))
      return true;
  }
  return false;
}

u32 zuRecordCollection::indexOf(const zuResourceRecord* record, u32 tag) const {
  u32 before = 0;
  for (const Position& p : output_) {
    if (&p->second.record() == record) return before;
    if (tag == kAnyTag || p->second.tag == tag) ++before;
  }
  return 0;
}

zuResourceRecord* zuRecordCollection::findById(u32 id) {
  for (auto& [type, e] : store_)
    if (e.record().id() == id) return &e.record();
  return nullptr;
}

zuResourceRecord* zuRecordCollection::findIf(Predicate predicate, void* context) {
  if (predicate == nullptr) return nullptr;
  for (const Position& p : output_)
    if (predicate(p->second.record(), p->second.tag, context)) return &p->second.record();
  return nullptr;
}

u32 zuRecordCollection::select(zuRecordCollection* destination, const char* name, u32 type,
                               u32 tag) {
  // Clearing the destination would empty the walk.
  if (destination == this) return 0;
  if (destination) destination->clear();
  std::string relative;
  if (name) {
    relative = name;
    zuStripOrigin(origin_, relative);
  }
  auto it = store_.begin();
  auto last = store_.end();
  if (type != kAnyType) std::tie(it, last) = store_.equal_range(keyOf(type));
  u32 counter = 0;
  for (; it != last; ++it) {
    const Entry& e = it->second;
    if (name && !zuEqualsNoCase(e.record().name().c_str(), relative.c_str())) continue;
    if (tag != kAnyTag && e.tag != tag) continue;
    ++counter;
    if (destination) {
      const zuResourceRecord& r = e.record();
      destination->add(zuResourceRecord(nullptr, r.fullName(), r.TTL(), r.type(), r.data(),
                                        r.comment(), r.enabled()),
                       e.tag);
    }
  }
  return counter;
}

void zuRecordCollection::setOrigin(const std::string& origin, bool renormalise) {
  origin_ = origin;
  if (!renormalise) return;
  for (const Position& p : output_) {
    p->second.record().normalizeName();
    p->second.record().normalizeData();
  }
}

void zuRecordCollection::setOrigin(const char* origin, bool renormalise) {
  setOrigin(std::string(origin ? origin : ""), renormalise);
}

void zuRecordCollection::setTTLRecord(const zuResourceRecord& record) {
  // Field by field: an assignment would take its names across origins.
  ttlRecord_.copyFields(record);
  ttlRecord_.setCollection(record.collection());
}

void zuRecordCollection::setZoneTTL(const std::string& ttl) { ttlRecord_.setTTL(ttl); }

const std::string& zuRecordCollection::zoneTTL() const { return ttlRecord_.TTL(); }

const zuResourceRecord* zuRecordCollection::zoneSOA() const {
  const auto live = [](const zuResourceRecord& r) {
    return r.type() == zuRRType::kSOA && r.enabled();
  };
  // Comment lines, kept directives and the types above 104 lead the zone.
  const auto first = std::find_if(output_.begin(), output_.end(), [](const Position& p) {
    return p->first >= 1 && p->first <= 104;
  });
  if (first == output_.end()) return nullptr;
  if (live((*first)->second.record())) return &(*first)->second.record();
  const auto [begin, end] = store_.equal_range(keyOf(zuRRType::kSOA));
  for (auto it = begin; it != end; ++it)
    if (live(it->second.record())) return &it->second.record();
  return nullptr;
}

u32 zuRecordCollection::incrementSerial() {
  zuResourceRecord* soa = const_cast<zuResourceRecord*>(zoneSOA());
  if (soa == nullptr) return 0;
  constexpr u32 kSerialField = 2;
  const u32 next = zuNextSerial(zuStrToUInt32Or(soa->field(kSerialField).c_str(), 0));
  soa->setField(kSerialField, zuUIntToString(next));
  return next;
}

void zuRecordCollection::merge(const zuRecordCollection& other) {
  if (&other == this) return;
  if (zuEqualsNoCase(origin_.c_str(), other.origin_.c_str())) {
    // Already relative to this origin: stored as they are.
    for (const Position& p : other.output_) insert(p->second.record(), p->second.tag);
  } else {
    for (const Position& p : other.output_) {
      const zuResourceRecord& r = p->second.record();
      add(zuResourceRecord(nullptr, r.fullName(), r.TTL(), r.type(), r.absoluteData(), r.comment(),
                           r.enabled()),
          p->second.tag);
    }
  }
  properties_.addAll(other.properties_);
}
