#include "loam/netobjects/zuNetReqNetToProperties.h"

#include <stdexcept>

#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetPropertyChunks.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/threads/zuProgress.h"

zuNetReqNetToProperties::zuNetReqNetToProperties() = default;

zuNetReqNetToProperties::~zuNetReqNetToProperties() = default;

std::size_t zuNetReqNetToProperties::maxGatheredBytes() const { return kMaxListBytes; }

u16 zuNetReqNetToProperties::receiveData(const u8* data, u32 length, bool last) {
  zuNetReader reader(data, length);
  try {
    if (length == 0) throw std::out_of_range("zuNetReader::getData");
    if (getReceivedCount() == 1) {
      index_ = 0;
      count_ = reader.getUInt32();
      if (progress_) progress_->reset(0, count_);
    }
    zuProperties scratch;
    index_ += zuGetPropertyEntries(reader, properties_ ? *properties_ : scratch);
  } catch (const std::out_of_range&) {
    setUnexpectedDataError();
    return zuErrUnexpectedData;
  }
  if (progress_) progress_->setPosition(index_);
  if (last) {
    if (properties_) properties_->setModified(false);
    setSendState(kStateDone);
  }
  return 0;
}
