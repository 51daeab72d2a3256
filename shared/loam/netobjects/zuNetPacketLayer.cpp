#include "loam/netobjects/zuNetPacketLayer.h"

#include <cryptopp/adler32.h>
#include <cryptopp/filters.h>
#include <cryptopp/zinflate.h>
#include <cryptopp/zlib.h>

#include <cstring>
#include <utility>

#include "loam/base/zuMessageTexts.h"
#include "loam/net/zuNetStatus.h"

namespace {

constexpr unsigned kDeflateLevel = 6;
constexpr unsigned kLog2Window = 15;

class LimitExceeded : public CryptoPP::Exception {
 public:
  LimitExceeded() : Exception(INVALID_DATA_FORMAT, "output limit exceeded") {}
};

class TrailingData : public CryptoPP::Exception {
 public:
  TrailingData() : Exception(INVALID_DATA_FORMAT, "bytes after the end of the zlib stream") {}
};

// Appends to a vector and gives up as soon as the output would pass the
// limit, so neither a compression that does not pay nor a zlib bomb runs to
// its end.
class LimitedSink : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  LimitedSink(std::vector<u8>& out, std::size_t limit) : out_(out), limit_(limit) {}

  std::size_t Put2(const CryptoPP::byte* in, std::size_t length, int, bool) override {
    if (length > limit_ - out_.size()) throw LimitExceeded();
    out_.insert(out_.end(), in, in + length);
    return 0;
  }

 private:
  std::vector<u8>& out_;
  std::size_t limit_;
};

// The zlib wrapper (RFC 1950) around Crypto++'s inflator, like
// CryptoPP::ZlibDecompressor, except that the stream must end exactly at the
// end of the input: the stock inflator passes bytes after the stream's end
// through as if they were data. A preset dictionary is refused.
class ExactZlibInflator : public CryptoPP::Inflator {
 public:
  explicit ExactZlibInflator(CryptoPP::BufferedTransformation* attachment)
      : Inflator(attachment, false) {}

  bool ended() const { return ended_; }

 private:
  static constexpr CryptoPP::byte kDeflateMethod = 8;
  static constexpr CryptoPP::byte kPresetDictionary = 0x20;

  unsigned MaxPrestreamHeaderSize() const override { return 2; }
  unsigned MaxPoststreamTailSize() const override { return 4; }

  void ProcessPrestreamHeader() override {
    adler_.Restart();
    CryptoPP::byte cmf = 0;
    CryptoPP::byte flags = 0;
    if (!m_inQueue.Get(cmf) || !m_inQueue.Get(flags)) throw CryptoPP::ZlibDecompressor::HeaderErr();
    if ((cmf * 256u + flags) % 31u != 0 || (cmf >> 4) > 7)
      throw CryptoPP::ZlibDecompressor::HeaderErr();
    if ((cmf & 0x0F) != kDeflateMethod) throw CryptoPP::ZlibDecompressor::UnsupportedAlgorithm();
    if (flags & kPresetDictionary) throw CryptoPP::ZlibDecompressor::UnsupportedPresetDictionary();
  }

  void ProcessDecompressedData(const CryptoPP::byte* data, std::size_t length) override {
    AttachedTransformation()->Put(data, length);
    adler_.Update(data, length);
  }

  void ProcessPoststreamTail() override {
    CryptoPP::byte sum[4];
    if (m_inQueue.Get(sum, 4) != 4 || !adler_.Verify(sum))
      throw CryptoPP::ZlibDecompressor::Adler32Err();
    // The whole payload is queued before decoding starts, so anything left
    // now lies behind the stream.
    if (m_inQueue.CurrentSize() != 0) throw TrailingData();
    ended_ = true;
  }

  CryptoPP::Adler32 adler_;
  bool ended_ = false;
};

// Inflates into a packet buffer's payload, growing it (at least doubling,
// within the limit) as the output comes; gives up at the limit. When the
// budget refuses the growth, what came so far is kept (at least the message
// header, which the buffer always has room for) and the rest is only
// counted, so the stream is still checked whole.
class PayloadSink : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  PayloadSink(zuNetBuffer& out, u32 limit) : out_(out), limit_(limit) {}

  std::size_t Put2(const CryptoPP::byte* in, std::size_t length, int, bool) override {
    if (length > limit_ - total_) throw LimitExceeded();
    total_ += static_cast<u32>(length);
    if (cut_) return 0;
    const u32 need = size_ + static_cast<u32>(length);
    if (need > out_.capacity()) {
      const u32 doubled = out_.capacity() > limit_ / 2 ? limit_ : out_.capacity() * 2;
      if (!out_.ensureCapacity(need > doubled ? need : doubled)) {
        cut_ = true;
        length = out_.capacity() - size_;
      }
    }
    if (length != 0) std::memcpy(out_.payload() + size_, in, length);
    size_ += static_cast<u32>(length);
    return 0;
  }

  // Bytes kept in the buffer; whether the budget cut the payload short.
  u32 size() const { return size_; }
  bool cut() const { return cut_; }

 private:
  zuNetBuffer& out_;
  u32 limit_;
  u32 size_ = 0;
  u32 total_ = 0;
  bool cut_ = false;
};

void putU32(u8* at, u32 value) {
  at[0] = static_cast<u8>(value >> 24);
  at[1] = static_cast<u8>(value >> 16);
  at[2] = static_cast<u8>(value >> 8);
  at[3] = static_cast<u8>(value);
}

u32 getU32(const u8* at) {
  return static_cast<u32>(at[0]) << 24 | static_cast<u32>(at[1]) << 16 |
         static_cast<u32>(at[2]) << 8 | at[3];
}

}  // namespace

zuNetPacketLayer::zuNetPacketLayer(std::unique_ptr<zuNetEndpoint> endpoint, bool compress)
    : endpoint_(std::move(endpoint)), receiveBuffer_(kReceiveBufferSize), compress_(compress) {
  receiveBuffer_.chargeAbove(kUnchargedSize);
}

zuNetPacketLayer::~zuNetPacketLayer() = default;

u16 zuNetPacketLayer::broken(u16 status) {
  receiveState_ = kStateBroken;
  bytesToRead_ = 0;
  return status;
}

u16 zuNetPacketLayer::send(zuNetBuffer& buffer, u32 length) {
  if (!endpoint_) return zuErrNetwork;
  if (length > buffer.capacity() || length > 0xFFFFFFFFu - zuNetBuffer::kFrameOverhead)
    return zuErrFailed;
  if (sendBroken_) return zuErrNetwork;
  endpoint_->setTimeout(sendTimeout_);
  sendTimer_.start();

  u8* const payload = buffer.payload();
  u32 size = length;
  u8 lead = kLeadPlain;
  if (compress_ && length >= kCompressThreshold) {
    scratch_.clear();
    bool smaller = true;
    try {
      // Only a strictly smaller result is used; the sink stops the attempt
      // as soon as it cannot be.
      CryptoPP::ZlibCompressor compressor(new LimitedSink(scratch_, length - 1), kDeflateLevel,
                                          kLog2Window, true);
      compressor.Put(payload, length);
      compressor.MessageEnd();
    } catch (const LimitExceeded&) {
      smaller = false;
    }
    if (smaller) {
      size = static_cast<u32>(scratch_.size());
      std::memcpy(payload, scratch_.data(), size);
      lead = kLeadCompressed;
    }
    // A large payload's scratch goes back at once.
    if (scratch_.capacity() > kUnchargedSize) std::vector<u8>().swap(scratch_);
  }
  payload[-5] = lead;
  putU32(payload - 4, size);
  payload[size] = kTrailer;
  u16 status = endpoint_->write(buffer.data(), size + zuNetBuffer::kFrameOverhead);
  if (status == 0) status = endpoint_->flush();
  if (status != 0) sendBroken_ = true;
  return status;
}

u16 zuNetPacketLayer::receive(zuNetBuffer& buffer, u32& length, u32 wait) {
  if (!endpoint_ || receiveState_ == kStateBroken) return zuErrNetwork;
  const zuTimer timer;
  length = 0;
  bool firstAttempt = true;
  for (;;) {
    while (bytesToRead_ > 0) {
      u32 left = zuNetEndpoint::kNoTimeout;
      if (wait != zuNetEndpoint::kNoTimeout) {
        const u32 elapsed = timer.elapsed();
        if (elapsed >= wait) {
          // The first attempt always gets its chance, without waiting.
          if (!firstAttempt) return zuErrTimeout;
          left = 0;
        } else {
          left = wait - elapsed;
        }
      }
      firstAttempt = false;
      endpoint_->setTimeout(left);
      u32 got = bytesToRead_;
      const u16 status = endpoint_->readSome(receiveBuffer_.data() + readOffset_, &got);
      if (got != 0) {
        readOffset_ += got;
        bytesToRead_ -= got;
        receiveTimer_.start();
      }
      if (status == zuErrNoData || status == zuErrTimeout || status == zuErrStopped) return status;
      if (status != 0) return broken(status);
    }
    if (receiveState_ == kStateStart) {
      readOffset_ = zuNetBuffer::kHeadSize;
      bytesToRead_ = zuNetBuffer::kHeadSize;
      receiveState_ = kStateHead;
    } else if (receiveState_ == kStateHead) {
      const u8* head = receiveBuffer_.payload();
      if (head[0] == kLeadPlain)
        compressedFrame_ = false;
      else if (head[0] == kLeadCompressed && compress_)
        compressedFrame_ = true;
      else  // a compressed frame also when the handshake agreed on none
        return broken(zuErrNetwork);
      frameLength_ = getU32(head + 1);
      // Checked before anything is allocated for it.
      if (frameLength_ > kMaxPayload) return broken(zuErrNetwork);
      receiveState_ = kStateLength;
    } else if (receiveState_ == kStateLength) {
      if (!receiveBuffer_.ensureCapacity(frameLength_)) return broken(kzuCodeMemoryExhausted);
      readOffset_ = zuNetBuffer::kHeadSize;
      bytesToRead_ = frameLength_ + 1;
      receiveState_ = kStatePayload;
    } else {
      break;
    }
  }

  const u8* payload = receiveBuffer_.payload();
  if (payload[frameLength_] != kTrailer) return broken(zuErrNetwork);
  u16 status = 0;
  cutPacket_ = false;
  if (compressedFrame_) {
    status = inflate(buffer, length);
  } else if (!buffer.ensureCapacity(frameLength_)) {
    status = kzuCodeMemoryExhausted;
  } else {
    if (frameLength_ != 0) std::memcpy(buffer.payload(), payload, frameLength_);
    length = frameLength_;
  }
  // A large frame's room goes back at once: an idle connection holds only
  // the small buffer.
  if (receiveBuffer_.capacity() > kUnchargedSize) receiveBuffer_.shrinkTo(kReceiveBufferSize);
  if (status != 0) {
    length = 0;
    return broken(status);
  }
  receiveState_ = kStateStart;
  return 0;
}

u16 zuNetPacketLayer::inflate(zuNetBuffer& buffer, u32& length) {
  // Straight into the caller's buffer: no second copy of a large payload.
  auto* sink = new PayloadSink(buffer, kMaxPayload);
  try {
    ExactZlibInflator inflator(sink);
    inflator.Put(receiveBuffer_.payload(), frameLength_);
    inflator.MessageEnd();
    if (!inflator.ended()) return zuErrNetwork;
    length = sink->size();
    cutPacket_ = sink->cut();
  } catch (const CryptoPP::Exception&) {
    return zuErrNetwork;
  }
  return 0;
}

u16 zuNetPacketLayer::close() {
  if (!endpoint_) return 0;
  endpoint_->setStopEvent(nullptr);
  return endpoint_->close();
}
