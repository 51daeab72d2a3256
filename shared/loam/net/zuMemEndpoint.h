#pragma once
// An endpoint that serves reads from a block of bytes in memory and discards
// what is written to it.
#include <memory>
#include <vector>

#include "loam/net/zuNetEndpoint.h"

class zuMemEndpoint : public zuNetEndpoint {
 public:
  zuMemEndpoint();
  ~zuMemEndpoint() override;

  // Takes ownership of the block; reading starts at its first byte.
  void setBlock(std::unique_ptr<u8[]> block, u32 size);
  // Frees the block; the read position returns to 0.
  void clear();

  u16 connect(const zuIPAddress& address, u16 port) override;
  u16 connectTo(const char* host, u16 port) override;
  u16 listen(u16 port, const zuIPAddress& bindAddress) override;
  std::unique_ptr<zuNetEndpoint> accept() override { return nullptr; }
  u16 close() override;
  bool isOpen() const override { return open_ != 0; }
  void localAddresses(std::vector<zuIPAddress>&) override {}
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;

  // No more bytes will come once the block is used up, so a read that the
  // block cannot fill takes what is left and ends with 514 instead of
  // waiting without limit.
  u16 read(void* buffer, u32 count) override;

  u16 sendRaw(const void* data, u32 count) override;
  // Copies from the read position; at the end of the block it delivers 0
  // bytes with status 0.
  u16 receiveRaw(void* buffer, u32* count) override;

 private:
  u8 open_ = 1;
  std::unique_ptr<u8[]> block_;
  u32 size_ = 0;
  u32 position_ = 0;
};
