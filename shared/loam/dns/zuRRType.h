#pragma once
// The record-type table of the zone data model: mnemonic, type code and rdata
// layout of each type the model knows, which rdata fields hold domain names,
// and the mapping of type codes to and from the wire.
//
// Type codes are u32 throughout; codes outside the table (pseudo-types and
// types the model does not know) have format kUnknown and an empty mnemonic.
#include "loam/platform/zuTypes.h"

// Type codes: the table's types, the DNSSEC type 50 that is not in the table,
// and the model's pseudo-types.
struct zuRRType {
  // A record without a type: a comment line, or a record written as "N/A".
  static constexpr u32 kNone = 0;
  static constexpr u32 kA = 1;
  static constexpr u32 kNS = 2;
  static constexpr u32 kCNAME = 5;
  static constexpr u32 kSOA = 6;
  static constexpr u32 kWKS = 11;
  static constexpr u32 kPTR = 12;
  static constexpr u32 kHINFO = 13;
  static constexpr u32 kMX = 15;
  static constexpr u32 kTXT = 16;
  static constexpr u32 kRP = 17;
  static constexpr u32 kAFSDB = 18;
  static constexpr u32 kAAAA = 28;
  static constexpr u32 kLOC = 29;
  static constexpr u32 kSRV = 33;
  static constexpr u32 kNAPTR = 35;
  static constexpr u32 kDNAME = 39;
  static constexpr u32 kDS = 43;
  static constexpr u32 kRRSIG = 46;
  static constexpr u32 kNSEC = 47;
  static constexpr u32 kDNSKEY = 48;
  static constexpr u32 kNSEC3 = 50;
  // DLV keeps an internal code; on the wire it is kDLVWire.
  static constexpr u32 kDLV = 104;
  // Queries of the record collection: any type.
  static constexpr u32 kAny = 255;
  // The zone's "$TTL" directive, and "$INCLUDE" / "$GENERATE" lines kept as text.
  static constexpr u32 kTTL = 300;
  static constexpr u32 kInclude = 301;
  static constexpr u32 kGenerate = 302;
  static constexpr u32 kDLVWire = 32769;
  static constexpr u32 kWINS = 65281;
  static constexpr u32 kWINSR = 65282;
};

// Rdata format codes (7 is not used).
struct zuRRFormat {
  static constexpr u32 kText = 1;        // one quoted text (TXT)
  static constexpr u32 kName = 2;        // one domain name (CNAME, DNAME, NS, PTR)
  static constexpr u32 kNumberName = 3;  // a number and a domain name (AFSDB, MX)
  static constexpr u32 kTwoNames = 4;    // RP
  static constexpr u32 kTwoStrings = 5;  // HINFO
  static constexpr u32 kIPv4 = 6;        // A
  static constexpr u32 kSOA = 8;
  static constexpr u32 kLOC = 9;
  static constexpr u32 kSRV = 10;
  static constexpr u32 kIPv6 = 11;  // AAAA
  static constexpr u32 kWKS = 12;
  static constexpr u32 kNAPTR = 13;
  static constexpr u32 kWINS = 14;
  static constexpr u32 kWINSR = 15;
  static constexpr u32 kDNSKEY = 16;
  static constexpr u32 kDS = 17;  // DS and DLV
  static constexpr u32 kRRSIG = 18;
  static constexpr u32 kNSEC = 19;
  static constexpr u32 kUnknown = 20;  // any type code not in the table
};

// One row of the table.
struct zuRRTypeInfo {
  u32 type;
  u32 format;
  const char* mnemonic;
};

// The 23 rows, sorted by mnemonic (byte order of the upper-case text).
inline constexpr u32 kZuRRTypeCount = 23;
extern const zuRRTypeInfo kZuRRTypeTable[kZuRRTypeCount];

// The row of a type code, or null when the code is not in the table.
const zuRRTypeInfo* zuRRTypeInfoFor(u32 type);

// Type code of a mnemonic in any ASCII case; 0 when it is not in the table
// ("N/A", the text type 0 is written under, included) or null.
u32 zuRRTypeFromName(const char* mnemonic);
// The mnemonic; "" for a code not in the table (pseudo-types included).
const char* zuRRTypeName(u32 type);
// The rdata format code; zuRRFormat::kUnknown for a code not in the table.
u32 zuRRTypeFormat(u32 type);
// Whether rdata field `index` (from 0, over the TAB-separated fields) of the
// type holds a domain name.
bool zuRRTypeIsNameField(u32 type, u32 index);
// Whether any rdata field of the type holds a domain name.
bool zuRRTypeHasNames(u32 type);
// DLV's internal code 104 is 32769 on the wire; every other code is unchanged
// (and, to the wire, cut to 16 bits).
u16 zuRRTypeToWire(u32 type);
u32 zuRRTypeFromWire(u32 code);
// DS, RRSIG, NSEC, DNSKEY, NSEC3 and DLV.
bool zuRRTypeIsDNSSEC(u32 type);
