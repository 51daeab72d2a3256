#pragma once
// The exceptions of the SSH library. Every one derives from Crypto++'s
// Exception, so a host that drives a pipeline can catch them as dependency
// errors, as SSH::Err or by exact type. category() keeps the library's own
// numbering (2 caller input, 3 premature end, 5 protocol), which differs
// from the dependency's ErrorType numbering.
#include <cryptopp/cryptlib.h>

#include <string>

namespace SSH {

class Err : public CryptoPP::Exception {
 public:
  enum Category : unsigned {
    kInvalidArgument = 2,  // bad input given by the caller
    kPrematureEnd = 3,     // the data ran out
    kProtocolError = 5,    // every protocol error
  };

  Err(unsigned category, const std::string& text);

  unsigned category() const noexcept { return category_; }

 private:
  unsigned category_;
};

// A protocol error that the peer is told of: the reason code, description
// and language tag of the message that answers it. The message text is
// "SSH: " + kind + description; description() is the description alone.
class ReasonedErr : public Err {
 public:
  CryptoPP::word32 reason() const noexcept { return reason_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& language() const noexcept { return language_; }

 protected:
  ReasonedErr(const char* kind, CryptoPP::word32 reason, const std::string& description,
              const std::string& language);

 private:
  CryptoPP::word32 reason_;
  std::string description_;
  std::string language_;
};

// A protocol violation: carries the fields of the DISCONNECT message that the
// host may answer it with. detail() says more for the host's own user (what
// the peer offered, for instance); it is not part of the message text and
// never goes on the wire. It holds the peer's bytes as they came.
class CauseToDisconnect : public ReasonedErr {
 public:
  CauseToDisconnect(CryptoPP::word32 reason, const std::string& description,
                    const std::string& language, const std::string& detail = "")
      : ReasonedErr("cause to disconnect: ", reason, description, language), detail_(detail) {}

  const std::string& detail() const noexcept { return detail_; }

 private:
  std::string detail_;
};

// A refused channel: carries the fields of CHANNEL_OPEN_FAILURE.
class ChannelOpenFailure : public ReasonedErr {
 public:
  ChannelOpenFailure(CryptoPP::word32 reason, const std::string& description,
                     const std::string& language)
      : ReasonedErr("channel open failure: ", reason, description, language) {}
};

// The language tag of every message the library writes.
inline constexpr const char* kLanguage = "en";

// The usual protocol error: reason SSH_DISCONNECT_PROTOCOL_ERROR, language "en".
[[noreturn]] void throwProtocolError(const std::string& description);

}  // namespace SSH
