#include "loam/platform/zuPlatformPrivateFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <vector>

#include "loam/platform/internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformFile.h"

namespace zuPlatform {

namespace {

// The pid in name when it is "<prefix><pid>-" and six more characters, else 0.
pid_t privateFolderOwner(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return 0;
  name.remove_prefix(prefix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || name.size() != dash + 7) return 0;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + dash, pid);
  return ec == std::errc() && end == name.data() + dash && pid > 0 ? pid : 0;
}

// Removes the folder name in the folder open as parent with all it holds,
// never following a link (a link is removed, not what it points to).
void removeTreeAt(int parent, const char* name, int depth) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view entryName(entry->d_name);
    if (entryName == "." || entryName == "..") continue;
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode) && depth < 32) removeTreeAt(fd, entry->d_name, depth + 1);
    else ::unlinkat(fd, entry->d_name, 0);
  }
  ::closedir(dir);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

}  // namespace

int createPrivateFolder(const std::string& dir, const std::string& prefix, std::string& out) {
  std::string base = nativePath(dir);
  if (!base.empty() && base.back() != '/') base += '/';
  const std::string pattern = base + prefix + std::to_string(::getpid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes the folder with mode 0700.
  if (::mkdtemp(name.data()) == nullptr) return errno;
  out.assign(name.data());
  return 0;
}

void removeStalePrivateFolders(const std::string& dir, const std::string& prefix) {
  const std::string native = nativePath(dir);
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* folder = ::fdopendir(fd);
  if (!folder) {
    ::close(fd);
    return;
  }
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(folder)) {
    const pid_t owner = privateFolderOwner(entry->d_name, prefix);
    // A running owner may still be using it; one that ended is done with it,
    // reaped or not (a killed service is reaped by init, in its own time).
    if (owner == 0 || owner == self || !store::processEnded(owner)) continue;
    // Only a folder as createPrivateFolder makes it: ours, not a link, and
    // closed to others, so nobody else can have put anything inside.
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
      continue;
    removeTreeAt(fd, entry->d_name, 0);
  }
  ::closedir(folder);
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
