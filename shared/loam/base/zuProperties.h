#pragma once
// Named text values: names folded to lower case, kept in the order in which
// each name was first added, with typed views over the text, "section:" name
// groups and an XML-like text form of one empty element per entry.
//
// Not safe for concurrent use; owners that share one guard it themselves.
#include <iosfwd>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "loam/platform/zuTypes.h"

class zuProperties {
 public:
  using Map = std::map<std::string, std::string>;
  using Entry = Map::value_type;

  zuProperties() = default;
  // Filled from a tab list (see fromTabList).
  explicit zuProperties(const std::string& tabList);
  zuProperties(const zuProperties& other);
  zuProperties& operator=(const zuProperties& other);
  zuProperties(zuProperties&& other) noexcept = default;
  zuProperties& operator=(zuProperties&& other) noexcept = default;
  virtual ~zuProperties();

  // Replaces the contents, name and modified flag with the other's.
  void assign(const zuProperties& other);
  // Removes every entry; the name stays.
  void clear();
  u32 count() const { return static_cast<u32>(order_.size()); }
  // The index-th entry in insertion order; false (outputs untouched) past the end.
  bool getAt(u32 index, std::string& name, std::string& value) const;
  // Sets every entry of the other, in its insertion order.
  void addAll(const zuProperties& other);

  std::string& name() { return name_; }
  const std::string& name() const { return name_; }
  bool isModified() const { return modified_; }
  void setModified(bool modified) { modified_ = modified; }

  // Always true. A new name goes to the end of the order; an existing one keeps
  // its place. Setting the value already held leaves the modified flag alone.
  bool set(const std::string& name, const std::string& value);
  bool get(const std::string& name, std::string& value) const;
  std::string getString(const std::string& name, const std::string& def) const;
  // The stored value, or a shared empty text when the name is missing.
  const std::string& valueRef(const std::string& name) const;
  bool exists(const std::string& name) const;
  void remove(const std::string& name);

  // Typed views. Numbers are decimal text; out is written only on success.
  bool getInt(const std::string& name, i32& out) const;
  bool getUInt(const std::string& name, u32& out) const;
  // def (not clamped) when the value is missing or not a number.
  i32 getIntInRange(const std::string& name, i32 def, i32 min, i32 max) const;
  u32 getUIntInRange(const std::string& name, u32 def, u32 min, u32 max) const;
  // A decimal number: out = number != 0.
  bool findBool(const std::string& name, bool& out) const;
  // Only a value that reads as the number 0 is false; missing or not a number is true.
  bool getBool(const std::string& name) const;
  // True when present; out is true for "yes"/"true" in any case or a non-zero number.
  bool getBoolValue(const std::string& name, bool& out) const;
  bool getBoolValueOr(const std::string& name, bool def) const;
  void setInt(const std::string& name, i32 value);
  void setUInt(const std::string& name, u32 value);
  // Written as "yes" or "no" (read back by getBoolValue, not by getBool).
  void setBool(const std::string& name, bool value);
  bool getStringList(const std::string& name, std::list<std::string>& out, char sep) const;
  bool getStringVector(const std::string& name, std::vector<std::string>& out, char sep) const;
  void setStringList(const std::string& name, const std::list<std::string>& items, char sep);
  void setStringVector(const std::string& name, const std::vector<std::string>& items, char sep);

  // Sections: the entries named section + ":" + key, taken in name order.
  // out may be this object itself.
  bool getSection(const std::string& section, zuProperties& out) const;
  // Replaces the section named by section.name() with section's entries;
  // section may be this object itself.
  void setSection(const zuProperties& section);
  void removeSection(const std::string& section);

  // Reads entry elements until the first text that is not one; false on a
  // malformed element, keeping the entries read before it. Never clears first.
  bool readXml(std::istream& in);
  // False, with nothing written, when an entry would not read back (an empty
  // name or one outside the name characters, a value holding a double quote);
  // otherwise whether the stream is still good.
  bool writeEntries(std::ostream& out, bool lineEnds) const;
  // readXml over the text up to its first NUL.
  bool fromString(const std::string& text);
  // writeEntries into a string; out is untouched on failure.
  bool toString(std::string& out, bool lineEnds) const;
  // Clears, then takes the TAB-separated pieces as name, value, name, value...
  void fromTabList(const std::string& text);

  // A document: a declaration, then each set of values as one named element.
  // Refuses, writing nothing, any set whose name or entries would not read back.
  static bool writeDocument(std::ostream& out, const std::list<zuProperties>& sections,
                            bool lineEnds);
  // Appends one set per section read; those appended before a failure stay.
  static bool readDocument(std::istream& in, std::list<zuProperties>& sections);

  static bool keyLessNoCase(const Entry& a, const Entry& b);

 private:
  static bool isWritableName(const std::string& name);
  const std::string* find(const std::string& lowerName) const;
  bool canWriteEntries() const;
  void writeEntriesUnchecked(std::ostream& out, bool lineEnds) const;

  Map entries_;
  // Names in order of first addition. Names rather than map iterators, so a
  // copy can never point into the map it was copied from.
  std::vector<std::string> order_;
  std::string name_;
  bool modified_ = false;
};
