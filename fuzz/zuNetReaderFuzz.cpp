// Arbitrary payloads through every reader getter. The input is read as a
// script: each step's byte picks a getter (low 5 bits) and a small argument
// (high 3 bits), and the getter reads from the bytes that follow. Every read
// stays inside the data, an overrun keeps the position, and what was read
// writes back to the bytes it came from (or, for error messages, to bytes
// that read back the same).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "loam/base/zuDate.h"
#include "loam/base/zuDateTime.h"
#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuProperties.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/net/zuIPAddress.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// The bytes the writer produced equal those the reader consumed.
void checkSame(const zuNetWriter& w, const u8* from, const u8* to) {
  check(w.size() == static_cast<u32>(to - from));
  check(w.size() == 0 || std::memcmp(w.getStart(), from, w.size()) == 0);
}

bool knownOverrunText(const char* text) {
  return std::strcmp(text, "zuNetReader::getData") == 0 ||
         std::strcmp(text, "zuNetReader::getString") == 0 ||
         std::strcmp(text, "zuNetReader::getConstString") == 0;
}

// w is empty on entry and has room for anything the input can hold.
void step(zuNetReader& r, zuNetWriter& w, u8 op, u32 arg) {
  const u8* from = r.getCurrent();
  switch (op) {
    case 0:
      w.putUInt8(r.getUInt8());
      break;
    case 1:
      w.putInt8(r.getInt8());
      break;
    case 2: {
      const bool value = r.getBool();
      check(value == (*from != 0));
      return;
    }
    case 3:
      w.putUInt16(r.getUInt16());
      break;
    case 4:
      w.putInt16(r.getInt16());
      break;
    case 5:
      w.putUInt32(r.getUInt32());
      break;
    case 6:
      w.putInt32(r.getInt32());
      break;
    case 7: {
      zuDate d;
      r.getDate(d);
      w.putDate(d);
      break;
    }
    case 8: {
      zuTimeOfDay t;
      r.getTimeOfDay(t);
      w.putTimeOfDay(t);
      break;
    }
    case 9: {
      zuDateTime t;
      r.getDateTime(t);
      w.putDateTime(t);
      break;
    }
    case 10: {
      const char* s = r.getConstString();
      check(reinterpret_cast<const u8*>(s) == from);
      w.putCString(s);
      break;
    }
    case 11: {
      char dest[8];
      std::memset(dest, 'X', sizeof dest);
      r.getString(dest, arg);
      const std::size_t whole = std::strlen(reinterpret_cast<const char*>(from));
      check(r.getCurrent() == from + whole + 1);
      if (arg == 0) {
        check(dest[0] == 'X');
      } else {
        const std::size_t copied = std::strlen(dest);
        check(copied == (whole < arg - 1 ? whole : arg - 1));
        check(std::memcmp(dest, from, copied) == 0);
        if (arg < sizeof dest) check(dest[arg] == 'X');
      }
      return;
    }
    case 12: {
      const bool wasValid = r.isValid();
      auto s = r.getNewString();
      check((s != nullptr) == wasValid);
      if (!s) return;
      w.putCString(s.get());
      break;
    }
    case 13:
      w.putString(r.getStdString());
      break;
    case 14: {
      zuErrorMessage m;
      r.getErrorMessage(m);
      w.putErrorMessage(m);
      zuNetReader again(w.getStart(), w.size());
      zuErrorMessage back;
      again.getErrorMessage(back);
      check(again.bytesLeft() == 0 && back.code() == m.code() && back == m);
      return;
    }
    case 15: {
      u8 buffer[8];
      r.getData(buffer, arg);
      w.putData(buffer, arg);
      break;
    }
    case 16: {
      const u32 before = r.bytesLeft();
      r.unget(arg);
      check(r.bytesLeft() >= before && r.bytesLeft() <= r.length());
      return;
    }
    case 17: {
      zuProperties p;
      r.getProperties(p);
      w.putProperties(p);
      zuNetReader again(w.getStart(), w.size());
      zuProperties back;
      again.getProperties(back);
      check(again.bytesLeft() == 0 && back.count() == p.count());
      std::string n1, v1, n2, v2;
      for (u32 i = 0; i < p.count(); ++i) {
        check(p.getAt(i, n1, v1) && back.getAt(i, n2, v2) && n1 == n2 && v1 == v2);
      }
      return;
    }
    case 18: {
      zuIPAddress a;
      r.getAddress(a);
      w.putAddress(a);
      break;
    }
    default:
      return;
  }
  checkSame(w, from, r.getCurrent());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  zuNetReader r(data, static_cast<u32>(size));
  std::vector<u8> scratch(size + 16);
  zuNetWriter w(scratch.data(), static_cast<u32>(scratch.size()));
  // unget can move back over script bytes, so the steps are bounded; so are
  // the overruns, which cost an exception each.
  u32 overruns = 0;
  for (u32 steps = 0; r.bytesLeft() > 0 && steps < 512 && overruns < 4; ++steps) {
    const u8 b = r.getUInt8();
    const u8* before = r.getCurrent();
    const u32 left = r.bytesLeft();
    w.reset();
    try {
      step(r, w, static_cast<u8>(b & 0x1F), static_cast<u32>(b >> 5));
    } catch (const std::out_of_range& e) {
      ++overruns;
      check(knownOverrunText(e.what()));
      check(r.getCurrent() == before && r.bytesLeft() == left && !r.isValid());
    }
    check(r.getCurrent() >= r.getStart() && r.bytesLeft() <= r.length());
  }
  return 0;
}
