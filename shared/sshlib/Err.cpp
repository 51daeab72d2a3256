#include "sshlib/Err.h"

#include "sshlib/Names.h"

namespace SSH {

namespace {

CryptoPP::Exception::ErrorType errorTypeOf(unsigned category) {
  switch (category) {
    case Err::kInvalidArgument: return CryptoPP::Exception::INVALID_ARGUMENT;
    case Err::kPrematureEnd:
    case Err::kProtocolError: return CryptoPP::Exception::INVALID_DATA_FORMAT;
    default: return CryptoPP::Exception::OTHER_ERROR;
  }
}

}  // namespace

Err::Err(unsigned category, const std::string& text)
    : CryptoPP::Exception(errorTypeOf(category), "SSH: " + text), category_(category) {}

ReasonedErr::ReasonedErr(const char* kind, CryptoPP::word32 reason, const std::string& description,
                         const std::string& language)
    : Err(kProtocolError, kind + description),
      reason_(reason),
      description_(description),
      language_(language) {}

void throwProtocolError(const std::string& description) {
  throw CauseToDisconnect(kDisconnectProtocolError, description, kLanguage);
}

}  // namespace SSH
