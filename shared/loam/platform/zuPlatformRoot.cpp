#include "loam/platform/zuPlatformRoot.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformFile.h"

namespace zuPlatform {

namespace {

// mkdir -p: every missing folder of the path, each with the default mode.
u32 makeFolders(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0777) == 0 || errno == EEXIST) continue;
    return errorFromErrno(errno);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errorFromErrno(errno);
  return S_ISDIR(st.st_mode) ? kFileErrorNone : kFileErrorPathNotFound;
}

}  // namespace

std::string rootFolder() {
  const char* env = std::getenv(kPlatformRootVariable);
  std::string root = (env && *env) ? nativePath(env) : std::string(kDefaultPlatformRoot);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

u32 commonAppDataFolder(std::string& out, bool create) {
  const std::string root = rootFolder();
  std::string folder = root == "/" ? "/ProgramData" : root + "/ProgramData";
  if (create) {
    const u32 err = makeFolders(folder);
    if (err != kFileErrorNone) return err;
  } else {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kFileErrorFileNotFound;
  }
  out = std::move(folder);
  return kFileErrorNone;
}

}  // namespace zuPlatform
