#pragma once
// Byte-queue helpers and error capture shared by the SSH library tests.
#include <cryptopp/hex.h>
#include <cryptopp/queue.h>
#include <cryptopp/secblock.h>

#include <functional>
#include <ostream>
#include <string>

#include "sshlib/Err.h"

namespace sshtest {

inline CryptoPP::ByteQueue queueOf(const std::string& bytes) {
  CryptoPP::ByteQueue q;
  q.Put(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
  return q;
}

inline std::string contents(const CryptoPP::BufferedTransformation& q) {
  std::string out(static_cast<size_t>(q.MaxRetrievable()), '\0');
  q.Peek(reinterpret_cast<CryptoPP::byte*>(out.data()), out.size());
  return out;
}

// The what() text of the SSH::Err that f throws ("" when it throws none).
inline std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const SSH::Err& e) {
    return e.what();
  }
  return "";
}

// The category and what() text of the SSH::Err that f throws (0 and "" when none).
struct Caught {
  unsigned category = 0;
  std::string what;
  bool operator==(const Caught&) const = default;
};
inline Caught caughtErr(const std::function<void()>& f) {
  try {
    f();
  } catch (const SSH::Err& e) {
    return {e.category(), e.what()};
  }
  return {};
}
inline std::ostream& operator<<(std::ostream& os, const Caught& c) {
  return os << c.category << " \"" << c.what << "\"";
}

// The description of the CauseToDisconnect that f throws ("" when none);
// every one the library throws for the peer's bytes has reason 2 and "en".
inline std::string disconnectOf(const std::function<void()>& f, unsigned reason = 2) {
  try {
    f();
  } catch (const SSH::CauseToDisconnect& e) {
    if (e.reason() != reason || e.language() != "en") return "bad fields: " + e.description();
    return e.description();
  }
  return "";
}

inline const CryptoPP::byte* bytes(const std::string& text) {
  return reinterpret_cast<const CryptoPP::byte*>(text.data());
}

inline void put(CryptoPP::BufferedTransformation& to, const std::string& data) {
  to.Put(bytes(data), data.size());
}

// Everything the object can hand out, taken out of it.
inline std::string take(CryptoPP::BufferedTransformation& from) {
  std::string out(static_cast<size_t>(from.MaxRetrievable()), '\0');
  from.Get(reinterpret_cast<CryptoPP::byte*>(out.data()), out.size());
  return out;
}

inline std::string unhex(const std::string& hexText) {
  std::string out;
  CryptoPP::HexDecoder decoder(new CryptoPP::StringSink(out));
  put(decoder, hexText);
  decoder.MessageEnd();
  return out;
}

// Lower-case hex text.
inline std::string hex(const std::string& data) {
  std::string out;
  CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(out), false);
  put(encoder, data);
  encoder.MessageEnd();
  return out;
}

inline std::string hex(const CryptoPP::SecByteBlock& block) {
  return hex(std::string(reinterpret_cast<const char*>(block.data()), block.size()));
}

inline CryptoPP::SecByteBlock block(const std::string& data) {
  return CryptoPP::SecByteBlock(bytes(data), data.size());
}

}  // namespace sshtest
