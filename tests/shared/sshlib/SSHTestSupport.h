#pragma once
// Byte-queue helpers and error capture shared by the SSH library tests.
#include <cryptopp/queue.h>

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

}  // namespace sshtest
