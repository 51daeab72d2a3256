#include "loam/netobjects/zuNetReqAgentUpgrade.h"

#include "loam/netobjects/zuNetObjectTypes.h"

zuNetReqAgentUpgrade::zuNetReqAgentUpgrade(const std::string& filePath, u8 kind,
                                           const std::string& argument,
                                           const std::string& signature) {
  file_ = openSourceFile(filePath);
  std::streamoff size = -1;
  if (file_->seekg(0, std::ios::end)) {
    size = file_->tellg();
    file_->seekg(0);
  }
  // The size travels as u32.
  if (size < 0 || size > static_cast<std::streamoff>(0xFFFFFFFFu) || !file_->good())
    sourceFileFailed(filePath);
  fileSize_ = static_cast<u32>(size);
  zuNetWriter& out = outgoing();
  out.putUInt8(kind);
  out.putString(fileNameOf(filePath));
  out.putString(argument);
  out.putString(signature);
  out.putUInt32(fileSize_);
  setInputStream(file_.get());
  setSourceName(filePath);
}

zuNetReqAgentUpgrade::~zuNetReqAgentUpgrade() = default;

u8 zuNetReqAgentUpgrade::getType() const { return zuNOT_Login; }

const char* zuNetReqAgentUpgrade::getTypeName() const { return "zuNOT_Login"; }

const char* zuNetReqAgentUpgrade::getName() const { return "Upgrade"; }

void zuNetReqAgentUpgrade::start(zuNetObjectHandler* handler) {
  file_->clear();
  file_->seekg(0);
  zuNetReqStreamToNet::start(handler);
}
