#pragma once
// A telnet client: connects a TCP endpoint (port 23 unless set otherwise),
// sends lines and receives bytes while it answers the server's option
// negotiation. It refuses every option except Suppress Go Ahead and answers
// each option once per connection, which ends negotiation loops. zuSSH
// derives from it and reuses its fields and virtual interface.
//
// Received data: IAC IAC gives one byte 255, subnegotiations are dropped
// whole, and a CR NUL pair (a bare carriage return on the wire) gives the CR
// alone. Sent lines have every byte 255 doubled, so text can never be read
// by the server as a command.
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "loam/net/zuIPAddress.h"
#include "loam/terminal/zuNetParser.h"

class zuEvent;

class zuTelnet : public zuNetParser {
 public:
  static constexpr u16 kDefaultPort = 23;
  // Most bytes one receive takes in, negotiation included, and most text
  // receiveString gathers, before they give up (515): a server that never
  // sends the stop byte must not grow us or keep us busy without bound.
  static constexpr std::size_t kMaxReceivedText = 1u << 20;

  // Telnet commands (RFC 854) and the options the client treats specially.
  static constexpr u8 kSE = 240;
  static constexpr u8 kGA = 249;
  static constexpr u8 kSB = 250;
  static constexpr u8 kWILL = 251;
  static constexpr u8 kWONT = 252;
  static constexpr u8 kDO = 253;
  static constexpr u8 kDONT = 254;
  static constexpr u8 kIAC = 255;
  static constexpr u8 kOptionEcho = 1;
  static constexpr u8 kOptionSuppressGoAhead = 3;
  static constexpr u8 kOptionWindowSize = 31;
  static constexpr u8 kOptionEncryption = 38;

  // States of the receive state machine.
  static constexpr u32 kStateData = 0;
  static constexpr u32 kStateAfterIAC = 1;
  static constexpr u32 kStateOption = 2;
  static constexpr u32 kStateSubnegotiation = 3;
  static constexpr u32 kStateSubnegotiationIAC = 4;
  static constexpr u32 kStateIdle = 5;

  // Option states in the table: requested by this client (kept for
  // subclasses; nothing here sets it), and settled.
  static constexpr u32 kOptionRequested = 1;
  static constexpr u32 kOptionSettled = 2;

  struct Option {
    u8 option;
    u32 state;
  };

  // The stop event goes to every endpoint the client creates.
  explicit zuTelnet(zuEvent* stopEvent);
  ~zuTelnet() override;

  // disconnect, then a new TCP endpoint with the time-out (also the reply
  // time-out) connected to the address on the port; the option table starts
  // empty. The status is the endpoint's; true when connected.
  bool connect(const zuIPAddress& address, u32 timeout);

  // Connected flag set, an endpoint exists and it is open.
  bool isConnected() const override;
  // Closes and deletes the endpoint; the result is that of close.
  virtual bool disconnect();
  // The text with its bytes 255 doubled, then "\r\n", flushed.
  virtual u16 send(const char* text);
  // Received data onto out (when given) until the stop byte has been put
  // there (a value above 255 means none), a Go Ahead, or a read fails. The
  // reply time-out bounds the whole call, as a zuReadDeadline does: bytes
  // already received are taken even when it has run out, nothing is waited
  // for after it, and bytes of negotiation count as much as data. With
  // noWait nothing is waited for: it takes bytes until a read finds none,
  // and that time-out gives 0 (the status stays 258). More than
  // kMaxReceivedText bytes in one call give 515.
  virtual u16 receive(std::ostream* out, u32 stopByte, bool noWait);
  // receive (the virtual one) collected into a text; assigned to out when the
  // status is 0 or 258.
  u16 receiveString(std::string& out, u32 stopByte, bool noWait);

  static const char* commandName(u8 command);
  static const char* optionName(u8 option);

  u16 port() const { return port_; }
  void setPort(u16 port) { port_ = port; }
  zuEvent* stopEvent() const { return stopEvent_; }
  u32 negotiationState() const { return negotiationState_; }
  const std::vector<Option>& options() const { return options_; }

 protected:
  // The endpoint the client owns from now on (null to drop it).
  void adoptEndpoint(std::unique_ptr<zuNetEndpoint> endpoint);
  void setConnected(bool connected) { connected_ = connected; }
  void setNegotiationState(u32 state) { negotiationState_ = state; }
  // Answers the server's command on an option; raises endpoint failures and
  // 516 for a command that does not fit the option's state.
  void handleCommand(u8 option, u8 command);
  // IAC, reply, option, written and flushed at once; failures raised.
  void sendOptionReply(u8 reply, u8 option);

 private:
  // One received byte through the state machine; true when it ends receive.
  bool feed(u8 byte, std::ostream* out, u32 stopByte);

  zuEvent* stopEvent_;
  bool connected_ = false;
  u32 negotiationState_ = kStateIdle;
  std::vector<Option> options_;
  u16 port_ = kDefaultPort;
  u8 command_ = 0;
  // The last data byte was a CR, so a NUL right after it is dropped.
  bool afterCR_ = false;
  std::unique_ptr<zuNetEndpoint> endpoint_;
};
