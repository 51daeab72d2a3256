// A property-list reply in chunks through the request that reads it, and the
// same chunks through the response that reads a list from a request. The
// first two bytes choose the chunk length; the rest is the message. Either
// reader takes whole entries only: it succeeds and counts what it set, or
// reports unexpected data (772).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "loam/base/zuException.h"
#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetReqNetToProperties.h"
#include "loam/netobjects/zuNetResNetToProperties.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

class Reply : public zuNetReqNetToProperties {
 public:
  u8 getType() const override { return 20; }
};

class Response : public zuNetResNetToProperties {
 public:
  u8 getType() const override { return 21; }
};

// Delivers the message in chunks; false when a chunk was refused.
bool deliver(zuNetObject& object, const uint8_t* data, size_t size, size_t chunk) {
  object.resetCounts();
  size_t at = 0;
  do {
    const size_t n = size - at < chunk ? size - at : chunk;
    const bool last = at + n == size;
    bool dropped = false;
    u16 result = 0;
    try {
      result = object.deliverChunk(data + at, static_cast<u32>(n), last, dropped);
    } catch (const std::out_of_range&) {
      result = zuErrUnexpectedData;
    }
    check(!dropped);
    if (result != 0) {
      check(result == zuErrUnexpectedData);
      return false;
    }
    at += n;
  } while (at < size);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t chunk = 1 + ((size_t{data[0]} << 8 | data[1]) % 30000);
  data += 2;
  size -= 2;

  zuProperties list;
  Reply reply;
  reply.setProperties(&list);
  if (deliver(reply, data, size, chunk)) {
    check(list.count() <= reply.index());
    check(!list.isModified());
    check(reply.getSendState() == zuNetObject::kStateDone);
  } else {
    check(reply.getErrorCode() == zuErrUnexpectedData);
  }

  zuProperties taken;
  Response response;
  response.setProperties(&taken);
  if (deliver(response, data, size, chunk)) check(taken.count() <= response.entriesRead());
  return 0;
}
