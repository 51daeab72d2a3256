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
  if (input_.IsEmpty() && length > 0) {
    CryptoPP::StringStore fresh(inString, length);
    decodeFrom(fresh);
    fresh.TransferTo(input_);
  } else {
    if (length > 0) input_.Put(inString, length);
    decodeFrom(input_);
  }
  if (messageEnd) AttachedTransformation()->MessageEnd(GetAutoSignalPropagation());
  return 0;
}

void PacketDecoder::decodeFrom(CryptoPP::BufferedTransformation& in) {
  for (;;) {
    if (state_.inputState() == TransportState::kInAwaitingVersion) {
      if (!versionReader_.read(in, state_)) return;
    } else if (!lengthRead_) {
      if (!decodeLength(in)) return;
    } else if (!decodePacket(in)) {
      return;
    }
  }
}

void PacketDecoder::decrypt(CryptoPP::BufferedTransformation& in, size_t length) {
  Cipher& cipher = state_.inCipher();
  CryptoPP::ArraySink sink(packet_ + held_, length);
  cipher.Attach(new CryptoPP::Redirector(sink));
  in.TransferTo(cipher, length);
  cipher.Detach();  // the sink lives on this stack only
  held_ += length;
}

bool PacketDecoder::decodeLength(CryptoPP::BufferedTransformation& in) {
  const unsigned b = state_.inCipher().paddingBlockSize();
  if (in.MaxRetrievable() < b) return false;
  if (packet_.size() < b) packet_.CleanGrow(b);
  held_ = 0;
  decrypt(in, b);
  packetLength_ = CryptoPP::GetWord<word32>(false, CryptoPP::BIG_ENDIAN_ORDER, packet_);
  if (packetLength_ > kMaxPacketLength) {
    throwProtocolError("packet length too large, may be decryption problem");
  }
  if ((packetLength_ + 4) % b != 0) {
    throwProtocolError("packet size not a multiple of cipher block size");
  }
  lengthRead_ = true;
  return true;
}

bool PacketDecoder::decodePacket(CryptoPP::BufferedTransformation& in) {
  Mac& mac = state_.inMac();
  const size_t macLength = mac.macLength();
  const size_t total = 4 + size_t{packetLength_};
  if (in.MaxRetrievable() < total - held_ + macLength) return false;
  if (packet_.size() < total) packet_.CleanGrow(total);
  decrypt(in, total - held_);

  // The MAC comes first: nothing in a packet that fails it is looked at, so
  // a forged packet gives the same answer whatever its padding holds.
  if (macLength != 0) {
    in.TransferTo(mac, macLength);
    putUInt32(mac, state_.inSequence());
    mac.Put(packet_, total);
    mac.MessageEnd(0);
    if (!mac.verified()) throw CauseToDisconnect(kMacError, "MAC check failed", kLanguage);
  }

  const byte paddingLength = packet_[4];
  if (paddingLength < 4) throwProtocolError("padding too short");
  if (packetLength_ < paddingLength + 1u) throwProtocolError("negative payload length");

  lengthRead_ = false;
  state_.incrementInSequence();
  deliver(packet_ + 5, packetLength_ - paddingLength - 1u);
  return true;
}

void PacketDecoder::deliver(const byte* payload, size_t length) {
  CryptoPP::BufferedTransformation& out = *AttachedTransformation();
  Compressor& compressor = state_.inCompressor();
  if (compressor.passesThrough()) {
    // At most a packet's length, well inside the payload limit.
    out.Put(payload, length);
  } else {
    compressor.Attach(new CryptoPP::Redirector(*payloadLimit_));
    try {
      compressor.Put(payload, length);
      compressor.Flush(true);
    } catch (const Err&) {
      throw;
    } catch (const CryptoPP::Exception&) {
      throw CauseToDisconnect(kCompressionError, "decompression failed", kLanguage);
    }
    compressor.Detach();
    payload_.TransferTo(out);
  }
  out.MessageEnd(GetAutoSignalPropagation());
}

}  // namespace SSH
