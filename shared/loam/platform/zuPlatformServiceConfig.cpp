// The service database in the registry: a service is the key
// SYSTEM\\CurrentControlSet\\Services\\<name>, with Windows' value names.
#include <cstring>
#include <string>

#include "internal/zuPlatformServiceParts.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformRoot.h"

namespace zuPlatform::service {

namespace {

std::string servicesKeyFolder() {
  return store::childFolder("", {"SYSTEM", "CurrentControlSet", "Services"});
}

bool dwordValue(const store::RegKeyData& key, std::string_view name, u32& out) {
  const store::RegValue* v = key.find(name);
  if (!v || v->type != kRegDword || v->data.size() != 4) return false;
  std::memcpy(&out, v->data.data(), 4);
  return true;
}

std::string stringValue(const store::RegKeyData& key, std::string_view name) {
  const store::RegValue* v = key.find(name);
  if (!v) return std::string();
  return v->data.substr(0, v->data.find('\0'));
}

std::vector<std::string> multiStringValue(const store::RegKeyData& key, std::string_view name) {
  std::vector<std::string> out;
  const store::RegValue* v = key.find(name);
  if (!v) return out;
  size_t pos = 0;
  while (pos < v->data.size()) {
    const size_t end = v->data.find('\0', pos);
    std::string item =
        v->data.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (item.empty()) break;
    out.push_back(std::move(item));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return out;
}

}  // namespace

u32 checkServiceName(const char* name) {
  if (!name || !*name) return kErrorInvalidName;
  const std::string_view text(name);
  if (text.size() > kMaxServiceNameLength || text.find_first_of("/\\") != std::string_view::npos ||
      store::escapeName(text).size() > 255) {
    return kErrorInvalidName;
  }
  return kErrorSuccess;
}

std::string serviceKeyFolder(const std::string& escaped) {
  return servicesKeyFolder() + "/" + escaped;
}

std::string runtimeFolder(const std::string& escaped) {
  return store::joinPath(store::joinPath(rootFolder(), "services"), escaped);
}

std::string runtimeFile(const std::string& escaped, std::string_view leaf) {
  return store::joinPath(runtimeFolder(escaped), leaf);
}

std::string workFolder() { return store::joinPath(rootFolder(), "work"); }

std::string dwordBytes(u32 value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::string stringBytes(std::string_view text) { return std::string(text) + '\0'; }

u32 loadConfig(const std::string& escaped, ServiceConfig& out, store::RegKeyData* keyOut) {
  store::RegKeyData key;
  const u32 err = store::readKey(serviceKeyFolder(escaped), key);
  if (err == kErrorFileNotFound) return kErrorServiceDoesNotExist;
  if (err != kErrorSuccess) return err;
  out = ServiceConfig{};
  if (!dwordValue(key, "Type", out.type)) return kErrorServiceDoesNotExist;
  out.name = key.name;
  dwordValue(key, "Start", out.start);
  dwordValue(key, "ErrorControl", out.errorControl);
  out.imagePath = stringValue(key, "ImagePath");
  out.displayName = stringValue(key, "DisplayName");
  out.objectName = stringValue(key, "ObjectName");
  out.dependencies = multiStringValue(key, "DependOnService");
  u32 flag = 0;
  out.deleteFlag = dwordValue(key, "DeleteFlag", flag) && flag != 0;
  if (keyOut) *keyOut = std::move(key);
  return kErrorSuccess;
}

}  // namespace zuPlatform::service
