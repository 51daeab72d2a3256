#pragma once
// The sending end of the SSH-2 binary packet protocol (RFC 4253 section 6).
// Everything put in up to an end of message is one payload; at the end of
// the message it is compressed, framed, padded, encrypted and authenticated
// through the transport state's send filters and handed to the attachment
// in one Put (ciphertext and MAC together). Until the identification has
// been sent (output state 0) bytes pass through unframed.
#include <cryptopp/filters.h>
#include <cryptopp/queue.h>

#include <vector>

namespace SSH {

class TransportState;

class PacketEncoder : public CryptoPP::Filter {
 public:
  // The largest packet_length sent or accepted.
  static constexpr CryptoPP::word32 kMaxPacketLength = 0x20000;
  // The largest payload that fits: 1 byte padding_length, at least 4 of
  // padding, and the whole packet a multiple of the block.
  static constexpr size_t kMaxPayloadLength = kMaxPacketLength - 9;

  PacketEncoder(TransportState& state, CryptoPP::BufferedTransformation* attachment = nullptr);

  // A payload above kMaxPayloadLength (before or after compression) is
  // refused with SSH::Err category 2 "payload too large for one packet" and
  // dropped. Refused before compression, nothing is sent and the connection
  // goes on; refused after it, the compression stream has moved on without
  // the peer and the connection cannot be used.
  size_t Put2(const CryptoPP::byte* inString, size_t length, int messageEnd,
              bool blocking) override;
  bool IsolatedFlush(bool, bool) override { return false; }

 private:
  // Frames everything the payload holds as one packet, consuming it.
  void encodePacket(CryptoPP::BufferedTransformation& payload);

  TransportState& state_;
  CryptoPP::ByteQueue payload_;
  // The packet being assembled; reused, as after each packet it holds only
  // what went on the wire.
  std::vector<CryptoPP::byte> packet_;
};

}  // namespace SSH
