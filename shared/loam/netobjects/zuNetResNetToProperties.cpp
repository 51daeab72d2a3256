#include "loam/netobjects/zuNetResNetToProperties.h"

#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetPropertyChunks.h"
#include "loam/netobjects/zuNetReader.h"

zuNetResNetToProperties::zuNetResNetToProperties() = default;

zuNetResNetToProperties::~zuNetResNetToProperties() = default;

std::size_t zuNetResNetToProperties::maxGatheredBytes() const { return kMaxListBytes; }

u16 zuNetResNetToProperties::receiveData(const u8* data, u32 length, bool last) {
  if (length == 0) {
    setUnexpectedDataError();
    return zuErrUnexpectedData;
  }
  zuNetReader reader(data, length);
  if (getReceivedCount() == 1) {
    entriesRead_ = 0;
    entryCount_ = reader.getUInt32();
  }
  zuProperties scratch;
  entriesRead_ += zuGetPropertyEntries(reader, properties_ ? *properties_ : scratch);
  if (last) prepareSend();
  return 0;
}
