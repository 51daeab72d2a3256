#include "sshlib/Manager.h"

#include "sshlib/Authenticator.h"
#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Encoding.h"
#include "sshlib/KEX_DH.h"
#include "sshlib/KexInit.h"
#include "sshlib/Mac.h"
#include "sshlib/Names.h"
#include "sshlib/TransportState.h"
#include "sshlib/VersionInfo.h"

namespace SSH {

namespace {

constexpr const char* kInappropriate = "received packet inappropriate for current transport state";

// Messages that must wait while our key exchange runs (RFC 4253 section
// 7.1): the service messages and everything above the transport layer.
bool heldDuringKex(byte number) {
  return number == kMsgServiceRequest || number == kMsgServiceAccept || number >= 50;
}

}  // namespace

// Passes each message on to the manager's attachment, or keeps it whole
// while the manager holds output, and hands the kept ones on in order when
// the hold ends.
class Manager::OutputGate : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  explicit OutputGate(Manager& owner) : owner_(owner) {}

  size_t Put2(const byte* inString, size_t length, int messageEnd, bool blocking) override {
    if (!inMessage_ && length > 0) {
      inMessage_ = true;
      holding_ = owner_.isHoldingOutput() && heldDuringKex(inString[0]);
    }
    if (holding_) {
      // Answers to a peer that keeps asking while it stalls the exchange.
      heldBytes_ += length;
      if (heldBytes_ > kMaxHeldOutput)
        throwProtocolError("too much output held during key exchange");
      current_.append(reinterpret_cast<const char*>(inString), length);
      if (messageEnd) {
        held_.push_back(std::move(current_));
        current_.clear();
      }
    } else if (CryptoPP::BufferedTransformation* out = owner_.AttachedTransformation()) {
      out->Put2(inString, length, messageEnd, blocking);
    }
    if (messageEnd) inMessage_ = holding_ = false;
    return 0;
  }

  // A held message that was never finished (its writer threw) is dropped,
  // so the next message starts on its own. False while a message that is
  // not held is unfinished: the encoder holds part of it, and anything
  // written now would join it.
  bool startFresh() {
    if (!inMessage_) return true;
    if (!holding_) return false;
    current_.clear();
    inMessage_ = holding_ = false;
    return true;
  }

  void release() {
    CryptoPP::BufferedTransformation* out = owner_.AttachedTransformation();
    while (!held_.empty()) {
      const std::string message = std::move(held_.front());
      held_.pop_front();
      if (out) out->PutMessageEnd(reinterpret_cast<const byte*>(message.data()), message.size());
    }
    heldBytes_ = 0;
  }

 private:
  Manager& owner_;
  bool inMessage_ = false;
  bool holding_ = false;
  std::string current_;
  std::deque<std::string> held_;
  size_t heldBytes_ = 0;
};

Manager::Manager(TransportState& state, Authenticator& authenticator,
                 CryptoPP::BufferedTransformation* attachment)
    : state_(state), authenticator_(authenticator), gate_(std::make_unique<OutputGate>(*this)) {
  Detach(attachment);
}

Manager::~Manager() {
  kex_.reset();
  clearChannels();
}

CryptoPP::BufferedTransformation& Manager::output() { return *gate_; }

void Manager::setInputState(word32 value) {
  const word32 old = state_.inputState();
  state_.setInputState(value);
  if (old != value) OnInputStateChange(value, state_);
}

void Manager::setOutputState(word32 value) {
  const word32 old = state_.outputState();
  state_.setOutputState(value);
  if (old != value) OnOutputStateChange(value, state_);
}

bool Manager::isHoldingOutput() const {
  const word32 out = state_.outputState();
  return out == TransportState::kOutKexInitSent || out == TransportState::kOutKexDone;
}

void Manager::sendVersion(const VersionInfo& versionInfo) {
  state_.checkOutputState(TransportState::kOutNothingSent);
  putText(output(), versionInfo.line.c_str());
  putText(output(), "\r\n");
  output().MessageEnd();
  state_.setOwnVersion(versionInfo);
  setOutputState(TransportState::kOutVersionSent);
}

void Manager::sendKexInit(const KexInit& kexInit) {
  KexInit own = kexInit;
  own.receivedPayload.clear();
  state_.rng().GenerateBlock(own.cookie.data(), own.cookie.size());
  own.encode(output());
  output().MessageEnd();
  state_.setOwnKexInit(own);
  setOutputState(TransportState::kOutKexInitSent);
  // Negotiate only against a KEXINIT of this exchange, and only once: the
  // peer's record of an earlier exchange stays stored.
  if (state_.peerKexInitReceived() && state_.inputState() == TransportState::kInKexInitReceived &&
      !kex_) {
    negotiateAlgorithms();
  }
}

void Manager::negotiateAlgorithms() {
  KEX_DH::checkNegotiatedAlgorithms(state_);
  kex_ = std::make_unique<KEX_DH>(state_, new CryptoPP::Redirector(output()));
  if (state_.isClient()) kex_->sendKexDhInit();
}

void Manager::sendDisconnect(const CauseToDisconnect& cause) {
  if (state_.inputState() == TransportState::kInDisconnected) return;
  if (gate_->startFresh()) {
    putByte(output(), kMsgDisconnect);
    putUInt32(output(), cause.reason());
    putStdString(output(), cause.description());
    putStdString(output(), cause.language());
    output().MessageEnd();
  }
  setInputState(TransportState::kInDisconnected);
  setOutputState(TransportState::kOutDisconnected);
  disconnectStatus_ = kDisconnectSent;
  disconnectReason_ = cause.reason();
  disconnectDescription_ = cause.description();
  disconnectLanguage_ = cause.language();
}

void Manager::markServiceStarted() {
  state_.setServiceStarted();
  setInputState(TransportState::kInServiceRunning);
  setOutputState(TransportState::kOutServiceRunning);
}

size_t Manager::Put2(const byte* inString, size_t length, int messageEnd, bool blocking) {
  if (!blocking) throw BlockingInputOnly("SSH::Manager");
  if (broken_) throwProtocolError("connection unusable after an earlier error");
  try {
    if (length > 0) receive(inString, length);
    if (messageEnd) dispatch();
  } catch (...) {
    broken_ = true;
    throw;
  }
  return 0;
}

void Manager::receive(const byte* bytes, size_t length) {
  if (!messageStarted_) {
    messageStarted_ = true;
    messageNumber_ = bytes[0];
  }
  if (length > kMaxMessageLength - messageLength_) {
    throwProtocolError("decompressed packet length too large");
  }
  if (messageNumber_ == kMsgKexDHInit || messageNumber_ == kMsgKexDHReply) {
    state_.checkTransportState(TransportState::kInKexInitReceived);
    const bool dropped = messageNumber_ == kMsgKexDHInit && ignoreGuessedKexPacket_;
    if (!dropped) {
      // Without a negotiated exchange there is nowhere for it to go.
      if (!kex_) throwProtocolError(kInappropriate);
      kex_->Put(bytes, length);
    }
  } else {
    messageQueue_.Put(bytes, length);
  }
  messageLength_ += static_cast<word32>(length);
}

void Manager::dispatch() {
  if (!messageStarted_) throwProtocolError("empty packet");
  handleMessage(messageNumber_, messageQueue_);
  messageStarted_ = false;
  messageLength_ = 0;
  if (!messageQueue_.IsEmpty()) OnUnreadPayload(messageQueue_);
  messageQueue_.Clear();
}

void Manager::requireAuthenticated() const {
  if (authenticator_.state != Authenticator::kSuccess) {
    throwProtocolError("received packet inappropriate for current authentication state");
  }
}

void Manager::handleMessage(byte number, CryptoPP::BufferedTransformation& message) {
  switch (number) {
    case kMsgDisconnect: {
      expectMessage(message, number);
      setInputState(TransportState::kInDisconnected);
      setOutputState(TransportState::kOutDisconnected);
      disconnectStatus_ = kDisconnectReceived;
      disconnectReason_ = getUInt32(message);
      getStdString(message, disconnectDescription_);
      getStdString(message, disconnectLanguage_);
      return;
    }
    case kMsgIgnore:
      OnIgnore(message.MaxRetrievable());
      message.Skip();
      return;
    case kMsgUnimplemented: {
      expectMessage(message, number);
      OnUnimplemented(getUInt32(message));
      return;
    }
    case kMsgDebug: {
      expectMessage(message, number);
      const bool always = getBoolean(message);
      std::string text, language;
      getStdString(message, text);
      getStdString(message, language);
      OnDebug(always, text, language);
      return;
    }
    case kMsgServiceRequest: {
      state_.throwPacketMeantForServer();
      state_.checkTransportState(TransportState::kInNewKeysAtServer);
      expectMessage(message, number);
      std::string service;
      getStdString(message, service);
      if (service != "ssh-userauth")
        throw CauseToDisconnect(kDisconnectServiceNotAvailable, "", kLanguage);
      putByte(output(), kMsgServiceAccept);
      putStdString(output(), service);
      output().MessageEnd();
      markServiceStarted();
      return;
    }
    case kMsgServiceAccept:
      state_.throwPacketMeantForClient();
      state_.checkTransportState(TransportState::kInNewKeysAtClient);
      message.Skip();
      markServiceStarted();
      return;
    case kMsgKexInit:
      handleKexInit(message);
      return;
    case kMsgNewKeys:
      state_.checkTransportState(TransportState::kInKexDone);
      expectMessage(message, number);
      handleNewKeys();
      return;
    case kMsgKexDHInit:
    case kMsgKexDHReply:
      state_.checkTransportState(TransportState::kInKexInitReceived);
      if (number == kMsgKexDHInit && ignoreGuessedKexPacket_) {
        ignoreGuessedKexPacket_ = false;
        return;
      }
      handleKexDh();
      return;
    case kMsgUserAuthRequest:
      state_.throwPacketMeantForServer();
      state_.checkTransportState(TransportState::kInServiceRunning);
      handleUserAuthRequest(message);
      return;
    case kMsgUserAuthFailure: {
      state_.throwPacketMeantForClient();
      state_.checkTransportState(TransportState::kInServiceRunning);
      expectMessage(message, number);
      getStdString(message, authenticator_.methodsCanContinue);
      const bool partial = getBoolean(message);
      authenticator_.state = partial ? Authenticator::kPartialSuccess : Authenticator::kFailure;
      authenticator_.OnAuthResult(*this);
      return;
    }
    case kMsgUserAuthSuccess:
      state_.throwPacketMeantForClient();
      state_.checkTransportState(TransportState::kInServiceRunning);
      message.Skip();
      authenticator_.state = Authenticator::kSuccess;
      authenticator_.OnAuthResult(*this);
      return;
    case kMsgUserAuthBanner: {
      state_.throwPacketMeantForClient();
      if (authenticator_.state == Authenticator::kSuccess) {
        message.Skip();
        return;
      }
      expectMessage(message, number);
      std::string text, language;
      getStdString(message, text);
      getStdString(message, language);
      OnBanner(text, language);
      return;
    }
    case kMsgUserAuthMethodSpecific1:
      state_.throwPacketMeantForClient();
      state_.checkTransportState(TransportState::kInServiceRunning);
      handleAuthMethodSpecific(message);
      return;
    case kMsgGlobalRequest: {
      state_.checkTransportState(TransportState::kInServiceRunning);
      requireAuthenticated();
      expectMessage(message, number);
      std::string name;
      getStdString(message, name);
      const bool wantReply = getBoolean(message);
      if (!OnGlobalRequest(name, wantReply, message) && wantReply) {
        putByte(output(), kMsgRequestFailure);
        output().MessageEnd();
      }
      return;
    }
    case kMsgRequestSuccess:
    case kMsgRequestFailure:
      state_.checkTransportState(TransportState::kInServiceRunning);
      requireAuthenticated();
      expectMessage(message, number);
      OnGlobalRequestResult(number == kMsgRequestSuccess, message);
      return;
    case kMsgChannelOpen:
      state_.checkTransportState(TransportState::kInServiceRunning);
      requireAuthenticated();
      handleChannelOpen(message);
      return;
    default:
      if (number > kMsgChannelOpen && number <= kMsgChannelFailure) {
        state_.checkTransportState(TransportState::kInServiceRunning);
        requireAuthenticated();
        handleChannelMessage(number, message);
        return;
      }
      message.Skip();
      sendUnimplemented();
  }
}

void Manager::sendUnimplemented() {
  // The decoder counts a packet before it delivers the payload, so the
  // packet in hand is the one before the next expected number.
  putByte(output(), kMsgUnimplemented);
  putUInt32(output(), state_.inSequence() - 1);
  output().MessageEnd();
}

void Manager::handleKexInit(CryptoPP::BufferedTransformation& message) {
  // A second KEXINIT inside one exchange would change what the exchange
  // hash covers half way through.
  const word32 in = state_.inputState();
  if (in == TransportState::kInKexInitReceived || in == TransportState::kInKexDone) {
    throwProtocolError(kInappropriate);
  }
  setInputState(TransportState::kInKexInitReceived);
  KexInit peer;
  peer.decode(message);
  state_.setPeerKexInit(peer);
  if (state_.outputState() > TransportState::kOutKexInitSent &&
      state_.outputState() != TransportState::kOutDisconnected) {
    // The peer starts a new exchange: answer with our list, which
    // negotiates at once (the peer's KEXINIT is here).
    sendKexInit(state_.ownKexInit());
  }
  if (peer.firstKexPacketFollows && state_.ownKexInitSent() && KEX_DH::peerGuessWasWrong(state_)) {
    ignoreGuessedKexPacket_ = true;
  }
  if (state_.ownKexInitSent() && state_.outputState() == TransportState::kOutKexInitSent && !kex_) {
    negotiateAlgorithms();
  }
}

void Manager::handleNewKeys() {
  const bool client = state_.isClient();
  const unsigned direction = client ? 1 : 0;
  state_.inCipher().create(state_.negotiatedEncryptionAlgorithm(direction), state_.sharedSecret(),
                           state_.exchangeHash(), state_.sessionId(), direction, true);
  state_.inMac().create(state_.negotiatedMacAlgorithm(direction), state_.sharedSecret(),
                        state_.exchangeHash(), state_.sessionId(), direction, false,
                        state_.peerVersion());
  state_.inCompressor().create(state_.negotiatedCompressionAlgorithm(direction), false);
  if (!state_.serviceStarted()) {
    setInputState(client ? TransportState::kInNewKeysAtClient : TransportState::kInNewKeysAtServer);
  } else {
    setInputState(TransportState::kInServiceRunning);
  }
}

void Manager::handleKexDh() {
  kex_->MessageEnd();
  if (state_.outputState() != TransportState::kOutKexDone) return;
  kex_.reset();
  putByte(output(), kMsgNewKeys);
  output().MessageEnd();
  const unsigned direction = state_.isClient() ? 0 : 1;
  const std::string cipher = state_.negotiatedEncryptionAlgorithm(direction);
  const std::string mac = state_.negotiatedMacAlgorithm(direction);
  state_.outCipher().create(cipher, state_.sharedSecret(), state_.exchangeHash(),
                            state_.sessionId(), direction, false);
  state_.outMac().create(mac, state_.sharedSecret(), state_.exchangeHash(), state_.sessionId(),
                         direction, true, state_.peerVersion());
  state_.outCompressor().create(state_.negotiatedCompressionAlgorithm(direction), true);
  outCipherName_ = cipher;
  outMacName_ = mac;
  setOutputState(state_.serviceStarted() ? TransportState::kOutServiceRunning
                                         : TransportState::kOutNewKeysBeforeService);
  gate_->release();
}

}  // namespace SSH
