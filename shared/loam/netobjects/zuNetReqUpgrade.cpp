#include "loam/netobjects/zuNetReqUpgrade.h"

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/base/zuPath.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/threads/zuLog.h"

zuNetReqUpgrade::zuNetReqUpgrade(const std::string& filePath, const std::string& text1,
                                 const std::string& text2, u32 value)
    : file_(filePath, std::ios::in | std::ios::binary) {
  if (!file_.is_open()) {
    const zuErrorMessage error(zuErrFileRead, kzuFileReadErrorText, 'f', filePath);
    zuLog::log(0, error);
    throw zuException(error);
  }
  std::string folder, name;
  zuSplitPath(filePath, folder, name);
  zuNetWriter& out = outgoing();
  out.putString(name);
  out.putString(text1);
  out.putString(text2);
  out.putUInt32(value);
  setInputStream(&file_);
  setSourceName(filePath);
}

zuNetReqUpgrade::~zuNetReqUpgrade() = default;

u8 zuNetReqUpgrade::getType() const { return zuNOT_Upgrade; }

const char* zuNetReqUpgrade::getTypeName() const { return "zuNOT_Upgrade"; }

const char* zuNetReqUpgrade::getName() const { return "Upgrade"; }

void zuNetReqUpgrade::start(zuNetObjectHandler* handler) {
  file_.clear();
  file_.seekg(0);
  zuNetReqStreamToNet::start(handler);
}
