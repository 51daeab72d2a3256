#include "loam/platform/zuPlatformRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRegistryStore.h"
#include "loam/platform/zuPlatformRoot.h"

namespace zuPlatform {

namespace store {

namespace {

constexpr const char* kKeyFileName = "#key";
constexpr std::string_view kKeyFileMagic = "TWREG 1\n";
constexpr const char* kHiveName = "HKEY_LOCAL_MACHINE";
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

std::atomic<u64> g_asideCounter{0};

std::string absoluteFolder(const std::string& folder) {
  return folder.empty() ? hiveFolder() : joinPath(hiveFolder(), folder);
}

std::string asideName() {
  return std::to_string(::getpid()) + "." + std::to_string(g_asideCounter.fetch_add(1));
}

std::string parentFolder(const std::string& folder) {
  const size_t slash = folder.rfind('/');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

std::string serialize(const RegKeyData& data) {
  std::string out(kKeyFileMagic);
  out += "N " + std::to_string(data.name.size()) + "\n" + data.name + "\n";
  for (const RegValue& v : data.values) {
    out += "V " + std::to_string(v.type) + " " + std::to_string(v.name.size()) + " " +
           std::to_string(v.data.size()) + "\n";
    out += v.name;
    out += v.data;
    out += '\n';
  }
  return out;
}

// Reads "<tag> n1 n2 ...\n" at pos into numbers; false when malformed.
bool readHeader(std::string_view text, size_t& pos, char tag, u64* numbers, size_t count) {
  if (pos + 2 > text.size() || text[pos] != tag || text[pos + 1] != ' ') return false;
  pos += 2;
  for (size_t i = 0; i < count; ++i) {
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, numbers[i]);
    if (ec != std::errc() || ptr == first) return false;
    pos += static_cast<size_t>(ptr - first);
    const char want = i + 1 == count ? '\n' : ' ';
    if (pos >= text.size() || text[pos] != want) return false;
    ++pos;
  }
  return true;
}

bool take(std::string_view text, size_t& pos, u64 length, std::string& out) {
  if (length > text.size() - pos) return false;
  out.assign(text.substr(pos, static_cast<size_t>(length)));
  pos += static_cast<size_t>(length);
  return true;
}

bool parse(std::string_view text, RegKeyData& out) {
  if (text.substr(0, kKeyFileMagic.size()) != kKeyFileMagic) return false;
  size_t pos = kKeyFileMagic.size();
  u64 n[3] = {};
  if (!readHeader(text, pos, 'N', n, 1) || !take(text, pos, n[0], out.name)) return false;
  if (pos >= text.size() || text[pos++] != '\n') return false;
  // Value names are unique without regard to case (a write keeps them so); a
  // file that repeats one was damaged, and lookups would see only the first.
  std::unordered_set<std::string> names;
  while (pos < text.size()) {
    RegValue v;
    if (!readHeader(text, pos, 'V', n, 3) || n[0] > 0xFFFFFFFFu || n[2] > 0xFFFFFFFFu) {
      return false;
    }
    v.type = static_cast<u32>(n[0]);
    // Names come in as C strings, so a NUL in one means the file was damaged.
    if (!take(text, pos, n[1], v.name) || !take(text, pos, n[2], v.data) ||
        v.name.find('\0') != std::string::npos) {
      return false;
    }
    if (pos >= text.size() || text[pos++] != '\n') return false;
    if (!names.insert(lowerAsciiCopy(v.name)).second) return false;
    out.values.push_back(std::move(v));
  }
  return true;
}

// The last name of a folder without its escapes, for keys whose file is gone.
std::string unescapedLeaf(const std::string& folder) {
  const std::string leaf = folder.substr(folder.rfind('/') + 1);
  std::string out;
  for (size_t i = 0; i < leaf.size(); ++i) {
    unsigned byte = 0;
    if (leaf[i] == '%' && i + 2 < leaf.size() &&
        std::from_chars(leaf.data() + i + 1, leaf.data() + i + 3, byte, 16).ptr ==
            leaf.data() + i + 3) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += leaf[i];
    }
  }
  return out;
}

}  // namespace

RegValue* RegKeyData::find(std::string_view valueName) {
  for (RegValue& v : values) {
    if (equalsNoCase(v.name, valueName)) return &v;
  }
  return nullptr;
}

const RegValue* RegKeyData::find(std::string_view valueName) const {
  return const_cast<RegKeyData*>(this)->find(valueName);
}

void RegKeyData::set(std::string_view valueName, u32 type, std::string data) {
  if (RegValue* v = find(valueName)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  values.push_back(RegValue{std::string(valueName), type, std::move(data)});
}

std::string hiveFolder() { return joinPath(joinPath(rootFolder(), "registry"), kHiveName); }

static std::string registryLockFile() {
  const std::string folder = joinPath(rootFolder(), "registry");
  makeFolders(folder, kFolderMode);  // a failure shows when the lock file is opened
  return joinPath(folder, "registry.lock");
}

RegistryLock::RegistryLock() : lock_(registryLockFile()) {
  if (!lock_.lockExclusive()) error_ = errorFromErrno(lock_.error(), kErrorRegistryIoFailed);
}

u32 splitKeyPath(const char* subKey, std::vector<std::string>& names) {
  names.clear();
  if (!subKey || !*subKey) return kErrorSuccess;
  std::string_view rest(subKey);
  if (rest.back() == '\\') rest.remove_suffix(1);
  for (;;) {
    const size_t slash = rest.find('\\');
    const std::string_view name = rest.substr(0, slash);
    if (name.empty()) return kErrorBadPathname;
    if (name.size() > kRegMaxKeyNameLength || escapeName(name).size() > 255) {
      return kErrorInvalidParameter;
    }
    names.emplace_back(name);
    if (slash == std::string_view::npos) return kErrorSuccess;
    rest.remove_prefix(slash + 1);
  }
}

std::string childFolder(const std::string& base, const std::vector<std::string>& names) {
  std::string folder = base;
  for (const std::string& name : names) {
    if (!folder.empty()) folder += '/';
    folder += escapeName(name);
  }
  return folder;
}

bool keyExists(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat st {};
  return ::stat(absoluteFolder(folder).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

u32 readKey(const std::string& folder, RegKeyData& out) {
  out = RegKeyData{};
  if (!keyExists(folder)) return kErrorFileNotFound;
  std::string text;
  const int err = readWholeFile(joinPath(absoluteFolder(folder), kKeyFileName), text);
  if (err == ENOENT) {
    // The hive before its first value, or a key whose file was lost.
    if (!keyExists(folder)) return kErrorFileNotFound;
    out.name = folder.empty() ? std::string(kHiveName) : unescapedLeaf(folder);
    return kErrorSuccess;
  }
  if (err != 0) return errorFromErrno(err, kErrorRegistryIoFailed);
  if (!parse(text, out)) {
    out = RegKeyData{};
    return kErrorBadDatabase;
  }
  return kErrorSuccess;
}

u32 writeKey(const std::string& folder, const RegKeyData& data) {
  const std::string abs = absoluteFolder(folder);
  if (folder.empty()) {
    const int err = makeFolders(abs, kFolderMode);
    if (err != 0) return errorFromErrno(err, kErrorRegistryIoFailed);
  } else if (!keyExists(folder)) {
    return kErrorKeyDeleted;
  }
  const int err = writeFileAtomic(joinPath(abs, kKeyFileName), serialize(data), kFileMode);
  return errorFromErrno(err, kErrorRegistryIoFailed);
}

u32 createKeys(const std::string& base, const std::vector<std::string>& names, std::string& folder,
               bool& created) {
  created = false;
  folder = base;
  if (!keyExists(base)) return kErrorKeyDeleted;
  const std::string hive = hiveFolder();
  const int hiveErr = makeFolders(hive, kFolderMode);
  if (hiveErr != 0) return errorFromErrno(hiveErr, kErrorRegistryIoFailed);
  for (const std::string& name : names) {
    const std::string next = folder.empty() ? escapeName(name) : folder + "/" + escapeName(name);
    created = false;
    if (!keyExists(next)) {
      // Made aside and renamed into place, so the key appears with its file.
      const std::string aside = joinPath(absoluteFolder(folder), "#new." + asideName());
      if (::mkdir(aside.c_str(), kFolderMode) != 0) {
        return errorFromErrno(errno, kErrorRegistryIoFailed);
      }
      RegKeyData data;
      data.name = name;
      const int err = writeFileAtomic(joinPath(aside, kKeyFileName), serialize(data), kFileMode);
      if (err != 0 || ::rename(aside.c_str(), absoluteFolder(next).c_str()) != 0) {
        const int renameErr = err != 0 ? err : errno;
        std::error_code ec;
        std::filesystem::remove_all(aside, ec);
        if (renameErr != EEXIST && renameErr != ENOTEMPTY) {
          return errorFromErrno(renameErr, kErrorRegistryIoFailed);
        }
      } else {
        created = true;
      }
    }
    folder = next;
  }
  return kErrorSuccess;
}

u32 deleteKeyTree(const std::string& folder) {
  if (folder.empty()) return kErrorAccessDenied;
  if (!keyExists(folder)) return kErrorFileNotFound;
  // Renamed away first, so the key vanishes at once and whole.
  const std::string aside =
      joinPath(absoluteFolder(parentFolder(folder)), "#deleted." + asideName());
  if (::rename(absoluteFolder(folder).c_str(), aside.c_str()) != 0) {
    return errorFromErrno(errno, kErrorRegistryIoFailed);
  }
  std::error_code ec;
  std::filesystem::remove_all(aside, ec);
  return kErrorSuccess;
}

}  // namespace store

namespace {

struct OpenKey {
  std::string folder;
  u32 access = 0;
};

// Handles are never reused, and start above the predefined ones.
struct KeyTable {
  std::mutex mutex;
  std::unordered_map<RegKey, OpenKey> keys;
  RegKey next = 0x100000000ull;
};

KeyTable& keyTable() {
  static KeyTable table;
  return table;
}

bool lookupKey(RegKey key, OpenKey& out) {
  if (key == kRegLocalMachine) {
    out = OpenKey{std::string(), kKeyAllAccess};
    return true;
  }
  KeyTable& table = keyTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  const auto it = table.keys.find(key);
  if (it == table.keys.end()) return false;
  out = it->second;
  return true;
}

RegKey addKey(std::string folder, u32 access) {
  KeyTable& table = keyTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  const RegKey key = table.next++;
  table.keys.emplace(key, OpenKey{std::move(folder), access});
  return key;
}

u32 readOpenKey(RegKey key, u32 right, store::RegKeyData& data) {
  OpenKey open;
  if (!lookupKey(key, open)) return kErrorInvalidHandle;
  if ((open.access & right) != right) return kErrorAccessDenied;
  const u32 err = store::readKey(open.folder, data);
  return err == kErrorFileNotFound ? kErrorKeyDeleted : err;
}

// Copies value bytes out by the registry's size protocol.
u32 copyOut(const std::string& bytes, u8* data, u32* size) {
  const auto length = static_cast<u32>(bytes.size());
  if (!size) return kErrorSuccess;
  if (!data) {
    *size = length;
    return kErrorSuccess;
  }
  if (*size < length) {
    *size = length;
    return kErrorMoreData;
  }
  if (length > 0) std::memcpy(data, bytes.data(), length);
  *size = length;
  return kErrorSuccess;
}

}  // namespace

u32 regCreateKeyEx(RegKey parent, const char* subKey, u32 access, RegKey* result,
                   u32* disposition) {
  if (!result) return kErrorInvalidParameter;
  *result = kRegKeyNone;
  OpenKey open;
  if (!lookupKey(parent, open)) return kErrorInvalidHandle;
  std::vector<std::string> names;
  u32 err = store::splitKeyPath(subKey, names);
  if (err != kErrorSuccess) return err;
  std::string folder = store::childFolder(open.folder, names);
  bool created = false;
  if (!store::keyExists(folder)) {
    if ((open.access & kKeyCreateSubKey) == 0) return kErrorAccessDenied;
    store::RegistryLock lock;
    if (lock.error() != kErrorSuccess) return lock.error();
    err = store::createKeys(open.folder, names, folder, created);
    if (err != kErrorSuccess) return err;
  }
  *result = addKey(std::move(folder), access);
  if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

u32 regOpenKeyEx(RegKey parent, const char* subKey, u32 access, RegKey* result) {
  if (!result) return kErrorInvalidParameter;
  *result = kRegKeyNone;
  OpenKey open;
  if (!lookupKey(parent, open)) return kErrorInvalidHandle;
  std::vector<std::string> names;
  const u32 err = store::splitKeyPath(subKey, names);
  if (err != kErrorSuccess) return err;
  std::string folder = store::childFolder(open.folder, names);
  if (!store::keyExists(folder)) return kErrorFileNotFound;
  *result = addKey(std::move(folder), access);
  return kErrorSuccess;
}

u32 regSetValueEx(RegKey key, const char* valueName, u32 type, const u8* data, u32 size) {
  OpenKey open;
  if (!lookupKey(key, open)) return kErrorInvalidHandle;
  if ((open.access & kKeySetValue) == 0) return kErrorAccessDenied;
  const std::string_view name = valueName ? valueName : "";
  if (name.size() > kRegMaxValueNameLength || (!data && size > 0)) return kErrorInvalidParameter;
  store::RegistryLock lock;
  if (lock.error() != kErrorSuccess) return lock.error();
  store::RegKeyData keyData;
  u32 err = store::readKey(open.folder, keyData);
  if (err == kErrorFileNotFound) return kErrorKeyDeleted;
  if (err != kErrorSuccess) return err;
  keyData.set(name, type, std::string(reinterpret_cast<const char*>(data), data ? size : 0));
  return store::writeKey(open.folder, keyData);
}

u32 regQueryValueEx(RegKey key, const char* valueName, u32* type, u8* data, u32* size) {
  if (data && !size) return kErrorInvalidParameter;
  store::RegKeyData keyData;
  const u32 err = readOpenKey(key, kKeyQueryValue, keyData);
  if (err != kErrorSuccess) return err;
  const store::RegValue* value = keyData.find(valueName ? valueName : "");
  if (!value) return kErrorFileNotFound;
  if (type) *type = value->type;
  return copyOut(value->data, data, size);
}

u32 regEnumValue(RegKey key, u32 index, char* name, u32* nameSize, u32* type, u8* data,
                 u32* dataSize) {
  if (!name || !nameSize || (data && !dataSize)) return kErrorInvalidParameter;
  store::RegKeyData keyData;
  const u32 err = readOpenKey(key, kKeyQueryValue, keyData);
  if (err != kErrorSuccess) return err;
  if (index >= keyData.values.size()) return kErrorNoMoreItems;
  const store::RegValue& value = keyData.values[index];
  if (value.name.size() + 1 > *nameSize) return kErrorMoreData;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameSize = static_cast<u32>(value.name.size());
  if (type) *type = value.type;
  return copyOut(value.data, data, dataSize);
}

u32 regCloseKey(RegKey key) {
  if (key == kRegLocalMachine) return kErrorSuccess;
  KeyTable& table = keyTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.keys.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace zuPlatform
