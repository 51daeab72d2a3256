#pragma once
// The one key exchange of the library, diffie-hellman-group1-sha1 (RFC 4253
// section 8) over the Oakley group 2 prime of RFC 2409 with generator 2, for
// both sides. The Manager creates one per exchange after negotiation, routes
// the bytes of KEXDH_INIT / KEXDH_REPLY here and ends the message; that end
// completes the exchange, fills K, H, the session id (first exchange only)
// and K_S into the transport state, and sets both states to 3.
//
// Nothing is stored unless the exchange succeeds: the peer's public value is
// range-checked before it is used, and at a client H and K are kept only
// once the host's signature over H verified.
#include <cryptopp/dh.h>
#include <cryptopp/filters.h>
#include <cryptopp/integer.h>
#include <cryptopp/queue.h>
#include <cryptopp/secblock.h>

#include <string>

namespace SSH {

class TransportState;
struct VersionInfo;

class KEX_DH : public CryptoPP::Unflushable<CryptoPP::Filter> {
 public:
  static constexpr const char* kMethod = "diffie-hellman-group1-sha1";
  // The Oakley group 2 prime (RFC 2409 section 6.2) in decimal.
  static const char* const kGroup2Prime;

  KEX_DH(TransportState& state, CryptoPP::BufferedTransformation* attachment = nullptr);
  ~KEX_DH() override;

  // The checks of negotiation, all reason 3 (SSH_DISCONNECT_KEY_EXCHANGE_FAILED):
  // the method must be diffie-hellman-group1-sha1, a host key algorithm must
  // be common (at a server: "ssh-dss", the only one it signs with), and each
  // per-direction cipher, MAC and compression must be common and one the
  // factories build, so an unusable name fails here and not at NEWKEYS.
  static void checkNegotiatedAlgorithms(const TransportState& state);

  // True when a peer that sent a guessed key exchange packet guessed wrong:
  // its first kex or host key name is not the negotiated one, or a
  // per-direction name has nothing in common.
  static bool peerGuessWasWrong(const TransportState& state);

  // Client: generates the key pair and sends KEXDH_INIT (byte 30, mpint e)
  // to the attachment, ending the message. Needs both states at 2.
  void sendKexDhInit();

  // The message in hand (number byte included) collects here; its end
  // completes the exchange: KEXDH_REPLY at a client, KEXDH_INIT at a server.
  size_t Put2(const CryptoPP::byte* inString, size_t length, int messageEnd,
              bool blocking) override;

  // H = SHA-1 over V_C, V_S, I_C, I_S, K_S (strings), e, f, K (mpints).
  // I_C and I_S are the KEXINIT payloads exactly as sent and received.
  static CryptoPP::SecByteBlock exchangeHash(const std::string& clientVersion,
                                             const std::string& serverVersion,
                                             const std::string& clientKexInit,
                                             const std::string& serverKexInit,
                                             const std::string& hostKeyBlob,
                                             const CryptoPP::Integer& e,
                                             const CryptoPP::Integer& f,
                                             const CryptoPP::Integer& K);

  const CryptoPP::DH& domain() const { return dh_; }
  const CryptoPP::Integer& e() const { return e_; }
  const CryptoPP::Integer& f() const { return f_; }

 private:
  void generateKeyPair(CryptoPP::Integer& publicValue);
  // K from the peer's public value, which must lie in 2 ... p-2 and pass
  // the dependency's validation; else "invalid DH value".
  CryptoPP::Integer agree(const CryptoPP::Integer& peerValue) const;
  void receiveReply();
  void receiveInit(int propagation);
  CryptoPP::SecByteBlock computeExchangeHash(const std::string& hostKeyBlob,
                                             const CryptoPP::Integer& K) const;
  void finish(const std::string& hostKeyBlob, const CryptoPP::Integer& K,
              const CryptoPP::SecByteBlock& H);

  TransportState& state_;
  CryptoPP::DH dh_;
  CryptoPP::word32 privateKeyLength_;
  CryptoPP::SecByteBlock privateKey_;
  CryptoPP::Integer e_;
  CryptoPP::Integer f_;
  CryptoPP::ByteQueue input_;
};

}  // namespace SSH
