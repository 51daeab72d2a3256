#pragma once
// The stream form of a resource record among other netobject values: owner,
// TTL, type (u16, as stored, DLV not mapped), rdata, comment, aging, enabled,
// id. Properties are never sent.
#include "loam/dns/zuResourceRecord.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"

zuNetWriter& operator<<(zuNetWriter& writer, const zuResourceRecord& record);
// Sets the fields through the record's setters, so a record of a collection
// has its names made relative to the origin and stays in the collection. An
// overrun throws the reader's std::out_of_range with the record partly read.
zuNetReader& operator>>(zuNetReader& reader, zuResourceRecord& record);
