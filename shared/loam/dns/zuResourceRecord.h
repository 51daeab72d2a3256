#pragma once
// One DNS resource record as the zone data model keeps it: the zone-text view
// of its data. The owner name and the rdata's domain names are relative to the
// origin of the collection that holds the record (an empty owner is the origin
// itself), the TTL is the text as written, and the rdata is its presentation
// fields joined by TAB.
//
// A free record has no collection. A collection stores its own copy of a
// record and is the only one to point that copy at itself; copies made from a
// stored record are free again. A stored record stays in its collection
// whatever is assigned or read into it: the collection files it under its new
// type, and its names are held relative to that collection's origin.
// Not safe for concurrent use.
#include <memory>
#include <string>

#include "loam/base/zuProperties.h"
#include "loam/platform/zuTypes.h"

class zuNetReader;
class zuNetWriter;
class zuRecordCollection;

class zuResourceRecord {
 public:
  // Joins the rdata fields.
  static constexpr char separator = '\t';
  static constexpr u32 kNoId = 0xFFFFFFFFu;

  zuResourceRecord() = default;
  // Store the fields; when the collection has a non-empty origin, the owner
  // name and the rdata names are made relative to it. The aging is empty in
  // the first form.
  zuResourceRecord(zuRecordCollection* collection, const std::string& name, const std::string& ttl,
                   u32 type, const std::string& rdata, const std::string& comment, bool enabled);
  zuResourceRecord(zuRecordCollection* collection, const std::string& name, const std::string& ttl,
                   u32 type, const std::string& rdata, const std::string& comment,
                   const std::string& aging, bool enabled);
  // A text literal in the enabled flag's place is an aging left without its
  // flag, not a flag.
  zuResourceRecord(zuRecordCollection*, const std::string&, const std::string&, u32,
                   const std::string&, const std::string&, const char*) = delete;

  // The copy is free (no collection).
  zuResourceRecord(const zuResourceRecord& other);
  zuResourceRecord(zuResourceRecord&& other) noexcept;
  // Every field but the collection, which stays the target's. A target with a
  // collection takes the other's names as absolute ones when they are relative
  // to another origin, and holds them relative to its own; a stored target is
  // filed under its new type.
  zuResourceRecord& operator=(const zuResourceRecord& other);
  // As the copy when the target has a collection.
  zuResourceRecord& operator=(zuResourceRecord&& other);
  ~zuResourceRecord() = default;

  u32 id() const { return m_id; }
  const std::string& name() const { return m_name; }
  u32 type() const { return m_type; }
  const std::string& TTL() const { return m_ttl; }
  const std::string& data() const { return m_data; }
  const std::string& comment() const;
  const std::string& aging() const;
  bool enabled() const { return m_enabled; }
  // Made on first use.
  zuProperties& properties();
  const zuProperties& properties() const;
  zuRecordCollection* collection() const { return m_collection; }

  void setId(u32 id) { m_id = id; }
  void setTTL(const std::string& ttl) { m_ttl = ttl; }
  // A stored record is filed under the new type (the pointer stays valid).
  void setType(u32 type);
  void setComment(const std::string& comment);
  void setAging(const std::string& aging);
  void setEnabled(bool enabled) { m_enabled = enabled; }
  // Store, then hold the names relative to the collection's origin.
  void setName(const std::string& name);
  void setData(const std::string& rdata);

  // False without a collection; else whether stripping the origin changed the name.
  bool normalizeName();
  // Nothing without a collection; true when an rdata name changed.
  bool normalizeData();

  // The owner name made absolute.
  std::string fullName() const;
  // A value made absolute against the collection's origin: unchanged without a
  // collection, with an empty origin, or when it ends in "."; an empty value is
  // the origin.
  std::string qualify(const std::string& value) const;

  // TAB count + 1: an empty rdata has one field.
  u32 fieldCount() const;
  // Field `index` ("" when absent); with `qualified`, a domain-name field of
  // the type is made absolute.
  std::string field(u32 index, bool qualified = false) const;
  // Appends empty fields until `index` exists, then replaces it; a
  // domain-name field loses the collection's origin first.
  void setField(u32 index, const std::string& value);
  // Field `index` of any TAB-joined text is empty or absent.
  static bool isFieldEmpty(const std::string& text, u32 index);

  // The TTL text in seconds (unit letters allowed); 0xFFFFFFFF when it does
  // not convert, the empty text included.
  u32 ttlValue() const;
  // No owner, TTL, rdata or type (and no comment unless ignored).
  bool isBlank(bool ignoreComment) const;
  // At the origin and neither typeless, A nor AAAA.
  bool isApexNonAddress() const;
  // Owner, TTL and rdata texts (case-sensitive or ASCII case-insensitive),
  // type, comment (always case-insensitive, unless ignored) and enabled flag
  // (unless ignored). Id, aging and properties take no part.
  bool equals(const zuResourceRecord& other, bool caseSensitive, bool ignoreComment,
              bool ignoreEnabled) const;

  // The record form on the wire: id, owner, TTL, type (u16, as stored),
  // rdata, comment, enabled. read replaces every field, empties the aging and
  // properties and leaves the record free; an overrun throws the reader's
  // std::out_of_range with the record partly read. A stored record stays in
  // its collection instead, as by assignment, and is unchanged by an overrun.
  void write(zuNetWriter& writer) const;
  void read(zuNetReader& reader);

 private:
  friend class zuRecordCollection;
  void setCollection(zuRecordCollection* collection) { m_collection = collection; }
  // Set by the collection on the copy it stores.
  void setStored() { m_stored = true; }
  // The other's owner name and rdata, made absolute when they are relative to
  // an origin other than this record's.
  void namesFrom(const zuResourceRecord& other, std::string& name, std::string& rdata) const;
  // The rdata with every domain-name field made absolute.
  std::string absoluteData() const;
  // Gives back the room a text kept after it was shortened (a stored name
  // loses its origin): a short text goes back inside its string.
  void shrinkToFit();
  const std::string* originOrNull() const;
  void copyFields(const zuResourceRecord& other);
  void moveFields(zuResourceRecord& other) noexcept;
  struct Extras;
  Extras& extras();

  // Comment, aging and properties are rare in a zone: they live apart, made
  // when first set, so that a plain record stays small.
  struct Extras {
    std::string comment;
    std::string aging;
    zuProperties properties;
  };

  std::string m_name;
  std::string m_ttl;
  std::string m_data;
  std::unique_ptr<Extras> m_extras;
  zuRecordCollection* m_collection = nullptr;
  u32 m_id = kNoId;
  u32 m_type = 0;
  bool m_enabled = true;
  // In a collection's store, not merely built against its origin.
  bool m_stored = false;
};
