#include "loam/threads/zuPreferences.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "loam/base/zuFile.h"
#include "loam/base/zuString.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/threads/zuStMutex.h"

namespace zp = zuPlatform;

namespace {

// Data buffer of the first try; a larger value is asked again with the size
// the registry reports.
constexpr u32 kRegistryDataBuffer = 4096;
// A value that keeps growing between two tries on the same index is skipped
// after this many tries rather than chased for ever.
constexpr u32 kRegistryTries = 8;

// The text of a registry value; false for the types that have none.
bool registryValueToText(u32 type, const u8* data, u32 length, std::string& out) {
  const char* text = reinterpret_cast<const char*>(data);
  switch (type) {
    case zp::kRegSz:
    case zp::kRegExpandSz: {
      // A stored string need not end with a NUL: never read past its length.
      const void* nul = std::memchr(text, '\0', length);
      out.assign(text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length);
      return true;
    }
    case zp::kRegBinary:
      out.assign(text, length);
      return true;
    case zp::kRegDword: {
      if (length != 4) return false;
      const u32 value = static_cast<u32>(data[0]) | static_cast<u32>(data[1]) << 8 |
                        static_cast<u32>(data[2]) << 16 | static_cast<u32>(data[3]) << 24;
      out = zuUIntToString(value);
      return true;
    }
    default:
      return false;
  }
}

// Every value of the key that has a text form is set in values; entries
// already there stay. False when the key cannot be opened.
bool loadFromRegistry(zp::RegKey root, const std::string& keyPath, zuProperties& values) {
  zp::RegKey key = zp::kRegKeyNone;
  if (zp::regOpenKeyEx(root, keyPath.c_str(), zp::kKeyRead, &key) != 0) return false;
  // Room for the longest name a value may have, so only the data can be too small.
  std::vector<char> name(zp::kRegMaxValueNameLength + 1);
  std::vector<u8> data(kRegistryDataBuffer);
  u32 tries = 0;
  for (u32 index = 0;;) {
    u32 nameSize = static_cast<u32>(name.size());
    u32 type = zp::kRegNone;
    u32 dataSize = static_cast<u32>(data.size());
    const u32 rc =
        zp::regEnumValue(key, index, name.data(), &nameSize, &type, data.data(), &dataSize);
    if (rc == zp::kErrorMoreData && ++tries < kRegistryTries) {
      if (dataSize >= data.size()) data.resize(static_cast<size_t>(dataSize) + 1);
      continue;
    }
    tries = 0;
    if (rc == zp::kErrorMoreData) {
      ++index;
      continue;
    }
    if (rc != 0) break;
    std::string text;
    if (registryValueToText(type, data.data(), dataSize, text))
      values.set(std::string(name.data(), nameSize), text);
    ++index;
  }
  zp::regCloseKey(key);
  return true;
}

// Every entry as a string value of the key, created when missing.
bool saveToRegistry(zp::RegKey root, const std::string& keyPath, const zuProperties& values) {
  zp::RegKey key = zp::kRegKeyNone;
  if (zp::regCreateKeyEx(root, keyPath.c_str(), zp::kKeyWrite, &key, nullptr) != 0) return false;
  bool ok = true;
  std::string name;
  std::string value;
  for (u32 i = 0; ok && values.getAt(i, name, value); ++i) {
    // A value name cannot hold a NUL: the registry would store a shorter name.
    ok =
        name.find('\0') == std::string::npos && value.size() < 0xFFFFFFFFu &&
        zp::regSetValueEx(key, name.c_str(), zp::kRegSz, reinterpret_cast<const u8*>(value.c_str()),
                          static_cast<u32>(value.size() + 1)) == 0;
  }
  zp::regCloseKey(key);
  return ok;
}

// The local last-write date and time of a file time, as zuGetFileTime gives them.
bool toLocalStamp(const zp::FileTime& written, zuDate& date, zuTimeOfDay& time) {
  zp::LocalTime local;
  if (!zp::toLocalTime(written.seconds, static_cast<u16>(written.nanoseconds / 1000000u), local))
    return false;
  date.set(local.day, local.month, local.year);
  time.set(local.hour, local.minute, local.second, local.millisecond);
  return true;
}

}  // namespace

bool zuPreferences::exists() const {
  zuStMutex hold(lock_);
  if (fileName_.empty()) return false;
  if (!useRegistry_) return zuFileExists(fileName_);
  zp::RegKey key = zp::kRegKeyNone;
  if (zp::regOpenKeyEx(registryRoot_, fileName_.c_str(), zp::kKeyRead, &key) != 0) return false;
  zp::regCloseKey(key);
  return true;
}

std::string zuPreferences::fileName() const {
  zuStMutex hold(lock_);
  return fileName_;
}

void zuPreferences::setFileName(const std::string& name) {
  zuStMutex hold(lock_);
  fileName_ = name;
  useRegistry_ = false;
  forgetFileStamp();
}

void zuPreferences::setRegistryKey(zuPlatform::RegKey root, const std::string& keyPath) {
  zuStMutex hold(lock_);
  fileName_ = keyPath;
  registryRoot_ = root;
  useRegistry_ = true;
  forgetFileStamp();
}

bool zuPreferences::usesRegistry() const {
  zuStMutex hold(lock_);
  return useRegistry_;
}

void zuPreferences::setLoadOnce(bool loadOnce) {
  zuStMutex hold(lock_);
  loadOnce_ = loadOnce;
}

void zuPreferences::setAutoSave(bool autoSave) {
  zuStMutex hold(lock_);
  autoSave_ = autoSave;
}

u32 zuPreferences::loadCount() const {
  zuStMutex hold(lock_);
  return loadCount_;
}

bool zuPreferences::lockedLoad() {
  zuStMutex hold(lock_);
  return load();
}

bool zuPreferences::lockedSave(bool force) {
  zuStMutex hold(lock_);
  if (!force && !values_.isModified()) return true;
  return save();
}

bool zuPreferences::lockedGet(const std::string& name, std::string& value) {
  zuStMutex hold(lock_);
  return load() && values_.get(name, value);
}

bool zuPreferences::lockedGetBool(const std::string& name) {
  zuStMutex hold(lock_);
  return load() ? values_.getBool(name) : true;
}

bool zuPreferences::setValue(const std::string& name, const std::string& value) {
  zuStMutex hold(lock_);
  if (!loadForChange()) return false;
  values_.set(name, value);
  return autoSave_ ? save() : true;
}

bool zuPreferences::removeValue(const std::string& name) {
  zuStMutex hold(lock_);
  if (!loadForChange()) return false;
  values_.remove(name);
  return autoSave_ ? save() : true;
}

bool zuPreferences::loadForChange() {
  if (load() || useRegistry_ || !autoSave_) return true;
  // Missing is fine (the save creates the file); a file that is there but
  // unreadable or malformed must not be replaced by the little that loaded.
  zp::FindData entry;
  const u32 err = zp::fileInfo(fileName_, entry);
  return err == zp::kFileErrorFileNotFound || err == zp::kFileErrorPathNotFound;
}

bool zuPreferences::load() {
  if (fileName_.empty()) return false;
  if (loadOnce_ && loadCount_ > 0) return true;
  if (useRegistry_) {
    if (!loadFromRegistry(registryRoot_, fileName_, values_)) return false;
    ++loadCount_;
    return true;
  }
  // The time is taken before the read: a change in between makes the next
  // load read again, never the other way round.
  zuDate date;
  zuTimeOfDay time;
  const bool stamped = zuGetFileTime(fileName_, date, time);
  if (stamped && fileIsCurrent(date, time)) return true;

  std::string text;
  const bool opened = zp::readFile(fileName_, text) == zp::kFileErrorNone;
  values_.clear();
  // Until a read succeeds the values stand for no file, so the next load
  // reads whatever is there, even a file put back with its old time.
  forgetFileStamp();
  if (!opened) return false;
  std::istringstream in(std::move(text));
  if (!values_.readXml(in)) return false;
  if (stamped) setFileStamp(date, time);
  ++loadCount_;
  return true;
}

bool zuPreferences::save() {
  if (fileName_.empty()) return false;
  if (useRegistry_) return saveToRegistry(registryRoot_, fileName_, values_);
  // The whole text is made before the file is touched, so values that cannot
  // be written leave the old file as it was.
  std::string text;
  if (!values_.toString(text, true)) return false;
  zp::FileTime written;
  if (zp::writeFileAtomically(fileName_, text, &written) != zp::kFileErrorNone) return false;
  // Our own write is not a change to read back.
  zuDate date;
  zuTimeOfDay time;
  if (toLocalStamp(written, date, time))
    setFileStamp(date, time);
  else
    forgetFileStamp();
  return true;
}

bool zuPreferences::fileIsCurrent(const zuDate& date, const zuTimeOfDay& time) const {
  return stamped_ && date.dayNumber() == fileDate_.dayNumber() &&
         time.toMilliseconds() == fileTime_.toMilliseconds();
}

void zuPreferences::setFileStamp(const zuDate& date, const zuTimeOfDay& time) {
  fileDate_ = date;
  fileTime_ = time;
  stamped_ = true;
}

void zuPreferences::forgetFileStamp() {
  fileDate_ = zuDate();
  fileTime_ = zuTimeOfDay();
  stamped_ = false;
}
