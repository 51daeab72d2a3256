#include "loam/platform/zuPlatformErrorText.h"

#include <string.h>

#include <climits>

namespace zuPlatform {

std::string errorText(u32 code) {
  if (code > static_cast<u32>(INT_MAX)) return {};
  const int number = static_cast<int>(code);
  // glibc's strerror_r makes up "Unknown error N" for a number it has no
  // name for; that is no message of the system's.
  if (number != 0 && strerrorname_np(number) == nullptr) return {};
  char buffer[512];
  buffer[0] = '\0';
  const char* text = strerror_r(number, buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

}  // namespace zuPlatform
