#pragma once
// Where a record type sorts among the others when a collection is sorted:
// SOA, NS, MX, PTR, A, HINFO, AAAA, CNAME, RP, LOC, SRV, TXT, WKS, then AFSDB
// and NAPTR together; every other type after them (rank 106). Type 0 ranks
// with SOA.
#include "loam/platform/zuTypes.h"

inline constexpr u32 kZuRRTypeRankOther = 106;

u32 zuRRTypeRank(u32 type);
