#pragma once
// The receiving end of the SSH-2 binary packet protocol (RFC 4253 section 6).
// Raw bytes from the network go in; first the peer's identification line is
// read, then the stream is cut into packets, each decrypted, its MAC checked
// (before anything in it is believed), decompressed, and handed to the
// attachment as its payload followed by one end of message.
//
// Every byte is the peer's: a packet is at most 0x20000 bytes, its payload
// inflates to at most 0x40000 bytes (bounded while inflating), and a packet
// costs work only once all of it is here (only its first block is decrypted
// before that, to learn its length).
#include <cryptopp/filters.h>
#include <cryptopp/queue.h>

#include <memory>

#include "sshlib/PacketEncoder.h"
#include "sshlib/PeerVersionReader.h"

namespace SSH {

class TransportState;

class PacketDecoder : public CryptoPP::AutoSignaling<CryptoPP::Filter> {
 public:
  static constexpr CryptoPP::word32 kMaxPacketLength = PacketEncoder::kMaxPacketLength;
  static constexpr size_t kMaxPayloadLength = 0x40000;

  PacketDecoder(TransportState& state, CryptoPP::BufferedTransformation* attachment = nullptr);
  ~PacketDecoder() override;

  // Decodes as much as has arrived. A decoder that lacks bytes returns and
  // goes on when more are put; every fault of the peer throws
  // CauseToDisconnect, after which the connection cannot be used.
  size_t Put2(const CryptoPP::byte* inString, size_t length, int messageEnd,
              bool blocking) override;
  bool IsolatedFlush(bool, bool) override { return false; }

 private:
  class PayloadLimit;

  // Runs the decoding steps over `in` until it lacks bytes.
  void decodeFrom(CryptoPP::BufferedTransformation& in);
  // One step each; false when more input is needed.
  bool decodeLength(CryptoPP::BufferedTransformation& in);
  bool decodePacket(CryptoPP::BufferedTransformation& in);
  // Decrypts `length` bytes of `in` into the packet buffer at `held_`.
  void decrypt(CryptoPP::BufferedTransformation& in, size_t length);
  void deliver(const CryptoPP::byte* payload, size_t length);

  TransportState& state_;
  PeerVersionReader versionReader_;
  bool lengthRead_ = false;
  CryptoPP::word32 packetLength_ = 0;
  // Received bytes not yet decoded; bytes that arrive whole in one Put are
  // decoded where they lie and only what is left over lands here.
  CryptoPP::ByteQueue input_;
  // The decrypted packet in hand from its length field on, `held_` bytes
  // of it so far; kept for the next packet (it grows to the largest one).
  CryptoPP::SecByteBlock packet_;
  size_t held_ = 0;
  CryptoPP::ByteQueue payload_;
  std::unique_ptr<PayloadLimit> payloadLimit_;
};

}  // namespace SSH
