#pragma once
// A request that sends the writer's content and then a property list (entry
// count, then name and value per entry), each chunk holding only whole
// entries. The reply is the base's. The type byte comes from a subclass. The
// list is not owned; it must not change while it is sent.
#include "loam/netobjects/zuNetRequest.h"
#include "loam/platform/zuTypes.h"

class zuProperties;

class zuNetReqPropertiesToNet : public zuNetRequest {
 public:
  zuNetReqPropertiesToNet();
  ~zuNetReqPropertiesToNet() override;

  // An entry too large for any chunk fails the request (515).
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  void setProperties(zuProperties* properties) { properties_ = properties; }
  zuProperties* properties() const { return properties_; }
  u32 index() const { return index_; }
  u32 count() const { return count_; }

 protected:
  zuProperties* properties_ = nullptr;
  u32 index_ = 0;
  u32 count_ = 0;

 private:
  bool countSent_ = false;
};
