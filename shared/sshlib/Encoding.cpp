#include "sshlib/Encoding.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "sshlib/Err.h"

namespace SSH {

namespace {

[[noreturn]] void throwEndOfPacket() { throwProtocolError("unexpected end of packet"); }

void need(const BufferedTransformation& source, CryptoPP::lword count) {
  if (source.MaxRetrievable() < count) throwEndOfPacket();
}

word32 checkedLength(size_t length) {
  // A string longer than 4 GiB cannot be framed; refusing beats a wrapped length.
  if (length > std::numeric_limits<word32>::max())
    throw Err(Err::kInvalidArgument, "string too long");
  return static_cast<word32>(length);
}

// Reads a string's length and checks that its body has arrived.
size_t getStringLength(BufferedTransformation& source) {
  const word32 length = getUInt32(source);
  need(source, length);
  return length;
}

}  // namespace

void putByte(BufferedTransformation& sink, byte value) { sink.Put(value); }

void putBoolean(BufferedTransformation& sink, bool value) {
  putByte(sink, static_cast<byte>(value ? 1 : 0));
}

void putUInt32(BufferedTransformation& sink, word32 value) {
  sink.PutWord32(value, CryptoPP::BIG_ENDIAN_ORDER);
}

void putBytes(BufferedTransformation& sink, const byte* bytes, size_t length) {
  if (length != 0) sink.Put(bytes, length);
}

void putText(BufferedTransformation& sink, const char* text) {
  putBytes(sink, reinterpret_cast<const byte*>(text), std::strlen(text));
}

void putString(BufferedTransformation& sink, const byte* bytes, size_t length) {
  putUInt32(sink, checkedLength(length));
  putBytes(sink, bytes, length);
}

void putStdString(BufferedTransformation& sink, const std::string& text) {
  putString(sink, reinterpret_cast<const byte*>(text.data()), text.size());
}

void putByteBlock(BufferedTransformation& sink, const CryptoPP::SecByteBlock& block) {
  putString(sink, block.data(), block.size());
}

void putQueueString(BufferedTransformation& sink, const BufferedTransformation& source) {
  const CryptoPP::lword available = source.MaxRetrievable();
  if (available > std::numeric_limits<word32>::max())
    throw Err(Err::kInvalidArgument, "string too long");
  putUInt32(sink, static_cast<word32>(available));
  source.CopyTo(sink);
}

size_t putQueueString(BufferedTransformation& sink, const BufferedTransformation& source,
                      size_t maxLength) {
  const CryptoPP::lword available = source.MaxRetrievable();
  const size_t count = static_cast<size_t>(std::min<CryptoPP::lword>(available, maxLength));
  putUInt32(sink, checkedLength(count));
  source.CopyRangeTo(sink, 0, count);
  return count;
}

void putMPInt(BufferedTransformation& sink, const CryptoPP::Integer& value) {
  const size_t length = value.MinEncodedSize(CryptoPP::Integer::SIGNED);
  if (value.IsZero()) {
    putUInt32(sink, 0);
    return;
  }
  // SecByteBlock wipes itself on release.
  CryptoPP::SecByteBlock buffer(length);
  value.Encode(buffer.data(), length, CryptoPP::Integer::SIGNED);
  putByteBlock(sink, buffer);
}

byte getByte(BufferedTransformation& source) {
  byte value = 0;
  if (source.Get(value) != 1) throwEndOfPacket();
  return value;
}

bool getBoolean(BufferedTransformation& source) { return getByte(source) != 0; }

word32 getUInt32(BufferedTransformation& source) {
  need(source, 4);
  word32 value = 0;
  source.GetWord32(value, CryptoPP::BIG_ENDIAN_ORDER);
  return value;
}

void getCookie(BufferedTransformation& source, byte* bytes) {
  need(source, kCookieSize);
  source.Get(bytes, kCookieSize);
}

void getString(BufferedTransformation& source, CryptoPP::SecByteBlock& block) {
  const size_t length = getStringLength(source);
  block.New(length);
  if (length != 0) source.Get(block.data(), length);
}

void getStdString(BufferedTransformation& source, std::string& text) {
  const size_t length = getStringLength(source);
  text.resize(length);
  if (length != 0) source.Get(reinterpret_cast<byte*>(text.data()), length);
}

void getQueueString(BufferedTransformation& source, BufferedTransformation& target) {
  const size_t length = getStringLength(source);
  source.TransferTo(target, length);
}

void getMPInt(BufferedTransformation& source, CryptoPP::Integer& value) {
  CryptoPP::SecByteBlock bytes;
  getString(source, bytes);
  if (bytes.empty()) {
    value = CryptoPP::Integer::Zero();
    return;
  }
  value.Decode(bytes.data(), bytes.size(), CryptoPP::Integer::SIGNED);
}

void getNonNegativeMPInt(BufferedTransformation& source, CryptoPP::Integer& value) {
  CryptoPP::Integer read;
  getMPInt(source, read);
  if (read.IsNegative()) throwProtocolError("negative mpint");
  value.swap(read);
}

void expectMessage(BufferedTransformation& source, byte expected) {
  const byte number = getByte(source);
  if (number != expected)
    throwProtocolError("unexpected message number " + std::to_string(number) + ", should be " +
                       std::to_string(expected));
}

void putStdBytes(BufferedTransformation& sink, const std::string& bytes) {
  putBytes(sink, reinterpret_cast<const byte*>(bytes.data()), bytes.size());
}

std::string takeAllBytes(BufferedTransformation& source) {
  std::string bytes(static_cast<size_t>(source.MaxRetrievable()), '\0');
  if (!bytes.empty()) source.Get(reinterpret_cast<byte*>(bytes.data()), bytes.size());
  return bytes;
}

std::string uint32ToString(word32 value) {
  std::string text(4, '\0');
  for (int i = 3; i >= 0; --i) {
    text[static_cast<size_t>(i)] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  return text;
}

word32 stringToUInt32(const std::string& text) {
  if (text.size() < 4) throw Err(Err::kInvalidArgument, "invalid channel name");
  word32 value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(text[i]);
  return value;
}

}  // namespace SSH
