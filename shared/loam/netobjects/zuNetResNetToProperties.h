#pragma once
// A response that sets the request's property list (entry count, then name
// and value per entry) into a list, chunk by chunk; every chunk must hold
// whole entries. The reply is empty. The list is not owned.
#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuProperties;

class zuNetResNetToProperties : public zuNetResponse {
 public:
  // The most request bytes one list may take.
  static constexpr std::size_t kMaxListBytes = 1u << 20;

  zuNetResNetToProperties();
  ~zuNetResNetToProperties() override;

  // A chunk without data is 772; an entry cut off by its chunk's end throws
  // std::out_of_range, which the handler answers with 772.
  u16 receiveData(const u8* data, u32 length, bool last) override;
  std::size_t maxGatheredBytes() const override;

  void setProperties(zuProperties* properties) { properties_ = properties; }
  u32 entriesRead() const { return entriesRead_; }
  u32 entryCount() const { return entryCount_; }

 protected:
  zuProperties* properties_ = nullptr;
  u32 entriesRead_ = 0;
  u32 entryCount_ = 0;
};
