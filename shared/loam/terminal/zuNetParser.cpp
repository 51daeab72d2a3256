#include "loam/terminal/zuNetParser.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "loam/base/zuException.h"
#include "loam/net/zuReadDeadline.h"

namespace {

void raiseIfFailed(u16 status) {
  if (status != 0) throw zuException(status, "");
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The three-digit code at the start of a line, or -1.
int leadingCode(const char* line, u32 length) {
  if (length < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])) return -1;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

bool zuNetParser::isConnected() const { return endpoint_ != nullptr && endpoint_->isOpen(); }

bool zuNetParser::close() {
  status_ = 0;
  if (endpoint_ != nullptr) status_ = endpoint_->close();
  return status_ == 0;
}

u16 zuNetParser::readLine(u32 ms, char* buffer, u32* length) {
  if (endpoint_ == nullptr) {
    *length = 0;
    return zuErrFailed;
  }
  endpoint_->setTimeout(ms);
  return endpoint_->readLine(buffer, length);
}

void zuNetParser::getLine(char* buffer, u32* length) {
  raiseIfFailed(readLine(replyTimeout_, buffer, length));
}

void zuNetParser::sendLine(const char* text) {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "");
  raiseIfFailed(endpoint_->writeLine(text));
  raiseIfFailed(endpoint_->flush());
}

void zuNetParser::sendText(const char* text) {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "");
  raiseIfFailed(endpoint_->writeString(text));
  raiseIfFailed(endpoint_->flush());
}

u16 zuNetParser::discardInput() {
  if (endpoint_ == nullptr) return zuErrFailed;
  endpoint_->setTimeout(0);
  char scrap[1024];
  // A peer that sends faster than we drop would otherwise keep us here.
  for (u32 dropped = 0; dropped < kMaxDiscard;) {
    u32 got = sizeof scrap;
    const u16 status = endpoint_->readSome(scrap, &got);
    if (status != 0 || got == 0) return status;
    dropped += got;
  }
  return 0;
}

u16 zuNetParser::sendCommand(const char* format, ...) {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "");
  char line[kLineSize];
  va_list arguments;
  va_start(arguments, format);
  const int formatted = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (formatted < 0 || static_cast<u32>(formatted) > kMaxCommand)
    throw zuException(zuErrFailed, "command too long.");
  const u32 length = static_cast<u32>(formatted);
  // One command per call: a line break from the arguments would start another.
  if (std::memchr(line, '\r', length) != nullptr || std::memchr(line, '\n', length) != nullptr)
    throw zuException(zuErrFailed, "command contains a line break.");
  line[length] = '\r';
  line[length + 1] = '\n';
  raiseIfFailed(endpoint_->write(line, length + 2));
  raiseIfFailed(endpoint_->flush());
  return readReply();
}

u16 zuNetParser::readReply() {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "");
  // One deadline for all lines: a peer that keeps sending continuation lines
  // cannot hold the reply open past its time.
  zuReadDeadline deadline(replyTimeout_);
  int code = -1;
  char line[kLineSize];
  for (;;) {
    u32 length = sizeof line;
    raiseIfFailed(endpoint_->readLine(line, &length, deadline));
    const int lineCode = leadingCode(line, length);
    if (code < 0) {
      if (lineCode < 0) continue;  // not a reply line
      code = lineCode;
      if (length >= 4 && line[3] == '-') continue;
      return static_cast<u16>(code);
    }
    // Inside a multi-line reply only "ddd " or "ddd" with the first line's
    // code ends it; anything else is text of the reply.
    if (lineCode == code && (length == 3 || line[3] == ' ')) return static_cast<u16>(code);
  }
}
