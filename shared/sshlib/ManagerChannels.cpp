// The connection-layer half of the Manager: the channel table, the peer's
// channel messages, channel output and the channel pump.
#include <algorithm>
#include <limits>

#include "sshlib/Encoding.h"
#include "sshlib/Manager.h"
#include "sshlib/Names.h"
#include "sshlib/TransportState.h"

namespace SSH {

namespace {

// Data packets stay well inside one binary packet even when compression
// grows incompressible data a little.
constexpr word32 kMaxDataPerPacket = 0x10000;

[[noreturn]] void unexpectedChannelMessage() { throwProtocolError("unexpected channel message"); }

}  // namespace

Channel* Manager::addChannel(std::unique_ptr<Channel> channel) {
  auto free = std::find(channels_.begin(), channels_.end(), nullptr);
  if (free == channels_.end()) free = channels_.insert(channels_.end(), nullptr);
  channel->localNumber_ = static_cast<word32>(free - channels_.begin());
  *free = std::move(channel);
  return free->get();
}

Channel* Manager::getChannel(word32 number) const {
  return number < channels_.size() ? channels_[number].get() : nullptr;
}

void Manager::removeChannel(word32 number) {
  Channel* channel = getChannel(number);
  if (!channel) return;
  if (channel->state_ == Channel::kOpenSent) {
    // The peer will answer the open: the number must stay ours until then,
    // and a confirmed channel is closed at once.
    channel->closeRequested_ = channel->eofRequested_ = true;
    return;
  }
  channels_[number].reset();
}

void Manager::clearChannels() { channels_.clear(); }

bool Manager::hasChannels() const {
  return std::any_of(channels_.begin(), channels_.end(),
                     [](const auto& c) { return c != nullptr; });
}

size_t Manager::peerChannelCount() const {
  return static_cast<size_t>(std::count_if(channels_.begin(), channels_.end(),
                                           [](const auto& c) { return c != nullptr; }));
}

word32 Manager::getWaitObjectCount() {
  word32 count = GetOwnWaitObjectCount();
  for (const auto& channel : channels_) {
    if (channel) count += channel->GetWaitObjectCount();
  }
  return count;
}

Channel* Manager::openChannel(const std::string& type, const std::string& argument) {
  std::unique_ptr<Channel> channel = CreateChannel(type, argument);
  if (!channel) throw UnknownChannelType();
  if (static_cast<CryptoPP::lword>(channel->GetWaitObjectCount()) + getWaitObjectCount() >
      GetWaitObjectLimit()) {
    throw TooManyWaitObjects();
  }
  if (channel->type_.empty()) channel->type_ = type;
  return addChannel(std::move(channel));
}

void Manager::sendChannelOpen(Channel& channel) { channel.SendOpen(*this, output()); }

size_t Manager::ChannelPut2(const std::string& channel, const byte* inString, size_t length,
                            int messageEnd, bool blocking) {
  if (channel.empty()) return Put2(inString, length, messageEnd, blocking);
  if (channel.size() != 4 && channel.size() != 8) return 0;
  const word32 number = stringToUInt32(channel);
  if (channel.size() == 8) {
    sendChannelData(number, inString, length, true, stringToUInt32(channel.substr(4)));
  } else {
    sendChannelData(number, inString, length);
  }
  if (messageEnd) sendChannelEof(number);
  return 0;
}

bool Manager::ChannelFlush(const std::string& channel, bool hardFlush, int propagation,
                           bool blocking) {
  if (channel.empty()) return Filter::Flush(hardFlush, propagation, blocking);
  if (channel.size() == 4 || channel.size() == 8) flushChannel(stringToUInt32(channel), true);
  return false;
}

bool Manager::ChannelMessageSeriesEnd(const std::string& channel, int propagation, bool blocking) {
  if (channel.empty()) return Filter::MessageSeriesEnd(propagation, blocking);
  if (channel.size() == 4 || channel.size() == 8) closeChannel(stringToUInt32(channel));
  return false;
}

void Manager::sendChannelData(word32 number, const byte* bytes, size_t length, bool extended,
                              word32 typeCode) {
  Channel* channel = getChannel(number);
  // Once EOF or CLOSE is out, or the peer closed, nothing more may be sent.
  if (!channel || channel->eofSent_ || channel->closeSent_ || channel->closeReceived_) return;
  if (length == 0) return;
  Channel& c = *channel;
  const auto sameKind = [&](bool e, word32 code) {
    return e == extended && (!e || code == typeCode);
  };
  if (!c.laterData_.empty()) {
    if (sameKind(c.laterData_.back().extended, c.laterData_.back().typeCode)) {
      c.laterData_.back().bytes.append(reinterpret_cast<const char*>(bytes), length);
    } else {
      c.laterData_.push_back(
          {extended, typeCode, std::string(reinterpret_cast<const char*>(bytes), length)});
    }
    return;
  }
  if (!c.sendQueue_.IsEmpty() && !sameKind(c.queuedExtended_, c.queuedTypeCode_) &&
      !flushQueue(c, true)) {
    // The window holds the other kind back: these bytes wait behind it.
    c.laterData_.push_back(
        {extended, typeCode, std::string(reinterpret_cast<const char*>(bytes), length)});
    return;
  }
  c.queuedExtended_ = extended;
  c.queuedTypeCode_ = typeCode;
  c.sendQueue_.Put(bytes, length);
  const word32 packet = std::min(c.remoteMaxPacket_, kMaxDataPerPacket);
  if (c.state_ == Channel::kOpen && c.sendQueue_.CurrentSize() >= packet) flushQueue(c, false);
}

void Manager::flushChannel(word32 number, bool all) {
  if (Channel* channel = getChannel(number)) flushQueue(*channel, all);
}

bool Manager::flushQueue(Channel& channel, bool all) {
  if (channel.eofSent_ || channel.closeSent_ || channel.closeReceived_) return false;
  if (channel.state_ != Channel::kOpen || broken_ || isHoldingOutput()) {
    return !channel.hasQueuedData();
  }
  const word32 maxPacket = std::min(channel.remoteMaxPacket_, kMaxDataPerPacket);
  for (;;) {
    while (!channel.sendQueue_.IsEmpty()) {
      const CryptoPP::lword queued = channel.sendQueue_.CurrentSize();
      if (!all && queued < maxPacket) return false;
      const size_t size = static_cast<size_t>(
          std::min<CryptoPP::lword>({queued, maxPacket, channel.remoteWindow_}));
      // A closed window (OpenSSH opens session channels with 0) or a peer
      // maximum of 0: wait for WINDOW_ADJUST rather than send empty packets.
      if (size == 0) return false;
      if (channel.queuedExtended_) {
        putByte(output(), kMsgChannelExtendedData);
        putUInt32(output(), channel.remoteNumber_);
        putUInt32(output(), channel.queuedTypeCode_);
      } else {
        putByte(output(), kMsgChannelData);
        putUInt32(output(), channel.remoteNumber_);
      }
      putQueueString(output(), channel.sendQueue_, size);
      output().MessageEnd();
      channel.sendQueue_.Skip(size);
      channel.remoteWindow_ -= static_cast<word32>(size);
    }
    if (channel.laterData_.empty()) return true;
    Channel::LaterData next = std::move(channel.laterData_.front());
    channel.laterData_.pop_front();
    channel.queuedExtended_ = next.extended;
    channel.queuedTypeCode_ = next.typeCode;
    channel.sendQueue_.Put(reinterpret_cast<const byte*>(next.bytes.data()), next.bytes.size());
  }
}

void Manager::writeEof(Channel& channel) {
  putByte(output(), kMsgChannelEof);
  putUInt32(output(), channel.remoteNumber_);
  output().MessageEnd();
  channel.eofSent_ = true;
}

void Manager::writeClose(Channel& channel) {
  putByte(output(), kMsgChannelClose);
  putUInt32(output(), channel.remoteNumber_);
  output().MessageEnd();
  channel.closeSent_ = true;
  channel.sendQueue_.Clear();
  channel.laterData_.clear();
}

void Manager::sendChannelEof(word32 number) {
  Channel* channel = getChannel(number);
  if (!channel || channel->eofSent_ || channel->closeSent_) return;
  if (channel->state_ == Channel::kOpen && !channel->closeReceived_ && !isHoldingOutput() &&
      flushQueue(*channel, true)) {
    writeEof(*channel);
  } else {
    channel->eofRequested_ = true;
  }
}

void Manager::closeChannel(word32 number) {
  Channel* channel = getChannel(number);
  if (!channel || channel->closeSent_) return;
  if (channel->state_ == Channel::kOpen && !isHoldingOutput() &&
      (channel->closeReceived_ || flushQueue(*channel, true))) {
    writeClose(*channel);
  } else {
    // Data still wait for the window: EOF follows them, then CLOSE.
    channel->closeRequested_ = channel->eofRequested_ = true;
  }
}

void Manager::sendWindowAdjust(word32 number, word32 bytes) {
  Channel* channel = getChannel(number);
  if (!channel || bytes == 0) return;
  putByte(output(), kMsgChannelWindowAdjust);
  putUInt32(output(), channel->remoteNumber_);
  putUInt32(output(), bytes);
  output().MessageEnd();
  const CryptoPP::lword raised = static_cast<CryptoPP::lword>(channel->localWindow_) + bytes;
  channel->localWindow_ =
      static_cast<word32>(std::min<CryptoPP::lword>(raised, std::numeric_limits<word32>::max()));
}

void Manager::writeOpenConfirmation(Channel& channel, CryptoPP::BufferedTransformation& data) {
  channel.state_ = Channel::kOpen;
  putByte(output(), kMsgChannelOpenConfirmation);
  putUInt32(output(), channel.remoteNumber_);
  putUInt32(output(), channel.localNumber_);
  putUInt32(output(), channel.localWindow_);
  putUInt32(output(), channel.localMaxPacket_);
  data.TransferTo(output());
  output().MessageEnd();
}

void Manager::writeOpenFailure(word32 remoteNumber, const ChannelOpenFailure& failure) {
  putByte(output(), kMsgChannelOpenFailure);
  putUInt32(output(), remoteNumber);
  putUInt32(output(), failure.reason());
  putStdString(output(), failure.description());
  putStdString(output(), failure.language());
  output().MessageEnd();
}

void Manager::handleChannelOpen(CryptoPP::BufferedTransformation& message) {
  expectMessage(message, kMsgChannelOpen);
  std::string type;
  getStdString(message, type);
  const word32 sender = getUInt32(message);
  Channel* channel = nullptr;
  try {
    std::unique_ptr<Channel> created = CreatePeerChannel(type);
    if (!created)
      throw ChannelOpenFailure(kOpenUnknownChannelType, "channel type not supported", kLanguage);
    if (static_cast<CryptoPP::lword>(created->GetWaitObjectCount()) + getWaitObjectCount() >
        GetWaitObjectLimit()) {
      throw ChannelOpenFailure(kOpenResourceShortage,
                               "number of synchronization objects exceeds system limit", kLanguage);
    }
    if (peerChannelCount() >= kMaxPeerChannels) {
      throw ChannelOpenFailure(kOpenResourceShortage, "too many channels", kLanguage);
    }
    channel = addChannel(std::move(created));
    channel->type_ = type;
    channel->remoteNumber_ = sender;
    channel->remoteWindow_ = getUInt32(message);
    channel->remoteMaxPacket_ = getUInt32(message);
    channel->state_ = Channel::kOpenedByPeer;
    if (!channel->AcceptMaxPacketSize(channel->remoteMaxPacket_)) {
      throw ChannelOpenFailure(kOpenAdministrativelyProhibited, "invalid max packet size",
                               kLanguage);
    }
    CryptoPP::ByteQueue confirmation(256);
    if (channel->HandleOpenRequest(*this, message, confirmation)) {
      writeOpenConfirmation(*channel, confirmation);
    }
  } catch (const ChannelOpenFailure& failure) {
    if (channel) channels_[channel->localNumber_].reset();
    message.Skip();
    writeOpenFailure(sender, failure);
  }
}

void Manager::handleChannelMessage(byte number, CryptoPP::BufferedTransformation& message) {
  expectMessage(message, number);
  Channel* channel = getChannel(getUInt32(message));
  if (!channel) throwProtocolError("no such channel number");
  Channel& c = *channel;
  const bool open = c.state_ == Channel::kOpen;
  switch (number) {
    case kMsgChannelOpenConfirmation: {
      if (c.state_ != Channel::kOpenSent) unexpectedChannelMessage();
      c.state_ = Channel::kOpen;
      c.remoteNumber_ = getUInt32(message);
      c.remoteWindow_ = getUInt32(message);
      c.remoteMaxPacket_ = getUInt32(message);
      if (!c.AcceptMaxPacketSize(c.remoteMaxPacket_)) {
        throwProtocolError("open channel confirmation: invalid max packet size");
      }
      if (c.closeRequested_) {
        // Given up while the open was on its way: close it at once.
        writeClose(c);
        return;
      }
      c.OnOpenConfirmation(*this, message, output());
      flushQueue(c, false);
      return;
    }
    case kMsgChannelOpenFailure: {
      if (c.state_ != Channel::kOpenSent) unexpectedChannelMessage();
      const word32 reason = getUInt32(message);
      std::string description, language;
      getStdString(message, description);
      getStdString(message, language);
      c.state_ = Channel::kRefused;
      c.OnOpenFailure(*this, reason, description, language);
      channels_[c.localNumber_].reset();
      return;
    }
    case kMsgChannelWindowAdjust: {
      if (!open) unexpectedChannelMessage();
      // The window never exceeds 2^32 - 1 (RFC 4254 section 5.2).
      const CryptoPP::lword raised =
          static_cast<CryptoPP::lword>(c.remoteWindow_) + getUInt32(message);
      c.remoteWindow_ = static_cast<word32>(
          std::min<CryptoPP::lword>(raised, std::numeric_limits<word32>::max()));
      return;
    }
    case kMsgChannelData:
      if (!open || c.eofReceived_ || c.closeReceived_) unexpectedChannelMessage();
      c.HandleData(*this, message, output());
      return;
    case kMsgChannelExtendedData: {
      if (!open || c.eofReceived_ || c.closeReceived_) unexpectedChannelMessage();
      const word32 typeCode = getUInt32(message);
      c.HandleExtendedData(*this, typeCode, message, output());
      return;
    }
    case kMsgChannelEof:
      if (c.eofReceived_ || c.closeReceived_) unexpectedChannelMessage();
      c.eofReceived_ = true;
      c.OnEof();
      return;
    case kMsgChannelClose:
      if (c.closeReceived_) unexpectedChannelMessage();
      c.closeReceived_ = true;
      c.OnClose();
      return;
    case kMsgChannelRequest: {
      if (!open || c.closeReceived_) unexpectedChannelMessage();
      std::string requestType;
      getStdString(message, requestType);
      const bool wantReply = getBoolean(message);
      if (!c.HandleRequest(*this, requestType, wantReply, message, output()) && wantReply &&
          !c.closeSent_) {
        putByte(output(), kMsgChannelFailure);
        putUInt32(output(), c.remoteNumber_);
        output().MessageEnd();
      }
      return;
    }
    default:  // 99, 100
      if (!open || c.closeReceived_) unexpectedChannelMessage();
      c.HandleRequestResult(*this, number == kMsgChannelSuccess, message);
      return;
  }
}

void Manager::pumpChannels() {
  if (broken_ || state_.outputState() != TransportState::kOutServiceRunning) return;
  OnPumpChannels();
  for (word32 number = 0; number < channels_.size(); ++number) pumpChannel(number);
}

void Manager::pumpChannel(word32 number) {
  Channel* channel = getChannel(number);
  if (!channel) return;
  Channel& c = *channel;
  if (c.state_ == Channel::kOpenedByPeer) {
    CryptoPP::ByteQueue confirmation(256);
    try {
      if (c.ConfirmOpen(*this, confirmation)) writeOpenConfirmation(c, confirmation);
    } catch (const ChannelOpenFailure& failure) {
      const word32 remote = c.remoteNumber_;
      channels_[number].reset();
      writeOpenFailure(remote, failure);
    }
    return;
  }
  if (c.state_ != Channel::kOpen) return;

  // Data held back by the window go first.
  flushQueue(c, true);
  const auto sendEofIfDue = [&] {
    if (c.eofRequested_ && !c.eofSent_ && !c.closeSent_ && !c.hasQueuedData()) writeEof(c);
  };
  const auto sendCloseIfDue = [&] {
    if (c.eofSent_ && !c.closeSent_ && (c.eofReceived_ || c.closeRequested_)) writeClose(c);
  };
  if (c.closeReceived_ && !c.closeSent_) writeClose(c);
  sendEofIfDue();
  sendCloseIfDue();
  if (!c.eofReceived_ && !c.closeReceived_ && !c.closeRequested_) {
    c.OnPumpOpen();
    if (!c.closeSent_) {
      const long long max = c.GetMaxWindowSize();
      const long long grant = max - c.localWindow_ - static_cast<long long>(c.GetBufferedSize());
      if (2 * grant > max) sendWindowAdjust(number, static_cast<word32>(grant));
    }
  }
  if (!c.closeSent_ && !c.eofSent_) c.OnPumpBeforeEof();
  sendEofIfDue();
  sendCloseIfDue();
  if ((c.eofReceived_ || c.closeReceived_) && c.GetBufferedSize() != 0 && !c.closeRequested_) {
    c.OnPendingAfterEnd();
  }
  if (c.closeSent_ && c.closeReceived_ && (c.GetBufferedSize() == 0 || c.closeRequested_)) {
    channels_[number].reset();
  }
}

}  // namespace SSH
