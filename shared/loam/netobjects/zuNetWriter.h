#pragma once
// Writes the typed values of a netobject payload (big-endian integers,
// NUL-terminated strings, the library's composite values) into the caller's
// fixed buffer. A write that does not fit writes nothing, throws
// std::out_of_range("zuNetWriter::resizeIfNeeded") and marks the writer not
// valid until reset.
#include <string>

#include "loam/platform/zuTypes.h"

class zuDate;
class zuDateTime;
class zuErrorMessage;
class zuIPAddress;
class zuProperties;
class zuTimeOfDay;

class zuNetWriter {
 public:
  // The buffer must outlive the writer.
  zuNetWriter(void* buffer, u32 capacity);
  zuNetWriter(const zuNetWriter&) = delete;
  virtual ~zuNetWriter() = default;

  // Replaces this writer's content with a copy of the other's.
  virtual zuNetWriter& operator=(const zuNetWriter& other);
  virtual void putData(const void* bytes, u32 n);

  void putBool(bool value);
  void putInt8(i8 value);
  void putUInt8(u8 value);
  void putInt16(i16 value);
  void putUInt16(u16 value);
  void putInt32(i32 value);
  void putUInt32(u32 value);
  // The text and its NUL; null is written as the empty string.
  void putCString(const char* text);
  // The text cut to maximum - 1 bytes, then a NUL (only the NUL for 0).
  void putStringMax(const char* text, u32 maximum);
  // The string up to its first NUL, then a NUL: a value never splits into two.
  void putString(const std::string& text);
  // The 16 bytes as the address holds them.
  void putAddress(const zuIPAddress& address);
  // Day u8, month u8, year u16.
  void putDate(const zuDate& date);
  // Hour, minute and second u8, millisecond u16.
  void putTimeOfDay(const zuTimeOfDay& time);
  // The seconds value as u32.
  void putDateTime(const zuDateTime& dateTime);
  // Code u32, id u32, the text when the id is 65535, the parameter count u32,
  // then key byte and value string per parameter in ascending key order.
  void putErrorMessage(const zuErrorMessage& message);
  // Count u32, then name and value strings per entry in insertion order.
  void putProperties(const zuProperties& properties);

  // Back to the start, valid again.
  void reset();
  // Moves back by n bytes, at most to the start.
  void unput(u32 n);

  const u8* getStart() const { return start_; }
  u8* getCurrent() const { return current_; }
  u32 size() const { return static_cast<u32>(current_ - start_); }
  u32 capacity() const { return capacity_; }
  bool isValid() const { return valid_; }

 protected:
  zuNetWriter() = default;  // no storage yet
  // Makes room for needed bytes in all, counted from the start; 64 bits wide
  // so that size + n cannot wrap.
  virtual void resizeIfNeeded(u64 needed);
  [[noreturn]] void overrun();

  u8* start_ = nullptr;
  u8* current_ = nullptr;
  u32 capacity_ = 0;
  bool valid_ = true;

 private:
  void putText(const char* text, std::size_t n);
};

zuNetWriter& operator<<(zuNetWriter& writer, bool value);
zuNetWriter& operator<<(zuNetWriter& writer, u8 value);
zuNetWriter& operator<<(zuNetWriter& writer, i32 value);
zuNetWriter& operator<<(zuNetWriter& writer, u32 value);
zuNetWriter& operator<<(zuNetWriter& writer, const std::string& value);
// A string literal would otherwise be written as a bool.
zuNetWriter& operator<<(zuNetWriter& writer, const char* value) = delete;
