#include "loam/base/zuRegistry.h"

#include <cstring>
#include <vector>

#include "loam/platform/zuPlatformError.h"

namespace zp = zuPlatform;

namespace {

constexpr u32 kDataBufferSize = 4096;
// A value that is still too big after this many reads (it keeps growing) is
// passed over.
constexpr int kMoreDataTries = 4;

// Closes the key on every road out.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != zp::kRegKeyNone) zp::regCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  zp::RegKey* out() { return &key_; }
  zp::RegKey get() const { return key_; }

 private:
  zp::RegKey key_ = zp::kRegKeyNone;
};

u32 u32Size(size_t size) { return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(size); }

// Grows data to the reported size + 1 when the value did not fit it.
void growFor(std::vector<u8>& data, u32 reported) {
  if (reported >= data.size()) data.resize(size_t{reported} + 1);
}

}  // namespace

bool zuRegistryValueToText(u32 type, const u8* data, u32 length, std::string& text) {
  if (!data && length > 0) return false;
  const char* chars = reinterpret_cast<const char*>(data);
  switch (type) {
    case zp::kRegSz:
    case zp::kRegExpandSz: {
      // A stored string need not end with its NUL.
      const void* nul = length > 0 ? std::memchr(chars, '\0', length) : nullptr;
      text.assign(chars, nul ? static_cast<size_t>(static_cast<const char*>(nul) - chars) : length);
      return true;
    }
    case zp::kRegBinary:
      text.assign(chars, length);
      return true;
    case zp::kRegDword: {
      if (length != 4) return false;
      u32 value = 0;
      std::memcpy(&value, data, sizeof value);
      text = std::to_string(value);
      return true;
    }
    default:
      return false;
  }
}

bool zuRegistryLoadValues(zp::RegKey root, const std::string& subkey, zuProperties& properties) {
  OpenKey key;
  if (zp::regOpenKeyEx(root, subkey.c_str(), zp::kKeyRead, key.out()) != zp::kErrorSuccess) {
    return false;
  }
  // Room for the longest name a value can have, so only the data can be too small.
  std::vector<char> name(zp::kRegMaxValueNameLength + 1);
  std::vector<u8> data(kDataBufferSize);
  int tries = 0;
  for (u32 index = 0;;) {
    u32 nameSize = u32Size(name.size());
    u32 type = zp::kRegNone;
    u32 dataSize = u32Size(data.size());
    const u32 err =
        zp::regEnumValue(key.get(), index, name.data(), &nameSize, &type, data.data(), &dataSize);
    if (err == zp::kErrorMoreData) {
      if (++tries < kMoreDataTries) {
        growFor(data, dataSize);
        continue;  // the same index again
      }
    } else if (err != zp::kErrorSuccess) {
      break;
    } else {
      std::string text;
      if (zuRegistryValueToText(type, data.data(), dataSize, text)) {
        properties.set(std::string(name.data(), nameSize), text);
      }
    }
    tries = 0;
    ++index;
  }
  return true;
}

bool zuRegistrySaveValues(zp::RegKey root, const std::string& subkey,
                          const zuProperties& properties) {
  OpenKey key;
  if (zp::regCreateKeyEx(root, subkey.c_str(), zp::kKeyWrite, key.out(), nullptr) !=
      zp::kErrorSuccess) {
    return false;
  }
  bool allWritten = true;
  std::string name;
  std::string value;
  for (u32 i = 0; properties.getAt(i, name, value); ++i) {
    // A name with a NUL would land on a shorter name, over another value.
    if (name.find('\0') != std::string::npos || value.size() >= 0xFFFFFFFFu ||
        zp::regSetValueEx(key.get(), name.c_str(), zp::kRegSz,
                          reinterpret_cast<const u8*>(value.c_str()),
                          static_cast<u32>(value.size() + 1)) != zp::kErrorSuccess) {
      allWritten = false;
    }
  }
  return allWritten;
}

bool zuRegistryReadValue(zp::RegKey root, const std::string& subkey, const std::string& valueName,
                         std::string& text) {
  text.clear();
  OpenKey key;
  if (zp::regOpenKeyEx(root, subkey.c_str(), zp::kKeyRead, key.out()) != zp::kErrorSuccess) {
    return false;
  }
  std::vector<u8> data(kDataBufferSize);
  u32 type = zp::kRegNone;
  u32 dataSize = 0;
  u32 err = zp::kErrorMoreData;
  for (int tries = 0; err == zp::kErrorMoreData && tries < kMoreDataTries; ++tries) {
    if (tries > 0) growFor(data, dataSize);
    dataSize = u32Size(data.size());
    err = zp::regQueryValueEx(key.get(), valueName.c_str(), &type, data.data(), &dataSize);
  }
  if (err != zp::kErrorSuccess) return false;
  zuRegistryValueToText(type, data.data(), dataSize, text);
  return true;
}
