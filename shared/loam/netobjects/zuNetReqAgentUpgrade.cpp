#include "loam/netobjects/zuNetReqAgentUpgrade.h"

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/base/zuPath.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/threads/zuLog.h"

zuNetReqAgentUpgrade::zuNetReqAgentUpgrade(const std::string& filePath, u8 kind,
                                           const std::string& argument,
                                           const std::string& signature)
    : file_(filePath, std::ios::in | std::ios::binary) {
  std::streamoff size = -1;
  if (file_.is_open() && file_.seekg(0, std::ios::end)) {
    size = file_.tellg();
    file_.seekg(0);
  }
  // The size travels as u32.
  if (size < 0 || size > static_cast<std::streamoff>(0xFFFFFFFFu) || !file_.good()) {
    const zuErrorMessage error(zuErrFileRead, kzuFileReadErrorText, 'f', filePath);
    zuLog::log(0, error);
    throw zuException(error);
  }
  fileSize_ = static_cast<u32>(size);
  std::string folder, name;
  zuSplitPath(filePath, folder, name);
  zuNetWriter& out = outgoing();
  out.putUInt8(kind);
  out.putString(name);
  out.putString(argument);
  out.putString(signature);
  out.putUInt32(fileSize_);
  setInputStream(&file_);
  setSourceName(filePath);
}

zuNetReqAgentUpgrade::~zuNetReqAgentUpgrade() = default;

u8 zuNetReqAgentUpgrade::getType() const { return zuNOT_Login; }

const char* zuNetReqAgentUpgrade::getTypeName() const { return "zuNOT_Login"; }

const char* zuNetReqAgentUpgrade::getName() const { return "Upgrade"; }

void zuNetReqAgentUpgrade::start(zuNetObjectHandler* handler) {
  file_.clear();
  file_.seekg(0);
  zuNetReqStreamToNet::start(handler);
}
