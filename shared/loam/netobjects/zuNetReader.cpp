#include "loam/netobjects/zuNetReader.h"

#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "loam/base/zuDate.h"
#include "loam/base/zuDateTime.h"
#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuProperties.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/net/zuIPAddress.h"

namespace {

constexpr const char* kGetData = "zuNetReader::getData";
constexpr const char* kGetString = "zuNetReader::getString";
constexpr const char* kGetConstString = "zuNetReader::getConstString";

u16 be16(const u8* p) { return static_cast<u16>((p[0] << 8) | p[1]); }

u32 be32(const u8* p) {
  return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | u32{p[3]};
}

}  // namespace

zuNetReader::zuNetReader(const void* data, u32 length)
    : start_(static_cast<const u8*>(data)), current_(start_), length_(data ? length : 0) {}

void zuNetReader::overrun(const char* what) {
  valid_ = false;
  throw std::out_of_range(what);
}

const u8* zuNetReader::take(u32 n, const char* what) {
  // Compared against what is left, so no count can wrap past the end.
  if (n > bytesLeft()) overrun(what);
  const u8* p = current_;
  current_ += n;
  return p;
}

u32 zuNetReader::stringLength(const char* what) {
  const u32 left = bytesLeft();
  const void* nul = left == 0 ? nullptr : std::memchr(current_, 0, left);
  if (!nul) overrun(what);
  return static_cast<u32>(static_cast<const u8*>(nul) - current_);
}

void zuNetReader::getData(void* destination, u32 n) {
  const u8* p = take(n, kGetData);
  if (n != 0) std::memcpy(destination, p, n);
}

i8 zuNetReader::getInt8() { return static_cast<i8>(getUInt8()); }

u8 zuNetReader::getUInt8() { return *take(1, kGetData); }

bool zuNetReader::getBool() { return getUInt8() != 0; }

i16 zuNetReader::getInt16() { return static_cast<i16>(getUInt16()); }

u16 zuNetReader::getUInt16() { return be16(take(2, kGetData)); }

i32 zuNetReader::getInt32() { return static_cast<i32>(getUInt32()); }

u32 zuNetReader::getUInt32() { return be32(take(4, kGetData)); }

void zuNetReader::getAddress(zuIPAddress& address) {
  std::memcpy(address.bytes(), take(zuIPAddress::kSize, kGetData), zuIPAddress::kSize);
}

void zuNetReader::getDate(zuDate& date) {
  const u8* p = take(4, kGetData);
  date.set(p[0], p[1], be16(p + 2));
}

void zuNetReader::getTimeOfDay(zuTimeOfDay& time) {
  const u8* p = take(5, kGetData);
  time.set(p[0], p[1], p[2], be16(p + 3));
}

void zuNetReader::getDateTime(zuDateTime& dateTime) { dateTime.set(getUInt32()); }

const char* zuNetReader::getConstString() {
  const u32 n = stringLength(kGetConstString);
  return reinterpret_cast<const char*>(take(n + 1, kGetConstString));
}

void zuNetReader::getString(char* destination, u32 size) {
  const u32 n = stringLength(kGetString);
  const u8* p = take(n + 1, kGetString);
  if (size == 0) return;
  const u32 copied = n < size - 1 ? n : size - 1;
  std::memcpy(destination, p, copied);
  destination[copied] = '\0';
}

std::unique_ptr<char[]> zuNetReader::getNewString() {
  if (!valid_) return nullptr;
  const u32 n = stringLength(kGetString);
  auto copy = std::make_unique_for_overwrite<char[]>(std::size_t{n} + 1);
  std::memcpy(copy.get(), take(n + 1, kGetString), std::size_t{n} + 1);
  return copy;
}

std::string zuNetReader::getStdString() {
  const u32 n = stringLength(kGetConstString);
  return std::string(reinterpret_cast<const char*>(take(n + 1, kGetConstString)), n);
}

void zuNetReader::getErrorMessage(zuErrorMessage& message) {
  const u8* const before = current_;
  try {
    zuErrorMessage read = message;
    read.setCode(static_cast<u16>(getUInt32()));
    const u32 id = getUInt32();
    if (id == zuMessage::kLiteral) {
      read.setText(getConstString());
    } else {
      read.setId(id);
    }
    // Each parameter takes at least two bytes, so a forged count runs out of
    // data long before it runs out of memory.
    for (u32 count = getUInt32(); count != 0; --count) {
      const char key = static_cast<char>(getUInt8());
      read.replaceParam(key, std::string(getConstString()));
    }
    message = std::move(read);
  } catch (const std::out_of_range&) {
    current_ = before;
    throw;
  }
}

void zuNetReader::getProperties(zuProperties& properties) {
  const u8* const before = current_;
  // The entries are all read before the first is set; the texts stay in the
  // data until then.
  std::vector<std::pair<const char*, const char*>> entries;
  try {
    for (u32 count = getUInt32(); count != 0; --count) {
      const char* name = getConstString();
      entries.emplace_back(name, getConstString());
    }
  } catch (const std::out_of_range&) {
    current_ = before;
    throw;
  }
  for (const auto& [name, value] : entries) properties.set(name, value);
}

void zuNetReader::unget(u32 n) { current_ -= n < offset() ? n : offset(); }

zuNetReader& operator>>(zuNetReader& reader, bool& value) {
  value = reader.getBool();
  return reader;
}

zuNetReader& operator>>(zuNetReader& reader, u8& value) {
  value = reader.getUInt8();
  return reader;
}

zuNetReader& operator>>(zuNetReader& reader, i32& value) {
  value = reader.getInt32();
  return reader;
}

zuNetReader& operator>>(zuNetReader& reader, u32& value) {
  value = reader.getUInt32();
  return reader;
}

zuNetReader& operator>>(zuNetReader& reader, std::string& value) {
  value = reader.getStdString();
  return reader;
}
