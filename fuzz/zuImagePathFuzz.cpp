// A service's image path (stored in the registry, so file input): split into
// program and arguments by the Windows rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "loam/platform/zuPlatformService.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t total = 0;
  for (const std::string& part : zuPlatform::parseImagePath(text)) total += part.size();
  if (total > text.size()) std::abort();  // quotes and escapes only ever shrink the text
  return 0;
}
