#pragma once
// Reads the typed values of a netobject payload in place: big-endian
// integers, NUL-terminated strings returned as pointers into the data, and the
// library's composite values. Every read checks its bounds; an overrun throws
// std::out_of_range whose text is the operation's name, leaves the position
// where it was and marks the reader not valid for good.
#include <memory>
#include <string>

#include "loam/platform/zuTypes.h"

class zuDate;
class zuDateTime;
class zuErrorMessage;
class zuIPAddress;
class zuProperties;
class zuTimeOfDay;

class zuNetReader {
 public:
  zuNetReader() = default;  // empty
  // The data is not copied and must outlive the reader.
  zuNetReader(const void* data, u32 length);
  zuNetReader(const zuNetReader&) = default;
  zuNetReader& operator=(const zuNetReader&) = default;
  virtual ~zuNetReader() = default;

  void getData(void* destination, u32 n);
  i8 getInt8();
  u8 getUInt8();
  bool getBool();  // any byte but 0 is true
  i16 getInt16();
  u16 getUInt16();
  i32 getInt32();
  u32 getUInt32();
  // 16 bytes, as the address holds them.
  void getAddress(zuIPAddress& address);
  void getDate(zuDate& date);
  void getTimeOfDay(zuTimeOfDay& time);
  void getDateTime(zuDateTime& dateTime);

  // The string at the current position, inside the data; moves past its NUL.
  const char* getConstString();
  // Copies at most size - 1 bytes and a NUL (nothing for size 0) and moves
  // past the whole string.
  void getString(char* destination, u32 size);
  // A copy of the string; null, reading nothing, when the reader is not valid.
  std::unique_ptr<char[]> getNewString();
  std::string getStdString();

  // Code, id (65535: a literal text follows) and parameters. On an overrun
  // the message is left as it was.
  void getErrorMessage(zuErrorMessage& message);
  // Count u32, then name and value strings per entry, each set by name. On
  // an overrun no entry is set.
  void getProperties(zuProperties& properties);

  // Moves back by n bytes, at most to the start.
  void unget(u32 n);
  u32 bytesLeft() const { return length_ - offset(); }
  const u8* getCurrent() const { return current_; }
  const u8* getStart() const { return start_; }
  u32 length() const { return length_; }
  bool isValid() const { return valid_; }

 private:
  u32 offset() const { return static_cast<u32>(current_ - start_); }
  // The next n bytes, after which the position is moved; throws `what` when
  // fewer are left.
  const u8* take(u32 n, const char* what);
  // Length of the string at the current position; throws `what` when no NUL
  // comes before the end.
  u32 stringLength(const char* what);
  [[noreturn]] void overrun(const char* what);

  const u8* start_ = nullptr;
  const u8* current_ = nullptr;
  u32 length_ = 0;
  bool valid_ = true;
};

zuNetReader& operator>>(zuNetReader& reader, bool& value);
zuNetReader& operator>>(zuNetReader& reader, u8& value);
zuNetReader& operator>>(zuNetReader& reader, i32& value);
zuNetReader& operator>>(zuNetReader& reader, u32& value);
zuNetReader& operator>>(zuNetReader& reader, std::string& value);
