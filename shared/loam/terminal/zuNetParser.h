#pragma once
// A client of a text protocol of command lines and three-digit replies (the
// style of SMTP and FTP control connections) over an endpoint that a
// subclass creates and owns; the parser never deletes it.
//
// Replies: a line "ddd-text" opens a multi-line reply, which ends only with a
// line of the same code followed by a blank (or by nothing); lines between
// may say anything, digits included. Commands are formatted into a bounded
// buffer and may not carry a line break of their own, so text from a peer
// or a user can never add a second command.
#include "loam/net/zuNetEndpoint.h"
#include "loam/platform/zuTypes.h"

class zuNetParser {
 public:
  // One command or reply line, its CR LF and the terminating NUL included.
  static constexpr u32 kLineSize = 512;
  // The longest command text (room for "\r\n" and the NUL).
  static constexpr u32 kMaxCommand = kLineSize - 3;
  // The most discardInput drops in one call.
  static constexpr u32 kMaxDiscard = 1u << 20;

  zuNetParser() = default;
  zuNetParser(const zuNetParser&) = delete;
  zuNetParser& operator=(const zuNetParser&) = delete;
  virtual ~zuNetParser() = default;

  // An endpoint exists and it is open.
  virtual bool isConnected() const;
  // status := the endpoint's close status (0 without one); true when 0.
  // The endpoint is not deleted.
  virtual bool close();

  // The time allowed for one whole reply.
  void setTimeout(u32 ms) { replyTimeout_ = ms; }
  u32 timeout() const { return replyTimeout_; }
  u16 status() const { return status_; }
  zuNetEndpoint* endpoint() const { return endpoint_; }

  // One line with the endpoint's readLine (up to a line feed, carriage
  // returns skipped, NUL-terminated), waiting at most ms per line.
  u16 readLine(u32 ms, char* buffer, u32* length);
  // readLine with the reply time-out; a failure is raised as a zuException.
  void getLine(char* buffer, u32* length);
  // The text and "\r\n" / the text alone, flushed; failures raised.
  void sendLine(const char* text);
  void sendText(const char* text);
  // Drops whatever has already arrived, at most kMaxDiscard bytes (the
  // rest stays for later); the last read's status.
  u16 discardInput();

  // Formats the command printf-style, sends it with "\r\n" and returns the
  // reply code. A command longer than kMaxCommand or one holding CR or LF is
  // refused (zuException 515) before anything is sent; endpoint failures are
  // raised with their status.
  u16 sendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Reads the lines of one reply within the reply time-out and returns its
  // code (that of its first line). The time-out bounds the whole reply, as a
  // zuReadDeadline does: lines already received are read even when it has
  // run out, nothing is waited for after it. Lines before the first reply
  // line that do not begin with three digits are skipped. Failures are
  // raised.
  u16 readReply();

 protected:
  void setEndpoint(zuNetEndpoint* endpoint) { endpoint_ = endpoint; }
  void setStatus(u16 status) { status_ = status; }

 private:
  zuNetEndpoint* endpoint_ = nullptr;
  u16 status_ = 0;
  u32 replyTimeout_ = zuNetEndpoint::kNoTimeout;
};
