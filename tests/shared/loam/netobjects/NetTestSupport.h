#pragma once
// Byte helpers for the netobject tests.
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "loam/netobjects/zuNetWriter.h"
#include "loam/platform/zuTypes.h"

namespace nettest {

// Bytes from hexadecimal text; blanks are skipped.
inline std::vector<u8> fromHex(std::string_view hex) {
  std::vector<u8> out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    const int v = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (v < 0 || v > 15) throw std::invalid_argument("fromHex");
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<u8>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("fromHex");
  return out;
}

inline std::vector<u8> bytesOf(const zuNetWriter& w) {
  return std::vector<u8>(w.getStart(), w.getStart() + w.size());
}

}  // namespace nettest
