#include "loam/netobjects/zuNetResWriteFile.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "loam/base/zuException.h"
#include "loam/base/zuFile.h"
#include "loam/base/zuPath.h"
#include "loam/netobjects/zuErrnoText.h"
#include "loam/netobjects/zuNetFilePath.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformOutputFile.h"

zuNetResWriteFile::zuNetResWriteFile(const std::string& root) : root_(root) {}

zuNetResWriteFile::~zuNetResWriteFile() {
  file_.reset();
  if (!tempPath_.empty()) zuDeleteFile(tempPath_);
}

u8 zuNetResWriteFile::getType() const { return zuNOT_WriteFile; }

const char* zuNetResWriteFile::getTypeName() const { return "zuNOT_WriteFile"; }

const char* zuNetResWriteFile::getName() const { return "WriteFile"; }

std::size_t zuNetResWriteFile::maxGatheredBytes() const { return kMaxFileBytes + kMaxHeadBytes; }

u32 zuNetResWriteFile::handleData(const u8* data, u32 length, bool) {
  zuNetReader reader(data, length);
  fileName_ = reader.getStdString();
  textMode_ = reader.getBool() ? 1 : 0;
  announcedSize_ = reader.getUInt32();
  const u32 used = length - reader.bytesLeft();

  auto refuse = [this](int error) {
    setFileOpenError(fileName_, zuErrnoText(error));
    logError(errorMessage());
    throw zuException(errorMessage());
  };
  const int resolved = zuResolveNetFileName(root_, fileName_, true, targetPath_);
  if (resolved != 0) refuse(resolved);

  std::string folder, name;
  zuSplitPath(targetPath_, folder, name);
  errno = 0;
  // Beside the target, so the final rename stays on one file system.
  if (zuPlatform::createTempFile(folder, "zuw", tempPath_) != 0) {
    const int error = errno != 0 ? errno : EIO;
    tempPath_.clear();
    refuse(error);
  }
  // Opened again by its path: checked on the descriptor, so a temporary
  // file swapped meanwhile for a link, a pipe or a file elsewhere is refused.
  int error = 0;
  file_ = zuPlatform::openOutputFileInside(tempPath_, zuNetFileRoot(root_), error);
  if (!file_ || !file_->good()) refuse(error != 0 ? error : EIO);
  setTarget(file_.get());
  setTargetName(fileName_);
  return used;
}

int zuNetResWriteFile::restoreMode(std::ostream& file, unsigned mode) {
  return zuPlatform::setStreamFileMode(file, mode);
}

u16 zuNetResWriteFile::finishData() {
  const u16 flushed = zuNetResNetToStream::finishData();
  if (flushed != 0) return flushed;
  // The temporary file is private (0600): the stored file takes the mode of
  // the file it replaces, or an ordinary file's. Set after the rename (so a
  // temporary file that stays behind can still be removed) through the
  // still open descriptor, which is the renamed file whatever its path
  // names by then.
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status old = fs::status(targetPath_, ec);
  const fs::perms mode = fs::exists(old) ? old.permissions()
                                         : fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_read;
  const auto close = [this] {
    setTarget(nullptr);
    file_.reset();
  };
  // Flushed above: the file is whole before it is renamed.
  if (!file_ || !file_->good() || !zuMoveFile(tempPath_, targetPath_)) {
    close();
    return writeFailed();
  }
  tempPath_.clear();
  const int restored = restoreMode(*file_, static_cast<unsigned>(mode));
  close();
  return restored == 0 ? 0 : writeFailed();
}
