#pragma once
// Internal: the folders and key files behind the registry stand-in, shared by
// the registry calls and the service database. Callers that change a key hold
// RegistryLock around the read-modify-write.
#include <string>
#include <string_view>
#include <vector>

#include "loam/platform/zuTypes.h"
#include "zuPlatformStore.h"

namespace zuPlatform::store {

struct RegValue {
  std::string name;
  u32 type = 0;
  std::string data;
};

struct RegKeyData {
  std::string name;  // the key's own name as created (its case kept)
  std::vector<RegValue> values;

  RegValue* find(std::string_view valueName);
  const RegValue* find(std::string_view valueName) const;
  // Replaces the value of that name in place (keeping its name's case and its
  // place) or appends a new one.
  void set(std::string_view valueName, u32 type, std::string data);
};

// <root>/registry/HKEY_LOCAL_MACHINE: the folder of the one hive.
std::string hiveFolder();

// The registry's lock, held exclusively by every change, in any process.
class RegistryLock {
 public:
  RegistryLock();
  // 0 when the lock is held, else a Windows error.
  u32 error() const { return error_; }

 private:
  FileLock lock_;
  u32 error_ = 0;
};

// Splits "A\B\C" into its names after checking them: null or "" gives no
// names; an empty name (leading or doubled backslash) 161; a name too long,
// by itself or escaped, 87. A single trailing backslash is ignored.
[[nodiscard]] u32 splitKeyPath(const char* subKey, std::vector<std::string>& names);

// The folder of base/names..., relative to the hive ("" is the hive itself).
std::string childFolder(const std::string& base, const std::vector<std::string>& names);

// True when the key's folder exists (the hive always does).
bool keyExists(const std::string& folder);

// Reads a key's name and values: 2 when the key does not exist, 1009 when its
// file is corrupt.
[[nodiscard]] u32 readKey(const std::string& folder, RegKeyData& out);

// Replaces a key's values atomically. The key must exist.
[[nodiscard]] u32 writeKey(const std::string& folder, const RegKeyData& data);

// Creates the missing keys of base/names... (each appears whole: its folder
// and file are made aside and renamed into place). created tells whether the
// last one was new. Caller holds the lock.
[[nodiscard]] u32 createKeys(const std::string& base, const std::vector<std::string>& names,
                             std::string& folder, bool& created);

// Removes what writers that died mid-change left in the key's folder and its
// parent's. Takes the lock, and only when there is something to remove.
void removeLeftovers(const std::string& folder);

// Removes a key with everything under it. Caller holds the lock.
[[nodiscard]] u32 deleteKeyTree(const std::string& folder);

}  // namespace zuPlatform::store
