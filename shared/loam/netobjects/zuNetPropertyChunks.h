#pragma once
// A property list cut into chunks: a u32 entry count, then per entry its name
// and value as NUL-terminated strings, in insertion order, each chunk holding
// only whole entries. Shared by the property requests and responses.
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"
#include "loam/platform/zuTypes.h"

class zuProperties;

// Writes entries from index on while they fit in the writer, advancing index.
// An entry that does not fit is taken back off and waits for the next chunk;
// one that could not fit even an empty chunk of chunkSize bytes throws
// zuException 515, since it would never be sent. True when index reached
// count.
bool zuPutPropertyEntries(zuNetWriter& writer, const zuProperties& list, u32& index, u32 count,
                          u32 chunkSize);
// Fills room bytes at buffer, the part of a chunk after what else it holds:
// the count the first time (countSent tells), then whole entries as above.
// Returns the bytes written; last is set once the count and every entry are
// out.
u32 zuPutPropertyChunk(u8* buffer, u32 room, u32 chunkSize, const zuProperties* list, u32& index,
                       u32 count, bool& countSent, bool& last);
// Reads (name, value) pairs until the reader is used up and sets each by
// name; returns how many. A pair cut off by the end throws std::out_of_range;
// the pairs before it stay set.
u32 zuGetPropertyEntries(zuNetReader& reader, zuProperties& list);
