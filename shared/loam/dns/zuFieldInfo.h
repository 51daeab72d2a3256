#pragma once
// A typed field descriptor: one named setting with its type, label, default,
// bounds and allowed values. It validates a value given as text, composes the
// value of a group or multi-valued field from a list of named values, and
// travels over the netobject protocol so that a remote side validates with
// the same rules.
//
// Refusals are zuException: zuErrValueOutOfRange (2049) for a value that
// breaks a rule, the label quoted as "n"; zuErrInternal (261) for an
// operation that does not fit the descriptor's type.
#include <string>
#include <vector>

#include "loam/dns/zuFieldType.h"
#include "loam/dns/zuFieldValue.h"
#include "loam/platform/zuTypes.h"

class zuNetReader;
class zuNetWriter;

class zuFieldInfo {
 public:
  // Type 0 and empty texts: the state a descriptor is read into.
  zuFieldInfo() = default;
  // Text (type 1); allowedValues null means none.
  zuFieldInfo(const std::string& name, const std::string& label, const std::string& description,
              const std::string& defaultValue, bool flag, bool mandatory, bool textFlag,
              bool requireFQDN, const std::vector<std::string>* allowedValues);
  // Free text, IP address or domain name, IP address, boolean: type is one of
  // zuFieldFreeText, zuFieldAddressOrName, zuFieldAddress, zuFieldBoolean.
  zuFieldInfo(zuFieldType type, const std::string& name, const std::string& label,
              const std::string& description, const std::string& defaultValue, bool flag,
              bool mandatory);
  // Number (type 16); the bounds read as signed when minimum < 0, else as
  // unsigned 32-bit values (so maximum -1 stands for 4294967295).
  zuFieldInfo(const std::string& name, const std::string& label, const std::string& description,
              const std::string& defaultValue, bool flag, bool mandatory, i32 minimum, i32 maximum);
  // Choice (type 64).
  zuFieldInfo(const std::string& name, const std::string& label,
              const std::vector<std::string>& allowedValues, const std::string& description,
              const std::string& defaultValue, bool flag);

  // Throws zuErrInternal "Field type mismatch" unless the type has a bit of mask.
  void checkType(u32 mask) const;

  const std::string& name() const { return name_; }
  void setName(const std::string& name) { name_ = name; }
  const std::string& label() const { return label_; }
  void setLabel(const std::string& label) { label_ = label; }
  const std::string& description() const { return description_; }
  void setDescription(const std::string& description) { description_ = description; }

  u32 type() const { return type_; }
  void setType(u32 type) { type_ = type; }
  bool isList() const { return (type_ & zuFieldList) != 0; }
  bool isStruct() const { return (type_ & zuFieldStruct) != 0; }

  bool mandatory() const { return mandatory_; }
  void setMandatory(bool mandatory) { mandatory_ = mandatory; }

  // Not for multi-valued fields.
  const std::string& defaultValue() const;
  void setDefaultValue(const std::string& value);
  bool flag() const;
  void setFlag(bool flag);
  // Numbers only.
  i32 minimum() const;
  void setMin(i32 minimum);
  i32 maximum() const;
  void setMax(i32 maximum);
  // Text only.
  bool textFlag() const;
  void setTextFlag(bool textFlag);
  bool requireFQDN() const;
  void setRequireFQDN(bool requireFQDN);
  // Text and choice only.
  const std::vector<std::string>& allowedValues() const;
  void setAllowedValues(const std::vector<std::string>& values);

  // Carried on the wire, not interpreted here.
  u32 extraValue1() const { return extra1_; }
  void setExtraValue1(u32 value) { extra1_ = value; }
  u32 extraValue2() const { return extra2_; }
  void setExtraValue2(u32 value) { extra2_ = value; }

  // Returns when the value is acceptable; else throws the first rule broken.
  // An empty value is refused only when mandatory and checkMandatory.
  void validate(const std::string& value, bool checkMandatory) const;

  // Composes this field's text value from values (read from valuePos on) into
  // out and tells whether it differs from the field's default. This
  // descriptor stands at descriptors[descriptorPos]; for a group,
  // descriptorPos is left at its last member, so a caller's loop steps past
  // the group. A group mixing "inherited" with non-default values throws
  // zuErrValueOutOfRange.
  bool composeValue(u32& descriptorPos, const std::vector<zuFieldInfo>& descriptors, u32 valuePos,
                    const std::vector<zuFieldValue>& values, bool resolveInherited,
                    std::string& out, char separator) const;

  // "servers.3" gives "servers"; a name without such a suffix (or made of
  // nothing but it) is returned unchanged.
  static std::string stripIndexSuffix(const std::string& name);
  // true/on/1 and false/off/0 in any case; false for any other text, out
  // untouched then.
  static bool parseBoolean(const std::string& text, bool& out);
  static bool isBoolean(const std::string& text);

  // The descriptor form: type, name, label, description, flag, mandatory,
  // default, minimum, maximum, the two extra values, text flag, require
  // FQDN, allowed values. read sets every field without a type check; an
  // overrun throws the reader's std::out_of_range, the descriptor partly read.
  void write(zuNetWriter& writer) const;
  void read(zuNetReader& reader);

 private:
  void validateNumber(const std::string& value) const;
  bool composeStruct(u32& descriptorPos, const std::vector<zuFieldInfo>& descriptors, u32 valuePos,
                     const std::vector<zuFieldValue>& values, bool resolveInherited,
                     std::string& out, char separator) const;

  std::string name_;
  u32 type_ = 0;
  std::string label_;
  std::string description_;
  bool flag_ = false;
  bool mandatory_ = false;
  std::string defaultValue_;
  i32 minimum_ = 0;
  i32 maximum_ = 0;
  u32 extra1_ = 0;
  u32 extra2_ = 0;
  bool textFlag_ = false;
  bool requireFQDN_ = false;
  std::vector<std::string> allowedValues_;
};
