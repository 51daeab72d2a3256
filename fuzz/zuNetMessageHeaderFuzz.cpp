// Arbitrary bytes as a message header: short input is refused, six bytes or
// more read into fields that write back to the same six bytes, and the flag
// helpers touch only the bits they own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "loam/netobjects/zuNetMessageHeader.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using H = zuNetMessageHeader;
  H h;
  const u32 length = size > 0xFFFF ? 0xFFFF : static_cast<u32>(size);
  const u32 n = h.read(data, length);
  if (length < H::kSize) {
    check(n == 0 && h.id == 0 && h.type == 0 && h.flags == 0 && h.error == 0);
    return 0;
  }
  check(n == H::kSize);
  u8 out[H::kSize];
  check(h.write(out) == H::kSize);
  check(std::memcmp(out, data, H::kSize) == 0);
  check(h.isRequest() == ((data[3] & 1) != 0) && h.isFirstChunk() == ((data[3] & 2) != 0) &&
        h.isCancel() == ((data[3] & 4) != 0) && h.isLastChunk() == ((data[3] & 8) != 0));

  // Chunk flags: only bits 0, 1 and 3, and bit 1 only with bit 0.
  const bool request = (h.flags & 1) != 0;
  const bool last = (h.flags & 8) != 0;
  const u8 chunk = H::chunkFlags(request, h.id, last);
  check((chunk & ~0x0B) == 0);
  check(((chunk & 2) == 0) || ((chunk & 1) != 0));
  check(((chunk & 2) != 0) == (request && h.id == 1));
  check(((chunk & 8) != 0) == last);
  // Control flags change only the request bit.
  const u8 asRequest = H::controlFlags(true, h.type);
  const u8 asResponse = H::controlFlags(false, h.type);
  check((asRequest & 1) == 1 && (asResponse & 1) == 0);
  check((asRequest & ~1) == (h.type & ~1) && (asResponse & ~1) == (h.type & ~1));
  return 0;
}
