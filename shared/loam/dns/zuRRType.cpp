#include "loam/dns/zuRRType.h"

#include <algorithm>
#include <map>

#include "loam/base/zuString.h"

const zuRRTypeInfo kZuRRTypeTable[kZuRRTypeCount] = {
    {zuRRType::kA, zuRRFormat::kIPv4, "A"},
    {zuRRType::kAAAA, zuRRFormat::kIPv6, "AAAA"},
    {zuRRType::kAFSDB, zuRRFormat::kNumberName, "AFSDB"},
    {zuRRType::kCNAME, zuRRFormat::kName, "CNAME"},
    {zuRRType::kDLV, zuRRFormat::kDS, "DLV"},
    {zuRRType::kDNAME, zuRRFormat::kName, "DNAME"},
    {zuRRType::kDNSKEY, zuRRFormat::kDNSKEY, "DNSKEY"},
    {zuRRType::kDS, zuRRFormat::kDS, "DS"},
    {zuRRType::kHINFO, zuRRFormat::kTwoStrings, "HINFO"},
    {zuRRType::kLOC, zuRRFormat::kLOC, "LOC"},
    {zuRRType::kMX, zuRRFormat::kNumberName, "MX"},
    {zuRRType::kNAPTR, zuRRFormat::kNAPTR, "NAPTR"},
    {zuRRType::kNS, zuRRFormat::kName, "NS"},
    {zuRRType::kNSEC, zuRRFormat::kNSEC, "NSEC"},
    {zuRRType::kPTR, zuRRFormat::kName, "PTR"},
    {zuRRType::kRP, zuRRFormat::kTwoNames, "RP"},
    {zuRRType::kRRSIG, zuRRFormat::kRRSIG, "RRSIG"},
    {zuRRType::kSOA, zuRRFormat::kSOA, "SOA"},
    {zuRRType::kSRV, zuRRFormat::kSRV, "SRV"},
    {zuRRType::kTXT, zuRRFormat::kText, "TXT"},
    {zuRRType::kWINS, zuRRFormat::kWINS, "WINS"},
    {zuRRType::kWINSR, zuRRFormat::kWINSR, "WINSR"},
    {zuRRType::kWKS, zuRRFormat::kWKS, "WKS"},
};

namespace {

// Three-way comparison of a table mnemonic (upper case) with a text in any case.
int compareUpper(const char* mnemonic, const char* text) {
  for (;; ++mnemonic, ++text) {
    const int a = static_cast<u8>(*mnemonic);
    const int b = zuToUpper(static_cast<u8>(*text));
    if (a != b || a == 0) return a - b;
  }
}

}  // namespace

const zuRRTypeInfo* zuRRTypeInfoFor(u32 type) {
  // Built on first use (thread-safe static initialisation), freed at exit.
  static const std::map<u32, const zuRRTypeInfo*> byCode = [] {
    std::map<u32, const zuRRTypeInfo*> m;
    for (const zuRRTypeInfo& row : kZuRRTypeTable) m.emplace(row.type, &row);
    return m;
  }();
  const auto it = byCode.find(type);
  return it == byCode.end() ? nullptr : it->second;
}

u32 zuRRTypeFromName(const char* mnemonic) {
  if (mnemonic == nullptr) return zuRRType::kNone;
  const zuRRTypeInfo* end = kZuRRTypeTable + kZuRRTypeCount;
  const zuRRTypeInfo* row = std::lower_bound(
      kZuRRTypeTable, end, mnemonic,
      [](const zuRRTypeInfo& r, const char* m) { return compareUpper(r.mnemonic, m) < 0; });
  if (row == end || compareUpper(row->mnemonic, mnemonic) != 0) return zuRRType::kNone;
  return row->type;
}

const char* zuRRTypeName(u32 type) {
  const zuRRTypeInfo* row = zuRRTypeInfoFor(type);
  return row == nullptr ? "" : row->mnemonic;
}

u32 zuRRTypeFormat(u32 type) {
  const zuRRTypeInfo* row = zuRRTypeInfoFor(type);
  return row == nullptr ? zuRRFormat::kUnknown : row->format;
}

bool zuRRTypeIsNameField(u32 type, u32 index) {
  switch (zuRRTypeFormat(type)) {
    case zuRRFormat::kName:
    case zuRRFormat::kTwoNames:
      return true;
    case zuRRFormat::kNumberName:
      return index != 0;
    case zuRRFormat::kSOA:
      return index <= 1;
    case zuRRFormat::kSRV:
      return index == 3;
    case zuRRFormat::kNAPTR:
      return index == 5;
    case zuRRFormat::kRRSIG:
      return index == 7;
    case zuRRFormat::kNSEC:
      return index == 0;
    default:
      return false;
  }
}

bool zuRRTypeHasNames(u32 type) {
  switch (zuRRTypeFormat(type)) {
    case zuRRFormat::kName:
    case zuRRFormat::kNumberName:
    case zuRRFormat::kTwoNames:
    case zuRRFormat::kSOA:
    case zuRRFormat::kSRV:
    case zuRRFormat::kNAPTR:
    case zuRRFormat::kRRSIG:
    case zuRRFormat::kNSEC:
      return true;
    default:
      return false;
  }
}

u16 zuRRTypeToWire(u32 type) {
  return static_cast<u16>(type == zuRRType::kDLV ? zuRRType::kDLVWire : type);
}

u32 zuRRTypeFromWire(u32 code) { return code == zuRRType::kDLVWire ? zuRRType::kDLV : code; }

bool zuRRTypeIsDNSSEC(u32 type) {
  switch (type) {
    case zuRRType::kDS:
    case zuRRType::kRRSIG:
    case zuRRType::kNSEC:
    case zuRRType::kDNSKEY:
    case zuRRType::kNSEC3:
    case zuRRType::kDLV:
      return true;
    default:
      return false;
  }
}
