#pragma once
// The content of one zone: origin, records, the "$TTL" record and the zone's
// properties. Records are stored once in a multimap by type (for lookups by
// type) and referenced from an output order (the order of adding, sorting
// and moving, in which the zone is written). Every record carries a small
// tag chosen by the caller; queries take type 255 for any type and tag 0 for
// any tag. Stored names are kept relative to the origin.
//
// Not locked: one thread at a time. A pointer returned by add, recordAt or
// changeType stays valid until that record is removed, or the collection
// cleared or destroyed; a change of its type (changeType, setType, assigning
// or reading into it) files it anew under the same address. The cursor and the cached counts are
// accelerators only; every change drops or clears what it affects.
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "loam/base/zuProperties.h"
#include "loam/dns/zuNodePool.h"
#include "loam/dns/zuResourceRecord.h"
#include "loam/platform/zuTypes.h"

class zuRecordCollection {
 public:
  // Query wildcards.
  static constexpr u32 kAnyType = 255;
  static constexpr u32 kAnyTag = 0;
  // Sort keys.
  static constexpr u32 kSortByName = 0;
  static constexpr u32 kSortByType = 1;

  // Decides findIf: record, its tag, the caller's context.
  using Predicate = bool (*)(const zuResourceRecord& record, u32 tag, void* context);

  // Null means an empty origin.
  explicit zuRecordCollection(const char* origin = nullptr);
  explicit zuRecordCollection(const std::string& origin);
  // Origin, properties and TTL record, then every record in the other's
  // output order with its tag.
  zuRecordCollection(const zuRecordCollection& other);
  zuRecordCollection& operator=(const zuRecordCollection& other);
  virtual ~zuRecordCollection();

  // A copy of the record, stored after the others of its type and appended
  // to the output order, its names made relative to the origin. A record of
  // type 300 becomes the TTL record instead, and the result is null.
  zuResourceRecord* add(const zuResourceRecord& record, u32 tag);
  // Builds a record of this collection and adds it with tag 1.
  zuResourceRecord* addRecord(const std::string& name, const std::string& ttl, u32 type,
                              const std::string& rdata, const std::string& comment,
                              const std::string& aging, bool enabled);
  // A text literal as aging would otherwise pick the tagged form below.
  zuResourceRecord* addRecord(const std::string& name, const std::string& ttl, u32 type,
                              const std::string& rdata, const std::string& comment,
                              const char* aging, bool enabled) {
    return addRecord(name, ttl, type, rdata, comment, std::string(aging ? aging : ""), enabled);
  }
  zuResourceRecord* addRecord(const std::string& name, const std::string& ttl, u32 type,
                              const std::string& rdata, const std::string& comment, bool enabled,
                              u32 tag);

  // By identity; a record not stored here is ignored.
  void remove(const zuResourceRecord* record);
  // Every record of the type (255: all) whose owner name equals name exactly;
  // a null name matches every owner.
  void removeAll(const char* name, u32 type);
  // Records, output order, cursor, counts and properties; the origin and the
  // TTL record stay.
  void clear();

  // By identity; the pointer is compared, never followed.
  bool contains(const zuResourceRecord* record) const;
  u32 count(u32 type, u32 tag) const;
  // The index-th record of the type and tag: in output order for any type
  // and any tag, else in store order. Null past the end. Sequential walks
  // over one type and tag resume at the cursor.
  zuResourceRecord* recordAt(u32 index, u32 type, u32 tag);
  const zuResourceRecord* recordAt(u32 index, u32 type, u32 tag) const;
  // The index-th record in output order takes the other's id, name, TTL,
  // rdata, comment, enabled flag, properties and type; its aging and tag
  // stay. Names relative to another origin are taken as absolute ones.
  // Returns it; null past the end.
  zuResourceRecord* replaceAt(u32 index, const zuResourceRecord& record);
  // Files the record under the new type, keeping its place in the output
  // order and its address; returns it (unchanged when it is not stored here).
  zuResourceRecord* changeType(zuResourceRecord* record, u32 type);
  // The entry at output index from ends before the entry that stood at to.
  void move(u32 from, u32 to);

  // Owner name and rdata compared ASCII case-insensitively.
  bool find(const std::string& name, u32 type, const std::string& rdata, u32 tag) const;
  // Output-order entries before the record (those with the tag, unless tag is
  // 0); 0 when the record is not stored here.
  u32 indexOf(const zuResourceRecord* record, u32 tag) const;
  // First in store order.
  zuResourceRecord* findById(u32 id);
  // First in output order.
  zuResourceRecord* findIf(Predicate predicate, void* context);

  // Counts the records of the type and tag whose owner name is name (any
  // owner when null; compared case-insensitively after the origin is
  // stripped from it), and, when destination is given, clears it and adds
  // to it a copy of each with its name made absolute. Selecting into this
  // collection itself is refused: 0, nothing changed.
  u32 select(zuRecordCollection* destination, const char* name, u32 type, u32 tag);

  // With renormalise, every record is normalised against the new origin;
  // names relative to the old origin are not made absolute first.
  void setOrigin(const std::string& origin, bool renormalise);
  void setOrigin(const char* origin, bool renormalise);
  const std::string& origin() const { return origin_; }
  zuProperties& properties() { return properties_; }
  const zuProperties& properties() const { return properties_; }

  // The TTL record takes every field of the record, its collection included.
  void setTTLRecord(const zuResourceRecord& record);
  const zuResourceRecord& ttlRecord() const { return ttlRecord_; }
  void setZoneTTL(const std::string& ttl);
  const std::string& zoneTTL() const;

  // Advances the serial of the zone's SOA, the live one writeZone writes, and
  // returns it; 0, nothing changed, without a live SOA record.
  u32 incrementSerial();

  // Adds every record of the other collection with its tag; across different
  // origins each record's names are made absolute first, so they arrive
  // relative to this origin. Properties are added too. Merging a collection
  // into itself does nothing.
  void merge(const zuRecordCollection& other);

  // Key 0 by name, 1 by type; rearranges the output order only. Within each
  // tag SOA records come first and nameless comment records last.
  void sort(u32 key, bool descending);

  // Writes the zone text; defined with the zone writer.
  void writeZone(std::ostream& stream, bool withTTL) const;

 private:
  friend class zuResourceRecord;
  // A stored record and its tag. Derived rather than a member, so that the
  // tag sits in the record's tail padding.
  struct Entry : zuResourceRecord {
    Entry(const zuResourceRecord& r, u32 t) : zuResourceRecord(r), tag(t) {}
    zuResourceRecord& record() { return *this; }
    const zuResourceRecord& record() const { return *this; }
    u32 tag;
  };
  using Store = std::multimap<i32, Entry, std::less<i32>,
                              zuNodePoolAllocator<std::pair<const i32, Entry>>>;
  using Position = Store::iterator;

  struct Cursor {
    bool valid = false;
    Store::const_iterator position;
    u32 index = 0;
    u32 type = 0;
    u32 tag = 0;
  };

  static constexpr u32 kCachedTags = 4;

  Position insert(const zuResourceRecord& record, u32 tag);
  std::vector<Position>::iterator slotOf(const zuResourceRecord* record);
  // A stored record's type became another: its entry moves to the new key.
  void retyped(const zuResourceRecord& record, u32 oldType);
  void rekey(std::vector<Position>::iterator slot, u32 oldType);
  // The SOA the zone is written with: the first record after the leading
  // comment and directive lines when it is a live SOA, else the first live SOA
  // stored; null when there is none.
  const zuResourceRecord* zoneSOA() const;
  const Entry* entryAt(u32 index, u32 type, u32 tag) const;
  void clearCounts(u32 type) const;
  void clearAllCounts() const;
  void changed(u32 type) const;
  u32 countUncached(u32 type, u32 tag) const;

  std::string origin_;
  // Holds the store's nodes; declared first, so that it goes last.
  zuNodePool pool_;
  Store store_{Store::allocator_type(&pool_)};
  // The entry after the one added last (of type nextKey_): where the next add
  // of that type goes. Dropped by every erase.
  Position next_ = store_.end();
  i32 nextKey_ = 0;
  bool nextKnown_ = false;
  std::vector<Position> output_;
  zuProperties properties_;
  zuResourceRecord ttlRecord_;
  mutable Cursor cursor_;
  mutable std::map<i32, u32> counts_[kCachedTags];
};
