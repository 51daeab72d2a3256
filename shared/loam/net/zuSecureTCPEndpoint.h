#pragma once
// The netobject protocol's transport: a TCP endpoint that opens with a "ZUSL"
// handshake and then, when both sides agree, runs every byte it sends and
// receives through AES-128-CFB below the endpoint's buffering.
//
// Handshake: the client sends a header with its option bytes; the server
// answers with the AND of both sides' encrypt and compress bytes, and, with
// encryption, its RSA public key as hex DER text; the client wraps 64 random
// bytes (the key block) under that key with OAEP-SHA1 and sends them back.
// Both sides then hold the server's option bytes.
//
// What peers rely on and this class therefore keeps as it is:
//  - the client does not authenticate the server's key, so whoever sits in
//    the middle can read and change the traffic;
//  - both directions start from the same key and vector;
//  - CFB carries no integrity check: altered bytes decrypt to altered data.
#include <array>
#include <memory>
#include <span>
#include <vector>

#include "loam/net/zuRSACryptor.h"
#include "loam/net/zuTCPEndpoint.h"

namespace CryptoPP {
class RandomNumberGenerator;
}
class zuSessionCipher;

// The 10 bytes that open each side's part of the handshake.
struct zuSecureHeader {
  static constexpr u32 kSize = 10;
  // Offsets of the option bytes that are negotiated.
  static constexpr u32 kEncrypt = 6;
  static constexpr u32 kCompress = 7;
  // The longest key text or wrapped block a peer may announce.
  static constexpr u16 kMaxLength = 2048;

  // The magic "ZUSL" at 0..3, then option bytes 4..7. Bytes 4 (1) and 5 (0)
  // are carried and never tested.
  std::array<u8, 8> bytes{'Z', 'U', 'S', 'L', 1, 0, 1, 1};
  // Big-endian on the wire: the number of bytes that follow the header.
  u16 length = 0;

  bool hasMagic() const;
  std::array<u8, kSize> encode() const;
  static zuSecureHeader decode(std::span<const u8, kSize> wire);
};

class zuSecureTCPEndpoint : public zuTCPEndpoint {
 public:
  static constexpr u32 kHandshakeTimeout = 15000;
  static constexpr u32 kKeyBits = 1024;

  zuSecureTCPEndpoint(zuEvent* stopEvent, u32 timeout, bool compress);
  // Closes, so that bytes still buffered leave encrypted.
  ~zuSecureTCPEndpoint() override;

  // The TCP connect, then the client handshake; a failed handshake closes the
  // endpoint. An endpoint that is already open is left as it is.
  u16 connect(const zuIPAddress& address, u16 port) override;
  // Makes the key pair when there is none yet (272 when that fails).
  u16 listen(u16 port, const zuIPAddress& bindAddress) override;
  // The next connection whose server handshake succeeds; connections whose
  // handshake fails are dropped and the wait goes on. Null as the TCP accept.
  std::unique_ptr<zuNetEndpoint> accept() override;
  // The next connection, with this listener's keys and handshake time, but
  // before its handshake: the caller runs checkKeysAndHandshake on the
  // connection's own thread, so a slow peer holds up only itself.
  std::unique_ptr<zuNetEndpoint> acceptWithoutHandshake();
  // Closes and forgets the session, so the endpoint can connect afresh.
  u16 close() override;
  // The server handshake on a connection that already exists (key pair as
  // in listen); a failed handshake closes the endpoint.
  u16 checkKeysAndHandshake() override;
  // Always offers compression.
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;
  u16 sendRaw(const void* data, u32 count) override;
  u16 receiveRaw(void* buffer, u32* count) override;

  // Own option byte 4 to 7 (zuSecureHeader offsets); after a handshake,
  // the ones both sides agreed on.
  u8 option(u32 offset) const { return offset < own_.bytes.size() ? own_.bytes[offset] : 0; }
  bool compressionAgreed() const { return own_.bytes[zuSecureHeader::kCompress] != 0; }
  bool isCipherActive() const { return cipher_ != nullptr; }

  // The key pair; a listener hands copies of the texts to every connection.
  zuRSACryptor& cryptor() { return cryptor_; }
  const zuRSACryptor& cryptor() const { return cryptor_; }

  // Test seams. The whole handshake's time limit (handed on to accepted
  // connections); and a generator for the key block and the RSA operations
  // (not handed on; it must outlive the endpoint and stay on its thread).
  void setHandshakeTimeout(u32 ms) { handshakeTimeout_ = ms; }
  u32 handshakeTimeout() const { return handshakeTimeout_; }
  void setRandom(CryptoPP::RandomNumberGenerator* random);

 protected:
  u16 clientHandshake();
  u16 serverHandshake();
  u16 writeHeader(const zuSecureHeader& header);
  u16 readHeader(zuSecureHeader& header);
  u16 startCipher();

  // The connection below the cipher. A test seam: a subclass may carry the
  // bytes elsewhere.
  virtual u16 transportSend(const void* data, u32 count);
  virtual u16 transportReceive(void* buffer, u32* count);

 private:
  // Turns off Nagle's delay on a connected socket.
  void sendWithoutDelay();

  class Deadline;
  u16 runClientHandshake(Deadline& deadline);
  u16 runServerHandshake(Deadline& deadline);
  u16 makeKeys();

  zuRSACryptor cryptor_;
  std::array<u8, 64> keyBlock_{};
  // What this side offers at the start of every handshake, and what it holds
  // now.
  zuSecureHeader offer_;
  zuSecureHeader own_;
  std::vector<u8> workBuffer_;
  std::unique_ptr<zuSessionCipher> cipher_;
  u32 handshakeTimeout_ = kHandshakeTimeout;
  CryptoPP::RandomNumberGenerator* random_ = nullptr;
};
