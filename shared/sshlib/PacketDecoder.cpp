#include "sshlib/PacketDecoder.h"

#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/Mac.h"
#include "sshlib/TransportState.h"

namespace SSH {
namespace {

constexpr word32 kMacError = 5;          // SSH_DISCONNECT_MAC_ERROR
constexpr word32 kCompressionError = 6;  // SSH_DISCONNECT_COMPRESSION_ERROR

}  // namespace

// Where the inflated payload collects; refuses the byte that would take it
// past the limit, so a small packet cannot inflate into a large allocation.
class PacketDecoder::PayloadLimit : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  explicit PayloadLimit(CryptoPP::ByteQueue& queue) : queue_(queue) {}

  size_t Put2(const byte* inString, size_t length, int, bool) override {
    if (length > kMaxPayloadLength - queue_.CurrentSize()) {
      throwProtocolError("decompressed packet length too large");
    }
    queue_.Put(inString, length);
    return 0;
  }

 private:
  CryptoPP::ByteQueue& queue_;
};

PacketDecoder::PacketDecoder(TransportState& state, CryptoPP::BufferedTransformation* attachment)
    : state_(state), payloadLimit_(std::make_unique<PayloadLimit>(payload_)) {
  Detach(attachment);
  SetAutoSignalPropagation(-1);
}

PacketDecoder::~PacketDecoder() = default;

size_t PacketDecoder::Put2(const byte* inString, size_t length, int messageEnd, bool blocking) {
  if (!blocking) throw CryptoPP::BufferedTransformation::BlockingInputOnly("SSH::PacketDecoder");
  if (length > 0) input_.Put(inString, length);
  for (;;) {
    if (state_.inputState() == TransportState::kInAwaitingVersion) {
      if (!versionReader_.read(input_, state_)) break;
    } else if (!lengthRead_) {
      if (!decodeLength()) break;
    } else if (!decodePacket()) {
      break;
    }
  }
  if (messageEnd) AttachedTransformation()->MessageEnd(GetAutoSignalPropagation());
  return 0;
}

bool PacketDecoder::decodeLength() {
  Cipher& cipher = state_.inCipher();
  const unsigned b = cipher.paddingBlockSize();
  if (input_.CurrentSize() < b) return false;
  cipher.Attach(new CryptoPP::Redirector(packet_));
  input_.TransferTo(cipher, b);
  packetLength_ = getUInt32(packet_);
  if (packetLength_ > kMaxPacketLength) {
    throwProtocolError("packet length too large, may be decryption problem");
  }
  if ((packetLength_ + 4) % b != 0) {
    throwProtocolError("packet size not a multiple of cipher block size");
  }
  lengthRead_ = true;
  return true;
}

bool PacketDecoder::decodePacket() {
  Mac& mac = state_.inMac();
  const size_t macLength = mac.macLength();
  const size_t held = static_cast<size_t>(packet_.CurrentSize());
  if (input_.CurrentSize() + held < packetLength_ + macLength) return false;
  input_.TransferTo(state_.inCipher(), packetLength_ - held);

  // The MAC comes first: nothing in a packet that fails it is looked at, so
  // a forged packet gives the same answer whatever its padding holds.
  if (macLength != 0) {
    input_.TransferTo(mac, macLength);
    putUInt32(mac, state_.inSequence());
    putUInt32(mac, packetLength_);
    packet_.CopyTo(mac);
    mac.MessageEnd(0);
    if (!mac.verified()) throw CauseToDisconnect(kMacError, "MAC check failed", kLanguage);
  }

  const byte paddingLength = getByte(packet_);
  if (paddingLength < 4) throwProtocolError("padding too short");
  if (packetLength_ < paddingLength + 1u) throwProtocolError("negative payload length");
  const size_t payloadLength = packetLength_ - paddingLength - 1u;

  lengthRead_ = false;
  state_.incrementInSequence();

  Compressor& compressor = state_.inCompressor();
  if (compressor.passesThrough()) {
    // At most a packet's length, well inside the payload limit.
    packet_.TransferTo(*AttachedTransformation(), payloadLength);
    packet_.Clear();
  } else {
    compressor.Attach(new CryptoPP::Redirector(*payloadLimit_));
    try {
      packet_.TransferTo(compressor, payloadLength);
      compressor.Flush(true);
    } catch (const Err&) {
      throw;
    } catch (const CryptoPP::Exception&) {
      throw CauseToDisconnect(kCompressionError, "decompression failed", kLanguage);
    }
    packet_.Clear();
    payload_.TransferTo(*AttachedTransformation());
  }
  AttachedTransformation()->MessageEnd(GetAutoSignalPropagation());
  return true;
}

}  // namespace SSH
