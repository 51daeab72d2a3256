#pragma once
// A response whose reply is the prepared outgoing data followed by a property
// list (entry count, then name and value per entry), each chunk holding only
// whole entries. The list is not owned; the server keeps it alive and
// unchanged until the response ends.
#include "loam/netobjects/zuNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuProperties;

class zuNetResPropertiesToNet : public zuNetResponse {
 public:
  zuNetResPropertiesToNet();
  ~zuNetResPropertiesToNet() override;

  // An entry too large for any chunk fails the reply (515).
  u32 sendData(u8* buffer, u32 maximum, u16& error, bool& last) override;

  void setProperties(zuProperties* properties) { properties_ = properties; }
  u32 nextIndex() const { return nextIndex_; }
  u32 entryCount() const { return entryCount_; }

 protected:
  zuProperties* properties_ = nullptr;
  u32 nextIndex_ = 0;
  u32 entryCount_ = 0;

 private:
  bool started_ = false;
  bool countSent_ = false;
};
