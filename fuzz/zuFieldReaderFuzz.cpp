// Delimited text through the field reader. The first byte picks the
// separator, the rest is the text. Every record read must survive being
// joined and split again unchanged, and the reader must end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "loam/netobjects/zuFieldReader.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char kSeparators[] = {',', '\t', ';', '|'};
  const char separator = kSeparators[data[0] % 4];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::istringstream in(text);
  zuFieldReader reader(&in, static_cast<unsigned char>(separator));
  std::vector<std::string> fields;
  u32 records = 0;
  // Each record takes at least one byte, so the loop ends within the text.
  while (reader.readRecord(fields)) {
    check(++records <= text.size() + 1);
    check(!fields.empty());
    std::string line;
    check(zuJoinFields(fields, line, separator));
    std::vector<std::string> back;
    check(zuSplitFields(line, back, separator));
    check(back == fields);
  }
  check(reader.records() == records);
  return 0;
}
