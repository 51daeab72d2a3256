#include "loam/net/zuNetEndpoint.h"

#include <algorithm>
#include <cstring>

#include "loam/net/zuReadDeadline.h"

zuNetEndpoint::zuNetEndpoint(zuEvent* stopEvent, u32 timeout)
    : timeout_(timeout),
      stopEvent_(stopEvent),
      readBuffer_(kDefaultBufferSize),
      writeBuffer_(kDefaultBufferSize) {}

zuNetEndpoint::~zuNetEndpoint() = default;

void zuNetEndpoint::setBufferSize(u32 size) {
  // The cursors are offsets, so growing keeps every byte where it was.
  if (size > readBuffer_.size()) readBuffer_.resize(size);
  if (size > writeBuffer_.size()) writeBuffer_.resize(size);
  bufferSize_ = size;
}

u16 zuNetEndpoint::write(const void* data, u32 count) {
  const u32 half = bufferSize_ / 2;
  const std::size_t room = writeBuffer_.size() - writeCursor_;
  if (count <= room && count <= half) {
    if (count != 0) std::memcpy(writeBuffer_.data() + writeCursor_, data, count);
    writeCursor_ += count;
    return 0;
  }
  const u16 status = flush();
  if (status != 0) return status;
  if (count > half) {
    const u16 sent = sendRaw(data, count);
    if (sent == 0) bytesSent_ += count;
    return sent;
  }
  if (count == 0) return 0;
  std::memcpy(writeBuffer_.data(), data, count);
  writeCursor_ = count;
  return 0;
}

u16 zuNetEndpoint::flush() {
  if (writeCursor_ == 0) return 0;
  const u32 pending = writeCursor_;
  const u16 status = sendRaw(writeBuffer_.data(), pending);
  if (status == 0) bytesSent_ += pending;
  writeCursor_ = 0;
  return status;
}

u16 zuNetEndpoint::readSome(void* buffer, u32* count) {
  const u32 room = *count;
  *count = 0;
  if (kind_ == kKindDatagram && bytesSent_ == 0) return zuErrNoData;
  // Asking for nothing never waits on the transport.
  if (room == 0) return 0;
  if (readCursor_ == readEnd_) {
    if (room > bufferSize_ / 2) {
      u32 got = room;
      const u16 status = receiveRaw(buffer, &got);
      if (status != 0) return status;
      bytesReceived_ += got;
      *count = got;
      return 0;
    }
    readCursor_ = readEnd_ = 0;
    u32 got = bufferSize_;
    const u16 status = receiveRaw(readBuffer_.data(), &got);
    if (status != 0) return status;
    if (got == 0) return 0;
    bytesReceived_ += got;
    readEnd_ = got;
  }
  const u32 take = std::min(room, readEnd_ - readCursor_);
  std::memcpy(buffer, readBuffer_.data() + readCursor_, take);
  readCursor_ += take;
  *count = take;
  return 0;
}

u16 zuNetEndpoint::read(void* buffer, u32 count) {
  if (count == 0) return 0;
  u8* const out = static_cast<u8*>(buffer);
  u32 done = 0;
  // Bytes already here need no clock (a byte at a time is the common case).
  if (unreadCount() != 0) {
    done = count;
    const u16 status = readSome(out, &done);
    if (status != 0 || done == count) return status;
  }
  const u32 saved = timeout_;
  zuReadDeadline deadline(saved);
  u16 status = 0;
  while (done < count) {
    // Each wait of the transport gets what is left of the whole call's time.
    if (unreadCount() == 0) {
      u32 wait = 0;
      if (!deadline.nextReceive(wait)) {
        status = zuErrTimeout;
        break;
      }
      timeout_ = wait;
    }
    u32 got = count - done;
    status = readSome(out + done, &got);
    if (status != 0) break;
    done += got;
  }
  timeout_ = saved;
  return status;
}

u16 zuNetEndpoint::readByte(u8& byte, zuReadDeadline& deadline) {
  // A byte already here is delivered whatever the clock says.
  if (unreadCount() != 0) return read(&byte, 1);
  u32 wait = 0;
  if (!deadline.nextReceive(wait)) return zuErrTimeout;
  const u32 saved = timeout_;
  timeout_ = wait;
  const u16 status = read(&byte, 1);
  timeout_ = saved;
  return status;
}

u16 zuNetEndpoint::readLine(char* buffer, u32* length) {
  zuReadDeadline deadline(timeout_);
  return readLine(buffer, length, deadline);
}

u16 zuNetEndpoint::readLine(char* buffer, u32* length, zuReadDeadline& deadline) {
  const u32 size = *length;
  *length = 0;
  // No room even for the terminating NUL.
  if (buffer == nullptr || size == 0) return zuErrFailed;

  u32 stored = 0;
  u16 status = 0;
  for (;;) {
    u8 byte = 0;
    status = readByte(byte, deadline);
    if (status != 0 || byte == '\n') break;
    if (byte == '\r') continue;
    if (size - stored < 2) break;  // the byte is dropped, the rest stays unread
    buffer[stored++] = static_cast<char>(byte);
  }
  buffer[stored] = '\0';
  *length = stored;
  return status;
}

u16 zuNetEndpoint::writeString(const char* text) {
  if (text == nullptr) return 0;
  return write(text, static_cast<u32>(std::strlen(text)));
}

u16 zuNetEndpoint::writeLine(const char* text) {
  const u16 status = writeString(text);
  if (status != 0) return status;
  return write("\r\n", 2);
}

u16 zuNetEndpoint::writeU16(u16 value) {
  const u8 bytes[2] = {static_cast<u8>(value >> 8), static_cast<u8>(value)};
  return write(bytes, sizeof bytes);
}

u16 zuNetEndpoint::writeU32(u32 value) {
  const u8 bytes[4] = {static_cast<u8>(value >> 24), static_cast<u8>(value >> 16),
                       static_cast<u8>(value >> 8), static_cast<u8>(value)};
  return write(bytes, sizeof bytes);
}

u16 zuNetEndpoint::readU16(u16& value) {
  u8 bytes[2];
  const u16 status = read(bytes, sizeof bytes);
  if (status == 0) value = static_cast<u16>(bytes[0] << 8 | bytes[1]);
  return status;
}

u16 zuNetEndpoint::readU16(i16& value) {
  u16 raw = 0;
  const u16 status = readU16(raw);
  if (status == 0) value = static_cast<i16>(raw);
  return status;
}

u16 zuNetEndpoint::readU32(u32& value) {
  u8 bytes[4];
  const u16 status = read(bytes, sizeof bytes);
  if (status == 0)
    value = static_cast<u32>(bytes[0]) << 24 | static_cast<u32>(bytes[1]) << 16 |
            static_cast<u32>(bytes[2]) << 8 | bytes[3];
  return status;
}

u16 zuNetEndpoint::readU32(i32& value) {
  u32 raw = 0;
  const u16 status = readU32(raw);
  if (status == 0) value = static_cast<i32>(raw);
  return status;
}

bool zuNetEndpoint::setPeerAddress(const zuIPAddress&) { return false; }

zuIPAddress zuNetEndpoint::address() const { return localAddress_; }

bool zuNetEndpoint::setStopEvent(zuEvent* stopEvent) {
  stopEvent_ = stopEvent;
  return true;
}
