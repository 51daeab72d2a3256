#include "loam/netobjects/zuNetMessageHeader.h"

u32 zuNetMessageHeader::read(const void* data, u32 length) {
  if (!data || length < kSize) return 0;
  const u8* p = static_cast<const u8*>(data);
  id = static_cast<u16>((p[0] << 8) | p[1]);
  type = p[2];
  flags = p[3];
  error = static_cast<u16>((p[4] << 8) | p[5]);
  return kSize;
}

u32 zuNetMessageHeader::write(void* out) const {
  u8* p = static_cast<u8*>(out);
  p[0] = static_cast<u8>(id >> 8);
  p[1] = static_cast<u8>(id);
  p[2] = type;
  p[3] = flags;
  p[4] = static_cast<u8>(error >> 8);
  p[5] = static_cast<u8>(error);
  return kSize;
}

u8 zuNetMessageHeader::chunkFlags(bool request, u32 sendCount, bool last) {
  u8 f = last ? kFlagLastChunk : 0;
  if (request) {
    f |= kFlagRequest;
    if (sendCount == 1) f |= kFlagFirstChunk;
  }
  return f;
}

u8 zuNetMessageHeader::controlFlags(bool asRequest, u8 flags) {
  return asRequest ? static_cast<u8>(flags | kFlagRequest) : static_cast<u8>(flags & ~kFlagRequest);
}
