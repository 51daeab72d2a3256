#include "loam/netobjects/zuErrnoText.h"

#include <cstdio>

std::string zuErrnoText(int error) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(error));
  return text;
}
