#pragma once
// The SSH-2 data types (RFC 4251 section 5) written to and read from any
// Crypto++ BufferedTransformation (a byte queue, a filter, a hash filter).
//
// Readers consume from the source. Every read that runs short throws
// CauseToDisconnect, reason SSH_DISCONNECT_PROTOCOL_ERROR, "unexpected end of
// packet", so a truncated message ends the connection. A string's length
// field is checked against the bytes available before anything is allocated.
#include <cryptopp/cryptlib.h>
#include <cryptopp/integer.h>
#include <cryptopp/secblock.h>

#include <cstddef>
#include <string>

namespace SSH {

using CryptoPP::BufferedTransformation;
using CryptoPP::byte;
using CryptoPP::word32;

// The fixed length of the KEXINIT cookie.
inline constexpr size_t kCookieSize = 16;

void putByte(BufferedTransformation& sink, byte value);
void putBoolean(BufferedTransformation& sink, bool value);
void putUInt32(BufferedTransformation& sink, word32 value);
// Raw bytes, no length prefix.
void putBytes(BufferedTransformation& sink, const byte* bytes, size_t length);
// The characters of a zero-terminated text, raw.
void putText(BufferedTransformation& sink, const char* text);
void putString(BufferedTransformation& sink, const byte* bytes, size_t length);
void putStdString(BufferedTransformation& sink, const std::string& text);
void putByteBlock(BufferedTransformation& sink, const CryptoPP::SecByteBlock& block);
// A string whose body is everything the source holds; the source keeps it.
void putQueueString(BufferedTransformation& sink, const BufferedTransformation& source);
// A string of at most maxLength bytes copied from the source's front (the
// source keeps them); returns the count.
size_t putQueueString(BufferedTransformation& sink, const BufferedTransformation& source,
                      size_t maxLength);
// Minimal two's-complement form; zero is the empty string. The temporary
// buffer is wiped.
void putMPInt(BufferedTransformation& sink, const CryptoPP::Integer& value);

byte getByte(BufferedTransformation& source);
bool getBoolean(BufferedTransformation& source);
word32 getUInt32(BufferedTransformation& source);
// Exactly kCookieSize raw bytes.
void getCookie(BufferedTransformation& source, byte* bytes);
void getString(BufferedTransformation& source, CryptoPP::SecByteBlock& block);
void getStdString(BufferedTransformation& source, std::string& text);
// The string's body moved into target.
void getQueueString(BufferedTransformation& source, BufferedTransformation& target);
// Signed two's complement; the empty string is 0.
void getMPInt(BufferedTransformation& source, CryptoPP::Integer& value);
// As getMPInt, for values that must not be negative (key parts, public
// Diffie-Hellman values): a negative one throws "negative mpint".
void getNonNegativeMPInt(BufferedTransformation& source, CryptoPP::Integer& value);
// One byte that must equal expected, else "unexpected message number N,
// should be M".
void expectMessage(BufferedTransformation& source, byte expected);

// Byte texts (blobs) in and out of pipeline objects, without any framing.
void putStdBytes(BufferedTransformation& sink, const std::string& bytes);
// Everything the source holds, consumed.
std::string takeAllBytes(BufferedTransformation& source);

// Channel numbers as 4-byte big-endian pipeline channel names.
std::string uint32ToString(word32 value);
// The first four bytes of a channel name; a shorter name is a caller error
// (SSH::Err category 2 "invalid channel name").
word32 stringToUInt32(const std::string& text);

}  // namespace SSH
