#pragma once
// Helpers shared by the DNS zone data tests.
#include <string>

namespace tw::test {

// Rdata texts in tests write "|" for the TAB between fields.
inline std::string tabs(std::string s) {
  for (char& c : s)
    if (c == '|') c = '\t';
  return s;
}

}  // namespace tw::test
