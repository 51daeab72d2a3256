#pragma once
// A set of named values bound to one preference file (or one registry key)
// behind its own recursive lock. Reads first bring the values up to date, but
// the file is read again only when it has changed since the last load (another
// file under the name, another size or another last-write time to the
// nanosecond), so values may be asked for as often as callers like.
//
// The operations named locked*, setValue and removeValue take the lock
// themselves. load and save do not: a caller that reads several values as one
// consistent set takes mutex() through zuStMutex, calls load and then reads
// values() directly.
#include <string>

#include "loam/base/zuProperties.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuTypes.h"
#include "loam/threads/zuMemMutex.h"

class zuPreferences {
 public:
  zuPreferences() = default;
  zuPreferences(const zuPreferences&) = delete;
  zuPreferences& operator=(const zuPreferences&) = delete;

  // The file can be opened for reading; bound to the registry, the key can be
  // opened for reading.
  bool exists() const;
  // The file's path, or the key's path under the registry root.
  std::string fileName() const;
  // Binds the store to a file.
  void setFileName(const std::string& name);
  // Binds the store to the key keyPath ("A\B\C") under root instead of a file.
  void setRegistryKey(zuPlatform::RegKey root, const std::string& keyPath);
  bool usesRegistry() const;

  // When set, a store that has loaded successfully once never loads again.
  void setLoadOnce(bool loadOnce);
  // When set (the default), setValue and removeValue save after the change.
  void setAutoSave(bool autoSave);
  // The number of successful loads that read the file or key.
  u32 loadCount() const;

  bool lockedLoad();
  // Without force, writes only when the values were modified.
  bool lockedSave(bool force);
  // False when the load fails or the name is missing.
  bool lockedGet(const std::string& name, std::string& value);
  // Only a value that reads as the number 0 is false: a missing entry, any
  // other value and a failed load read as true.
  bool lockedGetBool(const std::string& name);
  // Sets the value and, with auto-save, saves. False when the save fails;
  // with auto-save, also false, with nothing changed, when the file is there
  // but did not load (it is never replaced by what a failed read left).
  bool setValue(const std::string& name, const std::string& value);
  // Removes the value and, with auto-save, saves; false as for setValue.
  bool removeValue(const std::string& name);

  // The caller holds mutex(). load reads the file when it changed (clearing
  // the values first); save writes all values, replacing the file as a whole.
  bool load();
  bool save();

  zuMemMutex& mutex() const { return lock_; }
  zuProperties& values() { return values_; }
  const zuProperties& values() const { return values_; }

 private:
  bool fileIsCurrent(const zuPlatform::FileIdentity& identity) const;
  void setFileStamp(const zuPlatform::FileIdentity& identity);
  void forgetFileStamp();
  // False when the values would be saved over a file that is there but did
  // not load.
  bool loadForChange();

  std::string fileName_;
  zuProperties values_;
  mutable zuMemMutex lock_;
  // The identity of the file whose contents the values hold, when stamped_.
  zuPlatform::FileIdentity fileIdentity_;
  bool stamped_ = false;
  bool loadOnce_ = false;
  u32 loadCount_ = 0;
  bool autoSave_ = true;
  zuPlatform::RegKey registryRoot_ = zuPlatform::kRegLocalMachine;
  bool useRegistry_ = false;
};
