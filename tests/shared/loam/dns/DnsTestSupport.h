#pragma once
// Helpers shared by the DNS zone data tests.
#include <string>
#include <vector>

#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace tw::test {

// Rdata texts in tests write "|" for the TAB between fields.
inline std::string tabs(std::string s) {
  for (char& c : s)
    if (c == '|') c = '\t';
  return s;
}

// The records of a collection in output order.
inline std::vector<const zuResourceRecord*> outputOrder(const zuRecordCollection& zone) {
  std::vector<const zuResourceRecord*> out;
  for (u32 i = 0; i < zone.count(zuRRType::kAny, 0); ++i)
    out.push_back(zone.recordAt(i, zuRRType::kAny, 0));
  return out;
}

}  // namespace tw::test
