#include "loam/netobjects/zuNetWriter.h"

#include <cstring>
#include <stdexcept>

#include "loam/base/zuDate.h"
#include "loam/base/zuDateTime.h"
#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuProperties.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/net/zuIPAddress.h"

zuNetWriter::zuNetWriter(void* buffer, u32 capacity)
    : start_(static_cast<u8*>(buffer)), current_(start_), capacity_(buffer ? capacity : 0) {}

void zuNetWriter::overrun() {
  valid_ = false;
  throw std::out_of_range("zuNetWriter::resizeIfNeeded");
}

void zuNetWriter::resizeIfNeeded(u64 needed) {
  if (needed > capacity_) overrun();
}

zuNetWriter& zuNetWriter::operator=(const zuNetWriter& other) {
  if (this == &other) return *this;
  reset();
  putData(other.start_, other.size());
  valid_ = other.valid_;
  return *this;
}

void zuNetWriter::putData(const void* bytes, u32 n) {
  resizeIfNeeded(u64{size()} + n);
  if (n == 0) return;
  std::memcpy(current_, bytes, n);
  current_ += n;
}

void zuNetWriter::putBool(bool value) { putUInt8(value ? 1 : 0); }

void zuNetWriter::putInt8(i8 value) { putUInt8(static_cast<u8>(value)); }

void zuNetWriter::putUInt8(u8 value) { putData(&value, 1); }

void zuNetWriter::putInt16(i16 value) { putUInt16(static_cast<u16>(value)); }

void zuNetWriter::putUInt16(u16 value) {
  const u8 b[2] = {static_cast<u8>(value >> 8), static_cast<u8>(value)};
  putData(b, 2);
}

void zuNetWriter::putInt32(i32 value) { putUInt32(static_cast<u32>(value)); }

void zuNetWriter::putUInt32(u32 value) {
  const u8 b[4] = {static_cast<u8>(value >> 24), static_cast<u8>(value >> 16),
                   static_cast<u8>(value >> 8), static_cast<u8>(value)};
  putData(b, 4);
}

void zuNetWriter::putText(const char* text, std::size_t n) {
  // Room for the text and its NUL is made first, so a text that does not fit
  // leaves nothing behind.
  if (n >= 0xFFFFFFFFu) overrun();
  resizeIfNeeded(u64{size()} + n + 1);
  putData(text, static_cast<u32>(n));
  putUInt8(0);
}

void zuNetWriter::putCString(const char* text) {
  if (!text) text = "";
  putText(text, std::strlen(text));
}

void zuNetWriter::putStringMax(const char* text, u32 maximum) {
  if (!text) text = "";
  std::size_t n = 0;
  while (n + 1 < maximum && text[n] != '\0') ++n;
  putText(text, n);
}

void zuNetWriter::putString(const std::string& text) {
  const std::size_t nul = text.find('\0');
  putText(text.data(), nul == std::string::npos ? text.size() : nul);
}

void zuNetWriter::putAddress(const zuIPAddress& address) {
  putData(address.bytes(), zuIPAddress::kSize);
}

void zuNetWriter::putDate(const zuDate& date) {
  const u8 b[4] = {static_cast<u8>(date.day()), static_cast<u8>(date.month()),
                   static_cast<u8>(date.year() >> 8), static_cast<u8>(date.year())};
  putData(b, 4);
}

void zuNetWriter::putTimeOfDay(const zuTimeOfDay& time) {
  const u8 b[5] = {static_cast<u8>(time.hour()), static_cast<u8>(time.minute()),
                   static_cast<u8>(time.second()), static_cast<u8>(time.millisecond() >> 8),
                   static_cast<u8>(time.millisecond())};
  putData(b, 5);
}

void zuNetWriter::putDateTime(const zuDateTime& dateTime) { putUInt32(dateTime.seconds()); }

void zuNetWriter::putErrorMessage(const zuErrorMessage& message) {
  putUInt32(message.code());
  putUInt32(message.id());
  if (message.id() == zuMessage::kLiteral) putString(message.text());
  putUInt32(message.paramCount());
  for (const auto& [key, value] : message.params()) {
    putUInt8(static_cast<u8>(key));
    putString(value);
  }
}

void zuNetWriter::putProperties(const zuProperties& properties) {
  const u32 count = properties.count();
  putUInt32(count);
  std::string name, value;
  for (u32 i = 0; i < count && properties.getAt(i, name, value); ++i) {
    putString(name);
    putString(value);
  }
}

void zuNetWriter::reset() {
  current_ = start_;
  valid_ = true;
}

void zuNetWriter::unput(u32 n) { current_ -= n < size() ? n : size(); }

zuNetWriter& operator<<(zuNetWriter& writer, bool value) {
  writer.putBool(value);
  return writer;
}

zuNetWriter& operator<<(zuNetWriter& writer, u8 value) {
  writer.putUInt8(value);
  return writer;
}

zuNetWriter& operator<<(zuNetWriter& writer, i32 value) {
  writer.putInt32(value);
  return writer;
}

zuNetWriter& operator<<(zuNetWriter& writer, u32 value) {
  writer.putUInt32(value);
  return writer;
}

zuNetWriter& operator<<(zuNetWriter& writer, const std::string& value) {
  writer.putString(value);
  return writer;
}
