#include "loam/threads/zuPreferences.h"

#include <sstream>

#include "loam/base/zuFile.h"
#include "loam/base/zuRegistry.h"
#include "loam/base/zuString.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/threads/zuStMutex.h"

namespace zp = zuPlatform;

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
    if (!zuRegistryLoadValues(registryRoot_, fileName_, values_)) return false;
    ++loadCount_;
    return true;
  }
  // The identity is taken before the read: a change in between makes the
  // next load read again, never the other way round.
  zp::FileIdentity identity;
  const bool stamped = zp::fileIdentity(fileName_, identity) == zp::kFileErrorNone;
  if (stamped && fileIsCurrent(identity)) return true;

  std::string text;
  const bool opened = zp::readFile(fileName_, text) == zp::kFileErrorNone;
  values_.clear();
  // Until a read succeeds the values stand for no file, so the next load
  // reads whatever is there, even a file put back with its old time.
  forgetFileStamp();
  if (!opened) return false;
  std::istringstream in(std::move(text));
  if (!values_.readXml(in)) return false;
  if (stamped) setFileStamp(identity);
  ++loadCount_;
  return true;
}

bool zuPreferences::save() {
  if (fileName_.empty()) return false;
  if (useRegistry_) return zuRegistrySaveValues(registryRoot_, fileName_, values_);
  // The whole text is made before the file is touched, so values that cannot
  // be written leave the old file as it was.
  std::string text;
  if (!values_.toString(text, true)) return false;
  zp::FileTime written;
  if (zp::writeFileAtomically(fileName_, text, &written) != zp::kFileErrorNone) return false;
  // Our own write is not a change to read back, unless another writer
  // replaced the file since (its time is not the one we wrote).
  zp::FileIdentity identity;
  if (zp::fileIdentity(fileName_, identity) == zp::kFileErrorNone &&
      identity.lastWrite.seconds == written.seconds &&
      identity.lastWrite.nanoseconds == written.nanoseconds) {
    setFileStamp(identity);
  } else {
    forgetFileStamp();
  }
  return true;
}

bool zuPreferences::fileIsCurrent(const zp::FileIdentity& identity) const {
  return stamped_ && identity == fileIdentity_;
}

void zuPreferences::setFileStamp(const zp::FileIdentity& identity) {
  fileIdentity_ = identity;
  stamped_ = true;
}

void zuPreferences::forgetFileStamp() {
  fileIdentity_ = zp::FileIdentity{};
  stamped_ = false;
}
