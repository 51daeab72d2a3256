#include "loam/platform/zuPlatformPrivateFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

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
  for (;;) {
    const int fd = ::open(nativePath(path).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

bool writeAll(Handle file, const void* data, std::size_t n) {
  const char* at = static_cast<const char*>(data);
  while (n != 0) {
    const ssize_t written = ::write(file, at, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += written;
    n -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace zuPlatform
