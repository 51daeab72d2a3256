#include "loam/terminal/zuTelnet.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <streambuf>

#include "loam/base/zuException.h"
#include "loam/net/zuReadDeadline.h"
#include "loam/net/zuTCPEndpoint.h"

namespace {

constexpr u16 kUnexpected = zuErrNetwork;

}  // namespace

zuTelnet::zuTelnet(zuEvent* stopEvent) : stopEvent_(stopEvent) {}

zuTelnet::~zuTelnet() {
  // The virtual call would not reach a subclass here; its destructor has run.
  zuTelnet::disconnect();
}

void zuTelnet::adoptEndpoint(std::unique_ptr<zuNetEndpoint> endpoint) {
  endpoint_ = std::move(endpoint);
  setEndpoint(endpoint_.get());
}

bool zuTelnet::connect(const zuIPAddress& address, u32 timeout) {
  disconnect();
  setTimeout(timeout);
  // A new connection negotiates afresh: what the last server settled says
  // nothing about this one.
  options_.clear();
  auto tcp = std::make_unique<zuTCPEndpoint>(stopEvent_, timeout);
  zuTCPEndpoint* raw = tcp.get();
  adoptEndpoint(std::move(tcp));
  u16 status = raw->connect(address, port_);
  // Keystrokes and option replies are tiny writes that must not wait for Nagle.
  if (status == 0) status = raw->setNoDelay(true);
  setStatus(status);
  connected_ = status == 0;
  if (connected_) {
    negotiationState_ = kStateData;
    afterCR_ = false;
  }
  return connected_;
}

bool zuTelnet::isConnected() const { return connected_ && zuNetParser::isConnected(); }

bool zuTelnet::disconnect() {
  const bool closed = zuNetParser::close();
  adoptEndpoint(nullptr);
  connected_ = false;
  negotiationState_ = kStateIdle;
  return closed;
}

u16 zuTelnet::send(const char* text) {
  zuNetEndpoint* ep = endpoint();
  if (ep == nullptr) {
    setStatus(zuErrFailed);
    return zuErrFailed;
  }
  u16 status = 0;
  const char* from = text == nullptr ? "" : text;
  // Runs up to each byte 255 go out as they are; the 255 goes out twice.
  for (;;) {
    const char* iac = std::strchr(from, static_cast<char>(kIAC));
    const std::size_t run =
        iac == nullptr ? std::strlen(from) : static_cast<std::size_t>(iac - from);
    status = ep->write(from, static_cast<u32>(run));
    if (status != 0 || iac == nullptr) break;
    const u8 doubled[2] = {kIAC, kIAC};
    status = ep->write(doubled, 2);
    if (status != 0) break;
    from = iac + 1;
  }
  if (status == 0) status = ep->write("\r\n", 2);
  if (status == 0) status = ep->flush();
  setStatus(status);
  return status;
}

bool zuTelnet::feed(u8 byte, std::ostream* out, u32 stopByte) {
  switch (negotiationState_) {
    case kStateData:
      if (byte == kIAC) {
        afterCR_ = false;
        negotiationState_ = kStateAfterIAC;
        return false;
      }
      if (afterCR_ && byte == 0) {
        afterCR_ = false;
        return false;
      }
      afterCR_ = byte == '\r';
      if (out != nullptr) out->put(static_cast<char>(byte));
      return stopByte <= 0xFF && byte == stopByte;
    case kStateAfterIAC:
      negotiationState_ = kStateData;
      if (byte == kIAC) {
        if (out != nullptr) out->put(static_cast<char>(kIAC));
        return stopByte == kIAC;
      }
      if (byte == kSB) {
        negotiationState_ = kStateSubnegotiation;
      } else if (byte == kGA) {
        return true;
      } else if (byte >= kWILL && byte <= kDONT) {
        command_ = byte;
        negotiationState_ = kStateOption;
      }
      return false;
    case kStateOption:
      negotiationState_ = kStateData;
      handleCommand(byte, command_);
      return false;
    case kStateSubnegotiation:
      if (byte == kIAC) negotiationState_ = kStateSubnegotiationIAC;
      return false;
    case kStateSubnegotiationIAC:
      negotiationState_ = byte == kSE ? kStateData : kStateSubnegotiation;
      return false;
    default:
      return false;  // idle: not connected
  }
}

u16 zuTelnet::receive(std::ostream* out, u32 stopByte, bool noWait) {
  zuNetEndpoint* ep = endpoint();
  if (ep == nullptr) {
    setStatus(zuErrFailed);
    return zuErrFailed;
  }
  ep->setTimeout(noWait ? 0 : timeout());
  // One deadline for the whole call, and every byte counted, negotiation
  // included: a subnegotiation that never ends, dribbled or flooded, must
  // end the call like data that never ends. Without waiting, each byte is a
  // poll of its own until one finds nothing; the count bounds a flood.
  zuReadDeadline deadline(timeout());
  std::size_t taken = 0;
  try {
    for (;;) {
      u8 byte = 0;
      const u16 status = noWait ? ep->read(&byte, 1) : ep->readByte(byte, deadline);
      if (status != 0) {
        setStatus(status);
        return noWait && status == zuErrTimeout ? 0 : status;
      }
      if (++taken > kMaxReceivedText) {
        setStatus(zuErrFailed);
        return zuErrFailed;
      }
      if (feed(byte, out, stopByte)) {
        setStatus(0);
        return 0;
      }
      // An output that takes no more (full, or failed) ends the receive.
      if (out != nullptr && !out->good()) {
        setStatus(zuErrFailed);
        return zuErrFailed;
      }
    }
  } catch (const zuException& e) {
    setStatus(e.code());
  } catch (const std::exception&) {
    setStatus(kUnexpected);
  }
  return status();
}

namespace {

// A text stream that refuses bytes past its limit.
class CappedTextBuffer : public std::streambuf {
 public:
  explicit CappedTextBuffer(std::size_t limit) : limit_(limit) {}
  const std::string& text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (text_.size() >= limit_) return traits_type::eof();
    text_.push_back(traits_type::to_char_type(c));
    return c;
  }

 private:
  std::size_t limit_;
  std::string text_;
};

}  // namespace

u16 zuTelnet::receiveString(std::string& out, u32 stopByte, bool noWait) {
  CappedTextBuffer buffer(kMaxReceivedText);
  std::ostream text(&buffer);
  const u16 status = receive(&text, stopByte, noWait);
  if (status == 0 || status == zuErrTimeout) out = buffer.text();
  return status;
}

void zuTelnet::sendOptionReply(u8 reply, u8 option) {
  zuNetEndpoint* ep = endpoint();
  if (ep == nullptr) throw zuException(zuErrFailed, "");
  const u8 bytes[3] = {kIAC, reply, option};
  u16 status = ep->write(bytes, sizeof bytes);
  if (status == 0) status = ep->flush();
  if (status != 0) throw zuException(status, "");
}

void zuTelnet::handleCommand(u8 option, u8 command) {
  auto known = std::find_if(options_.begin(), options_.end(),
                            [option](const Option& o) { return o.option == option; });
  if (known != options_.end()) {
    if (known->state == kOptionSettled) return;  // answered once per connection
    if (known->state == kOptionRequested) {
      if (command < kWILL || command > kDONT)
        throw zuException(kUnexpected, "Unexpected Telnet Command");
      known->state = kOptionSettled;
      return;
    }
    throw zuException(kUnexpected, "Unexpected Option Request");
  }
  u8 reply = 0;
  bool remember = true;
  switch (command) {
    case kWILL:
      reply = option == kOptionSuppressGoAhead ? kDO : kDONT;
      // Refused every time it is offered: never settled, never silent.
      remember = option != kOptionEncryption;
      break;
    case kWONT:
      reply = kDONT;
      break;
    case kDO:
      reply = option == kOptionSuppressGoAhead ? kWILL : kWONT;
      break;
    case kDONT:
      reply = kWONT;
      break;
    default:
      return;
  }
  sendOptionReply(reply, option);
  if (remember) options_.push_back({option, kOptionSettled});
}

const char* zuTelnet::commandName(u8 command) {
  switch (command) {
    case kWILL:
      return "WILL";
    case kWONT:
      return "WONT";
    case kDO:
      return "DO";
    case kDONT:
      return "DONT";
    default:
      return "<Unknown>";
  }
}

const char* zuTelnet::optionName(u8 option) {
  switch (option) {
    case 1:
      return "Echo";
    case 3:
      return "Suppress Go Ahead";
    case 5:
      return "Status";
    case 6:
      return "Timing Mark";
    case 10:
      return "Output Carriage-Return Disposition";
    case 11:
      return "Output Horizontal Tab Stops";
    case 12:
      return "Output Horizontal Tab Stop Disposition";
    case 13:
      return "Output Formfeed Disposition";
    case 14:
      return "Output Vertical Tabstops";
    case 15:
      return "Output Vertical Tab Disposition";
    case 16:
      return "Output Linefeed Disposition";
    case 17:
      return "Extended ASCII";
    case 24:
      return "Terminal Type";
    case 31:
      return "Window Size";
    case 32:
      return "Terminal Speed";
    case 33:
      return "Remote Flow Control";
    case 34:
      return "Linemode";
    case 35:
      return "X Display Location";
    case 36:
      return "Environment Variables";
    case 37:
      return "Authentication";
    case 38:
      return "Encryption Option";
    case 39:
      return "Telnet Environment Option";
    default:
      return "<Unknown>";
  }
}
