#pragma once
// Packets over an endpoint's byte stream. A frame is a lead byte ('<' plain,
// '(' zlib-compressed payload), the payload length as u32 big-endian, the
// payload and a '>' trailer. Receiving is resumable: a call that runs out of
// time (or is stopped) keeps what it has read, and the next call goes on from
// there. Any other failure breaks the layer for good.
#include <memory>
#include <vector>

#include "loam/base/zuTimer.h"
#include "loam/net/zuNetEndpoint.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/platform/zuTypes.h"

class zuNetPacketLayer {
 public:
  static constexpr u8 kLeadPlain = '<';
  static constexpr u8 kLeadCompressed = '(';
  static constexpr u8 kTrailer = '>';
  // Payloads shorter than this are never compressed.
  static constexpr u32 kCompressThreshold = 1000;
  // The largest payload taken from a peer, on the wire and inflated. The
  // library's own peers send at most 30006 bytes.
  static constexpr u32 kMaxPayload = 1u << 20;
  static constexpr u32 kReceiveBufferSize = 11264;
  // Buffer room beyond this is charged to the process's gathering budget
  // (zuGatherBudget) while a large packet holds it; the library's own
  // packets fit within it.
  static constexpr u32 kUnchargedSize = 32768;

  static constexpr u32 kStateStart = 0;
  static constexpr u32 kStateHead = 1;
  static constexpr u32 kStateLength = 2;
  static constexpr u32 kStatePayload = 3;
  static constexpr u32 kStateBroken = 4;

  // Takes ownership of the endpoint (null is allowed: every call then
  // fails with 516).
  zuNetPacketLayer(std::unique_ptr<zuNetEndpoint> endpoint, bool compress);
  zuNetPacketLayer(const zuNetPacketLayer&) = delete;
  zuNetPacketLayer& operator=(const zuNetPacketLayer&) = delete;
  ~zuNetPacketLayer();

  // Sends the length payload bytes at buffer.payload() as one frame. The
  // frame head and trailer are written around the payload in the buffer, and
  // a compressed payload replaces the original there. 515 when length
  // exceeds the buffer's capacity. A send that fails part way leaves a torn
  // frame on the wire (and a cipher stream ahead of it): every later send
  // then fails with 516.
  u16 send(zuNetBuffer& buffer, u32 length);
  // The endpoint's time-out for each send; none at construction.
  void setSendTimeout(u32 ms) { sendTimeout_ = ms; }
  u32 sendTimeout() const { return sendTimeout_; }
  // Receives one packet's payload into buffer.payload(), growing the buffer
  // as needed, and sets length. wait is in milliseconds, 0xFFFFFFFF without
  // limit. 257, 258 and 513 keep the progress; other failures break the
  // layer and every later call gives 516. A compressed packet on a layer
  // that does not compress (the handshake agreed on none) is such a
  // failure (516); so is a plain packet whose room the gathering budget
  // refuses (259). A compressed packet whose inflated room the budget
  // refuses is delivered cut short (lastPacketCut): only its first length
  // bytes, at least as many as the buffer had room for.
  u16 receive(zuNetBuffer& buffer, u32& length, u32 wait);
  // The last packet delivered was cut short for want of budget.
  bool lastPacketCut() const { return cutPacket_; }
  // Clears the endpoint's stop event, then closes it.
  u16 close();

  zuNetEndpoint* endpoint() const { return endpoint_.get(); }
  // For a connection whose compression is settled after the layer is made.
  void setCompress(bool compress) { compress_ = compress; }
  bool compress() const { return compress_; }
  // Restarted whenever bytes arrive.
  const zuTimer& receiveTimer() const { return receiveTimer_; }
  // Restarted at every send.
  const zuTimer& sendTimer() const { return sendTimer_; }
  u32 receiveState() const { return receiveState_; }

 private:
  u16 broken(u16 status);
  // Inflates the received zlib stream into buffer: 516 when the stream is
  // bad, does not end exactly at the payload's end, or inflates past
  // kMaxPayload. Cut short (cutPacket_) when the budget refuses the room.
  u16 inflate(zuNetBuffer& buffer, u32& length);

  u32 receiveState_ = kStateStart;
  u32 frameLength_ = 0;
  std::unique_ptr<zuNetEndpoint> endpoint_;
  u32 bytesToRead_ = 0;
  // Offset into the receive buffer's storage where the next bytes go; an
  // offset stays right when the buffer grows.
  std::size_t readOffset_ = 0;
  zuNetBuffer receiveBuffer_;
  bool compressedFrame_ = false;
  bool cutPacket_ = false;
  zuTimer receiveTimer_;
  zuTimer sendTimer_;
  bool compress_;
  u32 sendTimeout_ = 0xFFFFFFFFu;
  bool sendBroken_ = false;
  // Scratch for compression, kept between calls up to kUnchargedSize.
  std::vector<u8> scratch_;
};
