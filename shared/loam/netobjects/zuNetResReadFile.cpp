#include "loam/netobjects/zuNetResReadFile.h"

#include "loam/netobjects/zuNetFilePath.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/platform/zuPlatformOutputFile.h"

namespace {

constexpr const char* kOpenErrorText = "Error opening file \"$f\".";
constexpr u64 kMaxFileSize = 0xFFFFFFFFu;

}  // namespace

zuNetResReadFile::zuNetResReadFile(const std::string& root) : root_(root) {}

zuNetResReadFile::~zuNetResReadFile() = default;

u8 zuNetResReadFile::getType() const { return zuNOT_ReadFile; }

const char* zuNetResReadFile::getTypeName() const { return "zuNOT_ReadFile"; }

const char* zuNetResReadFile::getName() const { return "ReadFile"; }

std::size_t zuNetResReadFile::maxGatheredBytes() const { return kMaxRequestBytes; }

u16 zuNetResReadFile::openFailed() {
  setError(zuErrFileOpen, kOpenErrorText, 'f', fileName_);
  logError(errorMessage());
  return zuErrFileOpen;
}

u16 zuNetResReadFile::processData(zuNetReader& reader, u32) {
  fileName_ = reader.getStdString();
  textMode_ = reader.getBool() ? 1 : 0;
  if (reader.bytesLeft() != 0) {
    setUnexpectedDataError();
    logError(errorMessage());
    return zuErrUnexpectedData;
  }

  std::string path;
  if (zuResolveNetFileName(root_, fileName_, false, path) != 0) return openFailed();
  // The opened file itself is checked (a regular file inside the root), so
  // a path swapped since it was resolved leads nowhere else; a pipe or a
  // device is refused without a wait. Text mode and binary are the same
  // bytes here.
  int error = 0;
  file_ = zuPlatform::openInputFileInside(path, zuNetFileRoot(root_), error);
  if (!file_ || file_->fail()) return openFailed();

  file_->seekg(0, std::ios::end);
  const std::streamoff size = file_->tellg();
  file_->seekg(0, std::ios::beg);
  if (size < 0 || static_cast<u64>(size) > kMaxFileSize || !file_->good()) return openFailed();
  fileSize_ = static_cast<u32>(size);

  setSource(file_.get());
  setSourceName(fileName_);
  setSourceLimit(fileSize_);
  zuNetWriter& out = outgoing();
  out.reset();
  out.putUInt32(fileSize_);
  return 0;
}
