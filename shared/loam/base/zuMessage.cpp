#include "loam/base/zuMessage.h"

#include "loam/base/zuMessageCatalog.h"
#include "loam/base/zuString.h"

void zuMessage::clear() {
  id_ = kNone;
  params_.clear();
  text_.clear();
}

bool zuMessage::isEmpty() const {
  return id_ == kNone || (id_ == kLiteral && text_.empty());
}

void zuMessage::setText(const char* text) {
  id_ = kLiteral;
  text_ = text ? text : "";
}

void zuMessage::setText(const std::string& text) {
  id_ = kLiteral;
  text_ = text;
}

void zuMessage::setParam(char key, const std::string& value) { params_.emplace(key, value); }

void zuMessage::setParamNumber(char key, u32 value) { setParam(key, zuUIntToString(value)); }

void zuMessage::setParamNumber(char key, i32 value) { setParam(key, zuIntToString(value)); }

void zuMessage::replaceParam(char key, const std::string& value) { params_[key] = value; }

void zuMessage::replaceParam(char key, u32 value) { replaceParam(key, zuUIntToString(value)); }

void zuMessage::replaceParam(char key, i32 value) { replaceParam(key, zuIntToString(value)); }

bool zuMessage::hasParam(char key) const { return params_.count(key) != 0; }

const std::string& zuMessage::paramRef(char key) const {
  static const std::string empty;
  auto it = params_.find(key);
  return it == params_.end() ? empty : it->second;
}

u32 zuMessage::paramUInt(char key) const {
  u32 n = 0;
  zuStrToUInt32(paramRef(key).c_str(), n);
  return n;
}

i32 zuMessage::paramInt(char key) const {
  i32 n = 0;
  zuStrToInt32(paramRef(key).c_str(), n);
  return n;
}

bool zuMessage::paramAt(u32 index, char& key, std::string& value) const {
  if (index >= params_.size()) return false;
  auto it = params_.begin();
  std::advance(it, index);
  key = it->first;
  value = it->second;
  return true;
}

std::string& zuMessage::format(std::string& out) const {
  out = id_ == kLiteral ? text_ : std::string(zuMessageCatalog::text(id_));
  if (out.empty()) return out;
  for (const auto& [key, value] : params_) {
    // One pass per key, resuming after each inserted value so a value is
    // never rescanned for its own key.
    const char pattern[2] = {'$', key};
    std::size_t pos = 0;
    while ((pos = out.find(pattern, pos, 2)) != std::string::npos) {
      out.replace(pos, 2, value);
      pos += value.size();
      if (out.size() > kMaxFormatted) {
        out.resize(kMaxFormatted);
        return out;
      }
    }
  }
  return out;
}

std::string zuMessage::toString() const {
  std::string out;
  format(out);
  return out;
}

std::string zuMessage::logText() const {
  zuMessage safe(*this);
  for (auto& [key, value] : safe.params_) value = zuLogText(value);
  return safe.toString();
}

std::string zuMessage::paramsText(char separator) const {
  std::string out;
  bool first = true;
  for (const auto& [key, value] : params_) {
    if (!first) out += separator;
    first = false;
    out += key;
    out += '=';
    out += value;
  }
  return out;
}

bool zuMessage::operator==(const zuMessage& other) const {
  if (id_ != other.id_) return false;
  if (id_ == kLiteral && text_ != other.text_) return false;
  return params_ == other.params_;
}

bool zuMessage::operator<(const zuMessage& other) const {
  if (id_ != other.id_) return id_ < other.id_;
  if (id_ == kLiteral && text_ != other.text_) return text_ < other.text_;
  return params_ < other.params_;
}
