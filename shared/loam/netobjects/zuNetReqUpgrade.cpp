#include "loam/netobjects/zuNetReqUpgrade.h"

#include "loam/netobjects/zuNetObjectTypes.h"

zuNetReqUpgrade::zuNetReqUpgrade(const std::string& filePath, const std::string& text1,
                                 const std::string& text2, u32 value) {
  file_ = openSourceFile(filePath);
  zuNetWriter& out = outgoing();
  out.putString(fileNameOf(filePath));
  out.putString(text1);
  out.putString(text2);
  out.putUInt32(value);
  setInputStream(file_.get());
  setSourceName(filePath);
}

zuNetReqUpgrade::~zuNetReqUpgrade() = default;

u8 zuNetReqUpgrade::getType() const { return zuNOT_Upgrade; }

const char* zuNetReqUpgrade::getTypeName() const { return "zuNOT_Upgrade"; }

const char* zuNetReqUpgrade::getName() const { return "Upgrade"; }

void zuNetReqUpgrade::start(zuNetObjectHandler* handler) {
  file_->clear();
  file_->seekg(0);
  zuNetReqStreamToNet::start(handler);
}
