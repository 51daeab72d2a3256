#pragma once
// The payload of SSH_MSG_KEXINIT (RFC 4253 section 7.1).
#include <cryptopp/cryptlib.h>

#include <array>
#include <string>

#include "sshlib/Encoding.h"

namespace SSH {

struct KexInit {
  std::array<CryptoPP::byte, kCookieSize> cookie{};  // filled when sent
  std::string kexAlgorithms;
  std::string serverHostKeyAlgorithms;
  std::string encryptionAlgorithmsClientToServer;
  std::string encryptionAlgorithmsServerToClient;
  std::string macAlgorithmsClientToServer;
  std::string macAlgorithmsServerToClient;
  std::string compressionAlgorithmsClientToServer;
  std::string compressionAlgorithmsServerToClient;
  std::string languagesClientToServer;
  std::string languagesServerToClient;
  bool firstKexPacketFollows = false;

  // The bytes of the message exactly as decode read them (number byte to the
  // reserved field). The exchange hash covers the peer's KEXINIT as received;
  // a re-encoding would differ from it in a non-zero reserved field.
  std::string receivedPayload;

  void setKexAlgorithms(const std::string& list) { kexAlgorithms = list; }
  void setHostKeyAlgorithms(const std::string& list) { serverHostKeyAlgorithms = list; }
  // Each sets the same list for both directions.
  void setEncryptionAlgorithms(const std::string& list);
  void setMacAlgorithms(const std::string& list);
  void setCompressionAlgorithms(const std::string& list);

  // Writes the whole message: number 20, cookie, the ten lists, the flag and
  // reserved 0.
  void encode(CryptoPP::BufferedTransformation& out) const;
  // Reads one message (number byte included) and keeps its bytes in
  // receivedPayload. Short or malformed input throws CauseToDisconnect; the
  // record is left unchanged then.
  void decode(CryptoPP::BufferedTransformation& in);

  // The payload for the exchange hash: as received, else as encode writes it.
  std::string hashPayload() const;

  // Compares the negotiated fields (cookie, lists, flag), not receivedPayload.
  bool operator==(const KexInit& other) const;
};

}  // namespace SSH
