// Arbitrary payloads through the zone data's wire readers: resource records
// in both forms, field descriptors, field values and string lists. Each
// step's byte picks a reader; every read stays inside the data (an overrun is
// the reader's std::out_of_range, nothing else), no count sizes an
// allocation beyond the bytes present, and what was read writes out and
// reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "loam/dns/zuFieldInfo.h"
#include "loam/dns/zuFieldValue.h"
#include "loam/dns/zuNetStringList.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"
#include "loam/dns/zuResourceRecordWire.h"
#include "loam/netobjects/zuDynamicNetWriter.h"
#include "loam/netobjects/zuNetReader.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool sameRecord(const zuResourceRecord& a, const zuResourceRecord& b) {
  return a.equals(b, true, false, false) && a.id() == b.id() && a.aging() == b.aging();
}

bool sameField(const zuFieldInfo& a, const zuFieldInfo& b) {
  zuDynamicNetWriter wa;
  zuDynamicNetWriter wb;
  a.write(wa);
  b.write(wb);
  return wa.size() == wb.size() &&
         std::equal(wa.getStart(), wa.getStart() + wa.size(), wb.getStart());
}

void step(zuNetReader& r, u8 op, zuRecordCollection& zone) {
  zuDynamicNetWriter w;
  switch (op % 5) {
    case 0: {
      zuResourceRecord record;
      record.read(r);
      record.write(w);
      zuNetReader again(w.getStart(), w.size());
      zuResourceRecord back;
      back.read(again);
      check(again.bytesLeft() == 0 && sameRecord(record, back));
      break;
    }
    case 1: {
      // Into a record of a collection: its names are made relative on the way.
      zuResourceRecord record(&zone, "", "", 0, "", "", true);
      r >> record;
      check(record.collection() == &zone);
      w << record;
      zuNetReader again(w.getStart(), w.size());
      zuResourceRecord back(&zone, "", "", 0, "", "", true);
      again >> back;
      check(again.bytesLeft() == 0 && sameRecord(record, back));
      break;
    }
    case 2: {
      zuFieldInfo field;
      field.read(r);
      field.write(w);
      zuNetReader again(w.getStart(), w.size());
      zuFieldInfo back;
      back.read(again);
      check(again.bytesLeft() == 0 && sameField(field, back));
      // Whatever the descriptor says, validating is a result or a zuException.
      try {
        field.validate(field.name(), true);
      } catch (const std::exception&) {
      }
      break;
    }
    case 3: {
      zuFieldValue value;
      value.read(r);
      value.write(w);
      zuNetReader again(w.getStart(), w.size());
      zuFieldValue back;
      back.read(again);
      check(again.bytesLeft() == 0 && back.name == value.name && back.value == value.value &&
            back.flag == value.flag);
      break;
    }
    default: {
      const u32 left = r.bytesLeft();
      std::vector<std::string> list;
      readStringList(r, list);
      check(list.size() <= left);
      writeStringList(w, list);
      zuNetReader again(w.getStart(), w.size());
      std::vector<std::string> back;
      readStringList(again, back);
      check(again.bytesLeft() == 0 && back == list);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  zuNetReader r(data, static_cast<u32>(size));
  zuRecordCollection zone("example.com.");
  for (u32 steps = 0; r.bytesLeft() > 0 && steps < 256; ++steps) {
    const u8 op = r.getUInt8();
    try {
      step(r, op, zone);
    } catch (const std::out_of_range&) {
      break;  // the reader stays not valid for good
    }
  }
  return 0;
}
