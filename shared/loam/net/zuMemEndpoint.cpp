#include "loam/net/zuMemEndpoint.h"

#include <algorithm>
#include <cstring>
#include <utility>

zuMemEndpoint::zuMemEndpoint() : zuNetEndpoint(nullptr, kNoTimeout) {}

zuMemEndpoint::~zuMemEndpoint() { clear(); }

void zuMemEndpoint::setBlock(std::unique_ptr<u8[]> block, u32 size) {
  block_ = std::move(block);
  size_ = block_ ? size : 0;
  position_ = 0;
}

void zuMemEndpoint::clear() {
  block_.reset();
  size_ = 0;
  position_ = 0;
}

u16 zuMemEndpoint::connect(const zuIPAddress&, u16) {
  open_ = 1;
  return 0;
}

u16 zuMemEndpoint::connectTo(const char*, u16) {
  open_ = 1;
  return 0;
}

u16 zuMemEndpoint::listen(u16, const zuIPAddress&) {
  open_ = 1;
  return 0;
}

u16 zuMemEndpoint::close() {
  flush();
  open_ = 0;
  return 0;
}

std::unique_ptr<zuNetEndpoint> zuMemEndpoint::clone(zuEvent*, u32) {
  return std::make_unique<zuMemEndpoint>();
}

u16 zuMemEndpoint::read(void* buffer, u32 count) {
  const u32 available = unreadCount() + (size_ - position_);
  if (count <= available) return zuNetEndpoint::read(buffer, count);
  const u16 status = zuNetEndpoint::read(buffer, available);
  return status != 0 ? status : zuErrConnectionBroken;
}

u16 zuMemEndpoint::sendRaw(const void*, u32) { return open_ ? 0 : zuErrFailed; }

u16 zuMemEndpoint::receiveRaw(void* buffer, u32* count) {
  const u32 n = std::min(*count, size_ - position_);
  if (n != 0) std::memcpy(buffer, block_.get() + position_, n);
  position_ += n;
  *count = n;
  return 0;
}
