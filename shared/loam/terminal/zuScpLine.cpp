#include "loam/terminal/zuScpLine.h"

#include <algorithm>

bool zuParseScpLine(const std::string& line, u32& size) {
  if (line.size() < 9 || line[0] != 'C' || line[5] != ' ') return false;
  for (std::size_t i = 1; i < 5; ++i)
    if (line[i] < '0' || line[i] > '7') return false;
  const std::size_t blank = line.find(' ', 6);
  if (blank == std::string::npos) return false;
  const std::string digits = line.substr(6, blank - 6);
  if (digits.empty() || digits.size() > 10 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const unsigned long long value = std::stoull(digits);
  if (value > 0xFFFFFFFFull) return false;
  const std::string name = line.substr(blank + 1);
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return false;
  size = static_cast<u32>(value);
  return true;
}
