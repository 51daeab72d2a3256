// Arbitrary bytes as an scp control line: an accepted line has the strict
// shape, and its size is the decimal number that the line carries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "loam/terminal/zuScpLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string line(reinterpret_cast<const char*>(data), size);
  u32 announced = 0;
  if (!zuParseScpLine(line, announced)) return 0;
  if (line[0] != 'C' || line[5] != ' ') std::abort();
  const std::size_t blank = line.find(' ', 6);
  if (std::stoull(line.substr(6, blank - 6)) != announced) std::abort();
  const std::string name = line.substr(blank + 1);
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    std::abort();
  return 0;
}
