#include "loam/netobjects/zuNetPropertyChunks.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "loam/base/zuException.h"
#include "loam/base/zuProperties.h"
#include "loam/net/zuNetStatus.h"

namespace {

// What putString writes: the text up to its first NUL, then a NUL.
u64 wireLength(const std::string& text) { return std::strlen(text.c_str()) + 1; }

}  // namespace

bool zuPutPropertyEntries(zuNetWriter& writer, const zuProperties& list, u32& index, u32 count,
                          u32 chunkSize) {
  std::string name, value;
  while (index < count) {
    if (!list.getAt(index, name, value)) {
      // The list shrank meanwhile: nothing is left to send.
      index = count;
      break;
    }
    if (wireLength(name) + wireLength(value) > chunkSize)
      throw zuException(zuErrFailed, "The entry \"$n\" is too large to be sent.", 'n', name);
    const u32 mark = writer.size();
    try {
      writer.putString(name);
      writer.putString(value);
    } catch (const std::out_of_range&) {
      // The writer stays not valid; only the whole entries before count.
      writer.unput(writer.size() - mark);
      return false;
    }
    ++index;
  }
  return true;
}

u32 zuPutPropertyChunk(u8* buffer, u32 room, u32 chunkSize, const zuProperties* list, u32& index,
                       u32 count, bool& countSent, bool& last) {
  zuNetWriter writer(buffer, room);
  bool done = true;
  try {
    if (!countSent) {
      writer.putUInt32(count);
      countSent = true;
    }
    if (list) done = zuPutPropertyEntries(writer, *list, index, count, chunkSize);
  } catch (const std::out_of_range&) {
    // Not even the count fitted after the chunk's head: it goes next time.
    done = false;
  }
  last = done && countSent;
  return writer.size();
}

u32 zuGetPropertyEntries(zuNetReader& reader, zuProperties& list) {
  u32 n = 0;
  while (reader.bytesLeft() != 0) {
    const char* name = reader.getConstString();
    const char* value = reader.getConstString();
    list.set(name, value);
    ++n;
  }
  return n;
}
