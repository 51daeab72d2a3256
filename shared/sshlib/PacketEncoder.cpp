#include "sshlib/PacketEncoder.h"

#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/Mac.h"
#include "sshlib/TransportState.h"

namespace SSH {

PacketEncoder::PacketEncoder(TransportState& state, CryptoPP::BufferedTransformation* attachment)
    : state_(state) {
  Detach(attachment);
}

size_t PacketEncoder::Put2(const CryptoPP::byte* inString, size_t length, int messageEnd,
                           bool blocking) {
  if (!blocking) throw CryptoPP::BufferedTransformation::BlockingInputOnly("SSH::PacketEncoder");
  if (messageEnd && payload_.IsEmpty() && length > 0 &&
      state_.outputState() != TransportState::kOutNothingSent) {
    // A whole payload in one call is framed from the caller's bytes.
    CryptoPP::StringStore whole(inString, length);
    encodePacket(whole);
    return 0;
  }
  if (length > 0) payload_.Put(inString, length);
  if (messageEnd) {
    if (state_.outputState() == TransportState::kOutNothingSent) {
      // The identification line goes out raw.
      payload_.TransferTo(*AttachedTransformation());
    } else {
      encodePacket(payload_);
    }
  }
  return 0;
}

void PacketEncoder::encodePacket(CryptoPP::BufferedTransformation& payload) {
  const auto refuse = [&payload] {
    payload.Skip(payload.MaxRetrievable());
    throw Err(Err::kInvalidArgument, "payload too large for one packet");
  };
  if (payload.MaxRetrievable() > kMaxPayloadLength) refuse();

  // Without compression the payload is framed straight from its queue.
  Compressor& compressor = state_.outCompressor();
  CryptoPP::BufferedTransformation* compressed = &payload;
  if (!compressor.passesThrough()) {
    // TransferTo, not TransferAllTo: a store's TransferAllTo also ends the
    // message, which would end the zlib stream.
    payload.TransferTo(compressor);
    compressor.Flush(true);
    compressed = compressor.AttachedTransformation();
  }
  const size_t L = static_cast<size_t>(compressed->MaxRetrievable());
  if (L > kMaxPayloadLength) {
    compressed->Skip(L);
    refuse();
  }

  Cipher& cipher = state_.outCipher();
  Mac& mac = state_.outMac();
  const size_t b = cipher.paddingBlockSize();
  const auto packetLength = static_cast<word32>((L + 8 + b) / b * b - 4);
  const auto paddingLength = static_cast<byte>(packetLength - L - 1);
  const size_t total = 4 + size_t{packetLength};
  const size_t macLength = mac.macLength();

  // The plain packet is laid out here, its MAC computed over it, and it is
  // then encrypted where it lies, so ciphertext and MAC leave in one write
  // and no plaintext stays behind.
  packet_.resize(total + macLength);
  byte* packet = packet_.data();
  CryptoPP::PutWord(false, CryptoPP::BIG_ENDIAN_ORDER, packet, packetLength);
  packet[4] = paddingLength;
  compressed->Get(packet + 5, L);
  state_.rng().GenerateBlock(packet + 5 + L, paddingLength);

  if (macLength != 0) {
    CryptoPP::ArraySink macSink(packet + total, macLength);
    mac.Attach(new CryptoPP::Redirector(macSink));
    putUInt32(mac, state_.outSequence());
    mac.Put(packet, total);
    mac.MessageEnd(0);
    mac.Detach();  // the sink lives on this stack only
  }
  CryptoPP::ArraySink cipherSink(packet, total);
  cipher.Attach(new CryptoPP::Redirector(cipherSink));
  cipher.Put(packet, total);
  cipher.Detach();

  state_.incrementOutSequence();
  AttachedTransformation()->Put(packet, total + macLength);
}

}  // namespace SSH
