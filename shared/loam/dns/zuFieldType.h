#pragma once
// Bits of a typed field descriptor's type. A descriptor is built with exactly
// one of the values 1 to 64; the list and group bits are set afterwards.
#include "loam/platform/zuTypes.h"

enum zuFieldType : u32 {
  zuFieldText = 1,           // optionally limited to allowed values or to an FQDN
  zuFieldFreeText = 2,       // anything, only "mandatory" applies
  zuFieldAddressOrName = 4,  // IP address or domain name
  zuFieldAddress = 8,        // IP address
  zuFieldNumber = 16,        // number within minimum..maximum
  zuFieldBoolean = 32,       // boolean word, or "inherited"
  zuFieldChoice = 64,        // one of the allowed values
  zuFieldList = 128,         // values named name + "." + index
  zuFieldStruct = 256,       // members named group + "." + member
};

// Every bit but the list bit: what a default value or the flag accepts.
inline constexpr u32 zuFieldAnyButList = ~static_cast<u32>(zuFieldList);
