#pragma once
// A request that sends the writer's content and sets the property list of
// the reply (entry count, then name and value per entry) into a list, chunk
// by chunk. The type byte comes from a subclass. The list is not owned.
#include "loam/netobjects/zuNetRequest.h"
#include "loam/platform/zuTypes.h"

class zuProperties;

class zuNetReqNetToProperties : public zuNetRequest {
 public:
  // The most reply bytes the list may take.
  static constexpr std::size_t kMaxListBytes = 16u << 20;

  zuNetReqNetToProperties();
  ~zuNetReqNetToProperties() override;

  // An entry cut off by its chunk's end, or an empty chunk, is 772.
  u16 receiveData(const u8* data, u32 length, bool last) override;
  std::size_t maxGatheredBytes() const override;

  void setProperties(zuProperties* properties) { properties_ = properties; }
  zuProperties* properties() const { return properties_; }
  u32 index() const { return index_; }
  u32 count() const { return count_; }

 protected:
  zuProperties* properties_ = nullptr;
  u32 index_ = 0;
  u32 count_ = 0;
};
