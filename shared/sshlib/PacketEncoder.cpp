#include "sshlib/PacketEncoder.h"

#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/Mac.h"
#include "sshlib/TransportState.h"

#include <cryptopp/secblock.h>

namespace SSH {

PacketEncoder::PacketEncoder(TransportState& state, CryptoPP::BufferedTransformation* attachment)
    : state_(state) {
  Detach(attachment);
}

size_t PacketEncoder::Put2(const CryptoPP::byte* inString, size_t length, int messageEnd,
                           bool blocking) {
  if (!blocking) throw CryptoPP::BufferedTransformation::BlockingInputOnly("SSH::PacketEncoder");
  if (length > 0) payload_.Put(inString, length);
  if (messageEnd) encodePacket();
  return 0;
}

void PacketEncoder::encodePacket() {
  if (state_.outputState() == TransportState::kOutNothingSent) {
    // The identification line goes out raw.
    payload_.TransferAllTo(*AttachedTransformation());
    return;
  }
  const auto refuse = [this] {
    payload_.Clear();
    throw Err(Err::kInvalidArgument, "payload too large for one packet");
  };
  if (payload_.MaxRetrievable() > kMaxPayloadLength) refuse();

  Compressor& compressor = state_.outCompressor();
  payload_.TransferAllTo(compressor);
  compressor.Flush(true);
  CryptoPP::BufferedTransformation& compressed = *compressor.AttachedTransformation();
  const size_t L = static_cast<size_t>(compressed.MaxRetrievable());
  if (L > kMaxPayloadLength) {
    compressed.Skip(L);
    refuse();
  }

  Cipher& cipher = state_.outCipher();
  Mac& mac = state_.outMac();
  const size_t b = cipher.paddingBlockSize();
  const auto packetLength = static_cast<word32>((L + 8 + b) / b * b - 4);
  const auto paddingLength = static_cast<byte>(packetLength - L - 1);
  CryptoPP::SecByteBlock padding(paddingLength);
  state_.rng().GenerateBlock(padding, padding.size());

  // Ciphertext and MAC are assembled here and leave in one write.
  const size_t macLength = mac.macLength();
  CryptoPP::SecByteBlock packet(4 + packetLength + macLength);
  CryptoPP::ArraySink sink(packet, packet.size());
  cipher.Attach(new CryptoPP::Redirector(sink));
  putUInt32(cipher, packetLength);
  putByte(cipher, paddingLength);
  compressed.CopyTo(cipher);
  putBytes(cipher, padding, padding.size());

  if (macLength == 0) {
    compressed.Skip(L);
  } else {
    mac.Attach(new CryptoPP::Redirector(sink));
    putUInt32(mac, state_.outSequence());
    putUInt32(mac, packetLength);
    putByte(mac, paddingLength);
    compressed.TransferTo(mac, L);
    putBytes(mac, padding, padding.size());
    mac.MessageEnd(0);
  }
  state_.incrementOutSequence();
  AttachedTransformation()->Put(packet, static_cast<size_t>(sink.TotalPutLength()));
}

}  // namespace SSH
