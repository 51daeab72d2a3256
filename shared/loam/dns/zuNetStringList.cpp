#include "loam/dns/zuNetStringList.h"

#include <algorithm>

#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"

void writeStringList(zuNetWriter& writer, const std::vector<std::string>& list) {
  writer.putUInt32(static_cast<u32>(list.size()));
  for (const std::string& s : list) writer.putString(s);
}

void readStringList(zuNetReader& reader, std::vector<std::string>& list) {
  const u32 count = reader.getUInt32();
  // Every string takes at least its NUL, so a count past the bytes left is a
  // lie that must not size an allocation.
  list.reserve(list.size() + std::min(count, reader.bytesLeft()));
  for (u32 i = 0; i < count; ++i) list.push_back(reader.getStdString());
}
