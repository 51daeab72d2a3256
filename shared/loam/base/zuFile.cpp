#include "loam/base/zuFile.h"

#include <atomic>
#include <mutex>

#include "loam/base/zuDate.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/platform/zuPlatformTime.h"

namespace {

// Paths handed over by the operating system must fit buffers of this size,
// terminating NUL included.
constexpr size_t kPathBufferSize = 260;

bool fitsPathBuffer(const std::string& path) { return path.size() < kPathBufferSize; }

bool isDotEntry(const std::string& name) { return name == "." || name == ".."; }

std::string withoutTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

ZU_INIT_ORDER(ZU_INIT_MODULE_PATH) std::string g_modulePath;
ZU_INIT_ORDER(ZU_INIT_MODULE_PATH) zuPlatform::InitNote g_modulePathNote{ZU_INIT_MODULE_PATH};
ZU_INIT_ORDER(ZU_INIT_MODULE_FOLDER) std::string g_moduleDirectory;
ZU_INIT_ORDER(ZU_INIT_MODULE_FOLDER) zuPlatform::InitNote g_moduleFolderNote{ZU_INIT_MODULE_FOLDER};
ZU_INIT_ORDER(ZU_INIT_MODULE_FILE_NAME) std::string g_moduleFileName;
ZU_INIT_ORDER(ZU_INIT_MODULE_FILE_NAME)
zuPlatform::InitNote g_moduleFileNameNote{ZU_INIT_MODULE_FILE_NAME};
std::mutex g_moduleLock;
std::atomic<bool> g_moduleFilled{false};

// Once filled, the three strings never change again, so they are read without the lock.
bool fillModulePath() {
  if (g_moduleFilled.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> lock(g_moduleLock);
  if (g_moduleFilled.load(std::memory_order_relaxed)) return true;
  std::string path;
  if (zuPlatform::modulePath(path) != zuPlatform::kFileErrorNone || path.empty() ||
      !fitsPathBuffer(path))
    return false;
  std::string dir;
  std::string name;
  zuSplitPath(path, dir, name);
  g_modulePath = std::move(path);
  g_moduleDirectory = std::move(dir);
  g_moduleFileName = std::move(name);
  g_moduleFilled.store(true, std::memory_order_release);
  return true;
}

// Handed out after a failure instead of the cache, which a later call may still fill.
const std::string& noPath() {
  static const std::string empty;
  return empty;
}

}  // namespace

bool zuSetCurrentDirectory(const std::string& path) {
  if (path.empty()) return true;
  return zuPlatform::setCurrentDirectory(path) == zuPlatform::kFileErrorNone;
}

std::string zuGetCurrentDirectory() {
  std::string path;
  if (zuPlatform::currentDirectory(path) != zuPlatform::kFileErrorNone || !fitsPathBuffer(path))
    return std::string();
  return path;
}

bool zuCreateDirectory(const std::string& path) {
  return zuPlatform::createDirectory(withoutTrailingBackslash(path)) == zuPlatform::kFileErrorNone;
}

bool zuRemoveDirectoryTree(const std::string& dir) {
  // A link given as the tree is removed itself: following it would empty its target.
  zuPlatform::FindData self;
  std::string bare = dir;
  while (bare.size() > 1 && zuIsPathSeparator(bare.back())) bare.pop_back();
  if (zuPlatform::fileInfo(bare, self) == zuPlatform::kFileErrorNone && self.link)
    return zuDeleteFile(bare);

  std::vector<zuPlatform::FindData> entries;
  if (zuPlatform::searchFiles(zuAppendPath(dir, "*.*"), entries) != zuPlatform::kFileErrorNone)
    return false;
  for (const auto& entry : entries) {
    const std::string child = zuAppendPath(dir, entry.name);
    if (entry.directory && !entry.link) {
      if (!isDotEntry(entry.name)) zuRemoveDirectoryTree(child);  // a failure shows in rmdir below
    } else if (!zuDeleteFile(child)) {
      return false;
    }
  }
  return zuPlatform::removeDirectory(dir) == zuPlatform::kFileErrorNone;
}

bool zuIsDirectory(const std::string& path) {
  std::vector<zuPlatform::FindData> entries;
  if (zuPlatform::searchFiles(withoutTrailingBackslash(path), entries) !=
      zuPlatform::kFileErrorNone)
    return false;
  return !entries.empty() && entries.front().directory;
}

const std::string& zuGetModulePath() { return fillModulePath() ? g_modulePath : noPath(); }

const std::string& zuGetModuleDirectory() {
  return fillModulePath() ? g_moduleDirectory : noPath();
}

const std::string& zuGetModuleFileName() { return fillModulePath() ? g_moduleFileName : noPath(); }

bool zuGetFileTime(const std::string& path, zuDate& date, zuTimeOfDay& time) {
  std::vector<zuPlatform::FindData> entries;
  if (zuPlatform::searchFiles(path, entries) != zuPlatform::kFileErrorNone || entries.empty())
    return false;
  const zuPlatform::FileTime& written = entries.front().lastWrite;
  zuPlatform::LocalTime local;
  if (!zuPlatform::toLocalTime(written.seconds, static_cast<u16>(written.nanoseconds / 1000000u),
                               local))
    return false;
  date.set(local.day, local.month, local.year);
  time.set(local.hour, local.minute, local.second, local.millisecond);
  return true;
}

bool zuFileExists(const std::string& path) {
  return zuPlatform::checkReadable(path) == zuPlatform::kFileErrorNone;
}

bool zuDeleteFile(const std::string& path) {
  return zuPlatform::deleteFile(path) == zuPlatform::kFileErrorNone;
}

bool zuMoveFile(const std::string& from, const std::string& to) {
  return zuPlatform::moveFile(from, to) == zuPlatform::kFileErrorNone;
}

bool zuCopyFile(const std::string& from, const std::string& to) {
  return zuPlatform::copyFile(from, to) == zuPlatform::kFileErrorNone;
}

std::string zuGetTempPath() {
  std::string path;
  if (zuPlatform::tempPath(path) != zuPlatform::kFileErrorNone || !fitsPathBuffer(path))
    return std::string();
  return path;
}

std::string zuGetTempFileName(const std::string& dir) {
  std::string folder = dir;
  if (folder.empty()) {
    folder = zuGetTempPath();
    if (folder.empty()) folder = ".";
  }
  std::string path;
  if (zuPlatform::createTempFile(folder, "tmp", path) != zuPlatform::kFileErrorNone)
    return std::string();
  return path;
}

void zuFindFiles(const std::string& dir, const std::string& pattern, std::vector<std::string>& out,
                 bool recursive) {
  std::vector<zuPlatform::FindData> entries;
  if (zuPlatform::searchFiles(zuAppendPath(dir, pattern), entries) == zuPlatform::kFileErrorNone) {
    for (const auto& entry : entries)
      if (!entry.directory) out.push_back(zuAppendPath(dir, entry.name));
  }
  if (!recursive) return;
  if (zuPlatform::searchFiles(zuAppendPath(dir, "*.*"), entries) != zuPlatform::kFileErrorNone)
    return;
  for (const auto& entry : entries) {
    // A link to a folder is not entered: it may lead out of the tree or round in a cycle.
    if (entry.directory && !entry.link && !isDotEntry(entry.name))
      zuFindFiles(zuAppendPath(dir, entry.name), pattern, out, recursive);
  }
}
