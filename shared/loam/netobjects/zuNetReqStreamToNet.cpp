#include "loam/netobjects/zuNetReqStreamToNet.h"

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/base/zuPath.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetStreamChunk.h"
#include "loam/platform/zuPlatformOutputFile.h"
#include "loam/threads/zuLog.h"

zuNetReqStreamToNet::zuNetReqStreamToNet() = default;

zuNetReqStreamToNet::~zuNetReqStreamToNet() = default;

u32 zuNetReqStreamToNet::sendData(u8* buffer, u32 maximum, u16& error, bool& last) {
  // The writer's content, also when it is longer than one chunk.
  bool headDone = false;
  u32 n = zuNetObject::sendData(buffer, maximum, error, headDone);
  last = false;
  if (headDone) n += zuReadStreamChunk(input_, buffer + n, maximum - n, last, sourceName_);
  setSendState(last ? kStateIdle : kStateQueued);
  return n;
}

std::unique_ptr<std::istream> zuNetReqStreamToNet::openSourceFile(const std::string& path) {
  std::unique_ptr<std::istream> file = zuPlatform::openInputFile(path);
  if (file->fail()) sourceFileFailed(path);
  return file;
}

void zuNetReqStreamToNet::sourceFileFailed(const std::string& path) {
  const zuErrorMessage error(zuErrFileRead, kzuFileReadErrorText, 'f', path);
  zuLog::log(0, error);
  throw zuException(error);
}

std::string zuNetReqStreamToNet::fileNameOf(const std::string& path) {
  std::string folder, name;
  zuSplitPath(path, folder, name);
  return name;
}
