#include "loam/platform/zuPlatformPrivateFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "loam/platform/internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformFile.h"

namespace zuPlatform {

u32 createPrivateFolder(const std::string& dir, const std::string& prefix, std::string& out) {
  std::string base = nativePath(dir);
  if (!base.empty() && base.back() != '/') base += '/';
  const std::string pattern = base + prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes the folder with mode 0700.
  if (::mkdtemp(name.data()) == nullptr) return static_cast<u32>(errno);
  out.assign(name.data());
  return 0;
}

Handle createNewFile(const std::string& path, bool executable) {
  const mode_t mode = executable ? 0700 : 0600;
  const std::string native = nativePath(path);
  return store::retryOnSignal([&] {
    return ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                  mode);
  });
}

bool writeAll(Handle file, const void* data, std::size_t n) {
  return store::writeAll(file, std::string_view(static_cast<const char*>(data), n));
}

}  // namespace zuPlatform
