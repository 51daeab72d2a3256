#pragma once
// The byte-stream endpoint every transport derives from. It buffers writes and
// reads on top of the two raw operations a transport supplies (sendRaw,
// receiveRaw) and carries what all transports share: peer and local address,
// a time-out, an optional stop event and byte counters.
//
// Every operation that can fail returns a status (loam/net/zuNetStatus.h), 0
// on success; nothing here throws. One thread uses an endpoint at a time;
// another thread stops a blocked transfer only through the stop event.
#include <memory>
#include <vector>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuNetStatus.h"
#include "loam/platform/zuTypes.h"

class zuEvent;
class zuReadDeadline;

class zuNetEndpoint {
 public:
  static constexpr u32 kKindRaw = 0;
  static constexpr u32 kKindDatagram = 1;
  static constexpr u32 kKindStream = 2;
  // A time-out without limit.
  static constexpr u32 kNoTimeout = 0xFFFFFFFF;
  static constexpr u32 kDefaultBufferSize = 10240;

  zuNetEndpoint(zuEvent* stopEvent, u32 timeout);
  zuNetEndpoint(const zuNetEndpoint&) = delete;
  zuNetEndpoint& operator=(const zuNetEndpoint&) = delete;
  virtual ~zuNetEndpoint();

  virtual u16 connect(const zuIPAddress& address, u16 port) = 0;
  virtual u16 connectTo(const char* host, u16 port) = 0;
  // Two operations that no endpoint class implements; they answer 517.
  virtual u16 reserved3() { return zuErrNotAvailable; }
  virtual u16 listen(u16 port, const zuIPAddress& bindAddress) = 0;
  virtual u16 reserved5() { return zuErrNotAvailable; }
  // A new endpoint for the next incoming connection, or null.
  virtual std::unique_ptr<zuNetEndpoint> accept() = 0;
  virtual u16 close() = 0;

  // Exactly count bytes within the time-out (258 when it runs out first).
  // Bytes already received are delivered whatever the clock says; the
  // time-out bounds only the waits (zuReadDeadline). Restores the time-out on
  // every exit.
  virtual u16 read(void* buffer, u32 count);
  // Up to *count bytes (the room); *count receives how many were delivered,
  // which may be 0.
  virtual u16 readSome(void* buffer, u32* count);
  // Buffered: small writes collect in the write buffer, large ones go to the
  // transport directly after a flush.
  virtual u16 write(const void* data, u32 count);
  // Sends the buffered bytes; they are dropped when the send fails.
  virtual u16 flush();

  virtual bool setPeerAddress(const zuIPAddress& address);
  virtual zuIPAddress address() const;
  virtual bool isOpen() const = 0;
  virtual bool setStopEvent(zuEvent* stopEvent);
  virtual void localAddresses(std::vector<zuIPAddress>& addresses) = 0;
  virtual u16 checkKeysAndHandshake() { return zuErrNotAvailable; }
  // A new endpoint of the same class.
  virtual std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) = 0;

  // The transport itself, unbuffered. sendRaw sends all count bytes or
  // fails; receiveRaw receives up to *count bytes (the room) and sets *count
  // to the number received.
  virtual u16 sendRaw(const void* data, u32 count) = 0;
  virtual u16 receiveRaw(void* buffer, u32* count) = 0;

  // Grows both buffers when size is larger, keeping unread and unsent bytes;
  // a smaller size only lowers the thresholds of read and write.
  void setBufferSize(u32 size);
  u32 bufferSize() const { return bufferSize_; }

  // The text without its terminating NUL.
  u16 writeString(const char* text);
  // The text followed by "\r\n".
  u16 writeLine(const char* text);
  // Reads one line up to a line feed into buffer; *length is the buffer size
  // on entry and the number of bytes stored (a NUL follows them) on return.
  // Carriage returns are skipped. A line longer than the buffer ends early
  // with 0 and the rest of it stays unread. A buffer of size 0 gives 515.
  // The time-out bounds the whole line as a zuReadDeadline does: a line
  // whose bytes are already here is never cut by the clock.
  u16 readLine(char* buffer, u32* length);
  // The same within a deadline the caller shares across several reads.
  u16 readLine(char* buffer, u32* length, zuReadDeadline& deadline);
  // One byte within the deadline: from the read buffer when it holds one,
  // else from the transport while the deadline allows (258 when not).
  u16 readByte(u8& byte, zuReadDeadline& deadline);

  // Big-endian values.
  u16 writeU16(u16 value);
  u16 writeU16(i16 value) { return writeU16(static_cast<u16>(value)); }
  u16 writeU32(u32 value);
  u16 writeU32(i32 value) { return writeU32(static_cast<u32>(value)); }
  u16 readU16(u16& value);
  u16 readU16(i16& value);
  u16 readU32(u32& value);
  u16 readU32(i32& value);

  const zuIPAddress& peerAddress() const { return peerAddress_; }
  u16 peerPort() const { return peerPort_; }
  const zuIPAddress& localAddress() const { return localAddress_; }
  u16 localPort() const { return localPort_; }
  u32 kind() const { return kind_; }
  u32 timeout() const { return timeout_; }
  void setTimeout(u32 timeout) { timeout_ = timeout; }
  zuEvent* stopEvent() const { return stopEvent_; }
  u32 bytesSent() const { return bytesSent_; }
  u32 bytesReceived() const { return bytesReceived_; }

 protected:
  // Bytes received but not yet handed to the caller.
  u32 unreadCount() const { return readEnd_ - readCursor_; }

  zuIPAddress peerAddress_;
  u16 peerPort_ = 0;
  zuIPAddress localAddress_;
  u16 localPort_ = 0;
  u32 kind_ = kKindRaw;

 private:
  u32 timeout_;
  zuEvent* stopEvent_;
  u32 bytesSent_ = 0;
  u32 bytesReceived_ = 0;
  u32 bufferSize_ = kDefaultBufferSize;
  std::vector<u8> readBuffer_;
  u32 readCursor_ = 0;
  u32 readEnd_ = 0;
  std::vector<u8> writeBuffer_;
  u32 writeCursor_ = 0;
};
