#include "loam/dns/zuFieldInfo.h"

#include <algorithm>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuDNSErrors.h"
#include "loam/dns/zuDNSName.h"
#include "loam/dns/zuNetStringList.h"
#include "loam/dns/zuTextChecks.h"
#include "loam/net/zuIPAddressText.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"

namespace {

constexpr u32 kNumberOnly = zuFieldNumber;
constexpr u32 kTextOnly = zuFieldText;
constexpr u32 kTextOrChoice = zuFieldText | zuFieldChoice;
constexpr u32 kSimpleTypes =
    zuFieldFreeText | zuFieldAddressOrName | zuFieldAddress | zuFieldBoolean;

bool isInherited(const std::string& value) { return zuEqualsNoCase(value.c_str(), "inherited"); }

bool isIPAddressText(const std::string& value) {
  u32 v4 = 0;
  u8 v6[16];
  return zuParseDottedQuad(value.c_str(), v4) || zuParseIPv6Text(value.c_str(), v6);
}

bool isRelaxedDomainName(const std::string& value) {
  return zuIsValidText(value.data(), static_cast<u32>(value.size()));
}

// A value breaking a rule: code 2049 with the label quoted as "n".
[[noreturn]] void refuse(const zuFieldInfo& field, const char* text) {
  throw zuException(zuErrValueOutOfRange, text, 'n', zuQuote(field.label()));
}

// Whether name begins with prefix + ".".
bool isMemberName(const std::string& name, const std::string& prefix) {
  return name.size() > prefix.size() && name[prefix.size()] == '.' &&
         zuStartsWithNoCaseStr(name, prefix);
}

void appendSeparated(std::string& text, const std::string& piece, char separator) {
  if (!text.empty()) text += separator;
  text += piece;
}

}  // namespace

zuFieldInfo::zuFieldInfo(const std::string& name, const std::string& label,
                         const std::string& description, const std::string& defaultValue, bool flag,
                         bool mandatory, bool textFlag, bool requireFQDN,
                         const std::vector<std::string>* allowedValues)
    : name_(name), type_(zuFieldText), label_(label), description_(description) {
  setDefaultValue(defaultValue);
  setFlag(flag);
  setMandatory(mandatory);
  setTextFlag(textFlag);
  setRequireFQDN(requireFQDN);
  if (allowedValues) setAllowedValues(*allowedValues);
}

zuFieldInfo::zuFieldInfo(zuFieldType type, const std::string& name, const std::string& label,
                         const std::string& description, const std::string& defaultValue, bool flag,
                         bool mandatory)
    : name_(name), type_(type), label_(label), description_(description) {
  // Only the types without further settings fit this form; one at a time.
  if ((type & (type - 1u)) != 0) type_ = 0;
  checkType(kSimpleTypes);
  setDefaultValue(defaultValue);
  setFlag(flag);
  setMandatory(mandatory);
}

zuFieldInfo::zuFieldInfo(const std::string& name, const std::string& label,
                         const std::string& description, const std::string& defaultValue, bool flag,
                         bool mandatory, i32 minimum, i32 maximum)
    : name_(name), type_(zuFieldNumber), label_(label), description_(description) {
  setDefaultValue(defaultValue);
  setFlag(flag);
  setMandatory(mandatory);
  setMin(minimum);
  setMax(maximum);
}

zuFieldInfo::zuFieldInfo(const std::string& name, const std::string& label,
                         const std::vector<std::string>& allowedValues,
                         const std::string& description, const std::string& defaultValue, bool flag)
    : name_(name), type_(zuFieldChoice), label_(label), description_(description) {
  setAllowedValues(allowedValues);
  setDefaultValue(defaultValue);
  setFlag(flag);
}

void zuFieldInfo::checkType(u32 mask) const {
  if ((type_ & mask) == 0)
    throw zuException(zuErrInternal, kzuInternalErrorText, 'e', "Field type mismatch");
}

const std::string& zuFieldInfo::defaultValue() const {
  checkType(zuFieldAnyButList);
  return defaultValue_;
}

void zuFieldInfo::setDefaultValue(const std::string& value) {
  checkType(zuFieldAnyButList);
  defaultValue_ = value;
}

bool zuFieldInfo::flag() const {
  checkType(zuFieldAnyButList);
  return flag_;
}

void zuFieldInfo::setFlag(bool flag) {
  checkType(zuFieldAnyButList);
  flag_ = flag;
}

i32 zuFieldInfo::minimum() const {
  checkType(kNumberOnly);
  return minimum_;
}

void zuFieldInfo::setMin(i32 minimum) {
  checkType(kNumberOnly);
  minimum_ = minimum;
}

i32 zuFieldInfo::maximum() const {
  checkType(kNumberOnly);
  return maximum_;
}

void zuFieldInfo::setMax(i32 maximum) {
  checkType(kNumberOnly);
  maximum_ = maximum;
}

bool zuFieldInfo::textFlag() const {
  checkType(kTextOnly);
  return textFlag_;
}

void zuFieldInfo::setTextFlag(bool textFlag) {
  checkType(kTextOnly);
  textFlag_ = textFlag;
}

bool zuFieldInfo::requireFQDN() const {
  checkType(kTextOnly);
  return requireFQDN_;
}

void zuFieldInfo::setRequireFQDN(bool requireFQDN) {
  checkType(kTextOnly);
  requireFQDN_ = requireFQDN;
}

const std::vector<std::string>& zuFieldInfo::allowedValues() const {
  checkType(kTextOrChoice);
  return allowedValues_;
}

void zuFieldInfo::setAllowedValues(const std::vector<std::string>& values) {
  checkType(kTextOrChoice);
  allowedValues_ = values;
}

void zuFieldInfo::validate(const std::string& value, bool checkMandatory) const {
  if ((type_ & (zuFieldList | zuFieldStruct)) != 0) return;
  if (value.empty()) {
    if (mandatory_ && checkMandatory) refuse(*this, "$n is mandatory.");
    return;
  }
  switch (type_) {
    case zuFieldText:
    case zuFieldChoice:
      if (!allowedValues_.empty()) {
        if (std::find(allowedValues_.begin(), allowedValues_.end(), value) == allowedValues_.end())
          throw zuException(zuErrValueOutOfRange, "Value $v is not valid for $n.", 'n',
                            zuQuote(label_), 'v', zuQuote(value));
        return;
      }
      if (requireFQDN_ && !isRelaxedDomainName(value))
        refuse(*this, "Value for $n is not a valid fully qualified domain name.");
      return;
    case zuFieldFreeText:
      return;
    case zuFieldAddressOrName:
      if (!isIPAddressText(value) && !isRelaxedDomainName(value))
        refuse(*this, "Value for $n is neither a valid IP address nor a legal domain name.");
      return;
    case zuFieldAddress:
      if (!isIPAddressText(value)) refuse(*this, "Value for $n is not a valid IP address.");
      return;
    case zuFieldNumber:
      validateNumber(value);
      return;
    case zuFieldBoolean:
      if (!isBoolean(value) && !isInherited(value))
        refuse(*this, "Value for $n is not a valid boolean flag.");
      return;
    default:
      throw zuException(zuErrInternal, kzuInternalErrorText, 'e',
                        "Unknown field type: \"" + zuUIntToString(type_) + "\".");
  }
}

void zuFieldInfo::validateNumber(const std::string& value) const {
  const char* const kRange = "Value for $n should be between $a and $b";
  if (minimum_ < 0) {
    i32 number = 0;
    if (!zuStrToInt32(value.c_str(), number)) refuse(*this, "Value for $n is not a valid number.");
    if (number < minimum_ || number > maximum_)
      throw zuException(zuErrValueOutOfRange, kRange, 'n', zuQuote(label_), 'a',
                        zuIntToString(minimum_), 'b', zuIntToString(maximum_));
    return;
  }
  const u32 low = static_cast<u32>(minimum_);
  const u32 high = static_cast<u32>(maximum_);
  u32 number = 0;
  if (!zuStrToUInt32(value.c_str(), number)) refuse(*this, "Value for $n is not a valid number.");
  if (number < low || number > high)
    throw zuException(zuErrValueOutOfRange, kRange, 'n', zuQuote(label_), 'a', zuUIntToString(low),
                      'b', zuUIntToString(high));
}

bool zuFieldInfo::composeValue(u32& descriptorPos, const std::vector<zuFieldInfo>& descriptors,
                               u32 valuePos, const std::vector<zuFieldValue>& values,
                               bool resolveInherited, std::string& out, char separator) const {
  out.clear();
  if (isStruct())
    return composeStruct(descriptorPos, descriptors, valuePos, values, resolveInherited, out,
                         separator);
  if (isList()) {
    for (std::size_t i = valuePos; i < values.size(); ++i)
      if (isMemberName(values[i].name, name_)) appendSeparated(out, values[i].value, separator);
    return !out.empty();
  }
  if (valuePos >= values.size()) return false;
  const std::string& value = values[valuePos].value;
  bool differs = false;
  if (type_ == zuFieldBoolean)
    differs = resolveInherited ? !isInherited(value)
                               : !zuEqualsNoCase(value.c_str(), defaultValue_.c_str());
  else
    differs = !value.empty();
  if (differs) out = value;
  return differs;
}

bool zuFieldInfo::composeStruct(u32& descriptorPos, const std::vector<zuFieldInfo>& descriptors,
                                u32 valuePos, const std::vector<zuFieldValue>& values,
                                bool resolveInherited, std::string& out, char separator) const {
  std::string groupDefault;
  bool usedInherited = false;
  while (descriptorPos + 1u < descriptors.size() &&
         isMemberName(descriptors[descriptorPos + 1u].name_, name_)) {
    const zuFieldInfo& member = descriptors[++descriptorPos];
    std::size_t found = valuePos;
    while (found < values.size() &&
           !zuEqualsNoCase(values[found].name.c_str(), member.name_.c_str()))
      ++found;
    if (found >= values.size()) continue;  // contributes nothing
    std::string value = values[found].value;
    if (member.isList()) {
      for (std::size_t i = found + 1; i < values.size(); ++i)
        if (isMemberName(values[i].name, member.name_))
          appendSeparated(value, values[i].value, separator);
    }
    if (member.type_ == zuFieldBoolean && resolveInherited && isInherited(value)) {
      value = member.defaultValue_;
      usedInherited = true;
    }
    appendSeparated(out, value, ' ');
    appendSeparated(groupDefault, member.defaultValue_, ' ');
  }
  const bool differs = !zuEqualsNoCase(out.c_str(), groupDefault.c_str());
  if (differs && usedInherited)
    throw zuException(zuErrValueOutOfRange,
                      "Cannot set value as inherited in struct with non-default values.");
  return differs;
}

std::string zuFieldInfo::stripIndexSuffix(const std::string& name) {
  std::size_t i = name.size();
  while (i > 0 && zuIsDigit(static_cast<u8>(name[i - 1]))) --i;
  if (i == name.size() || i == 0 || name[i - 1] != '.') return name;
  return name.substr(0, i - 1);
}

bool zuFieldInfo::parseBoolean(const std::string& text, bool& out) {
  for (const char* word : {"true", "on", "1"})
    if (zuEqualsNoCase(text.c_str(), word)) return out = true, true;
  for (const char* word : {"false", "off", "0"})
    if (zuEqualsNoCase(text.c_str(), word)) return out = false, true;
  return false;
}

bool zuFieldInfo::isBoolean(const std::string& text) {
  bool ignored = false;
  return parseBoolean(text, ignored);
}

void zuFieldInfo::write(zuNetWriter& writer) const {
  writer.putUInt32(type_);
  writer.putString(name_);
  writer.putString(label_);
  writer.putString(description_);
  writer.putBool(flag_);
  writer.putBool(mandatory_);
  writer.putString(defaultValue_);
  writer.putInt32(minimum_);
  writer.putInt32(maximum_);
  writer.putUInt32(extra1_);
  writer.putUInt32(extra2_);
  writer.putBool(textFlag_);
  writer.putBool(requireFQDN_);
  writeStringList(writer, allowedValues_);
}

void zuFieldInfo::read(zuNetReader& reader) {
  type_ = reader.getUInt32();
  name_ = reader.getStdString();
  label_ = reader.getStdString();
  description_ = reader.getStdString();
  flag_ = reader.getBool();
  mandatory_ = reader.getBool();
  defaultValue_ = reader.getStdString();
  minimum_ = reader.getInt32();
  maximum_ = reader.getInt32();
  extra1_ = reader.getUInt32();
  extra2_ = reader.getUInt32();
  textFlag_ = reader.getBool();
  requireFQDN_ = reader.getBool();
  allowedValues_.clear();
  readStringList(reader, allowedValues_);
}
