#pragma once
// The connection engine: a pipeline filter between the packet decoder and
// the packet encoder. Its input is one decoded payload at a time (bytes,
// then an end of message); everything it writes to its attachment is one
// message per packet. It runs the identification, key exchange and rekeying,
// the service request, user authentication (both sides) and the connection
// layer's channels. Hosts derive from it to supply channels and limits.
//
// No threads, no locks: only the thread that pumps the connection calls it.
#include <cryptopp/filters.h>
#include <cryptopp/queue.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sshlib/Channel.h"
#include "sshlib/Err.h"

namespace SSH {

class Authenticator;
class KEX_DH;
class TransportState;
struct KexInit;
struct VersionInfo;

// The algorithm lists a client offers by default. "none" is left out of the
// cipher and MAC lists: the library refuses to send credentials without them.
inline constexpr const char* defaultCiphers =
    "aes256-cbc,twofish-cbc,blowfish-cbc,3des-cbc,arcfour,cast128-cbc";
inline constexpr const char* defaultMacs = "hmac-sha1,hmac-sha1-96,hmac-md5,hmac-md5-96";
inline constexpr const char* defaultCompressions = "zlib,none";

class Manager : public CryptoPP::Filter {
 public:
  // Not SSH::Err: these report the host's own limits, not the peer's errors.
  class UnknownChannelType : public CryptoPP::Exception {
   public:
    UnknownChannelType() : CryptoPP::Exception(OTHER_ERROR, "unknown channel type") {}
    static constexpr unsigned kCategory = 5;
    unsigned category() const noexcept { return kCategory; }
  };

  class TooManyWaitObjects : public CryptoPP::Exception {
   public:
    TooManyWaitObjects() : CryptoPP::Exception(OTHER_ERROR, "too many wait objects") {}
    static constexpr unsigned kCategory = 5;
    unsigned category() const noexcept { return kCategory; }
  };

  enum DisconnectStatus : CryptoPP::word32 {
    kConnected = 0,
    kDisconnectSent = 1,
    kDisconnectReceived = 2
  };

  // The largest payload accepted for one message.
  static constexpr CryptoPP::word32 kMaxMessageLength = 0x40000;
  // Connection-layer output held during one key exchange.
  static constexpr size_t kMaxHeldOutput = 1u << 20;
  // Failed authentication requests a server answers before it gives up on
  // the peer (reason 14, "too many authentication failures").
  static constexpr unsigned kMaxAuthFailures = 20;
  // The most channels a peer may hold open at once.
  static constexpr size_t kMaxPeerChannels = 64;

  Manager(TransportState& state, Authenticator& authenticator,
          CryptoPP::BufferedTransformation* attachment = nullptr);
  ~Manager() override;
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

  // --- Overridable operations ---------------------------------------------
  virtual CryptoPP::word32 GetWaitObjectLimit() = 0;
  virtual CryptoPP::word32 GetOwnWaitObjectCount() { return 0; }
  // Our own channels (openChannel); null for a type the host does not make.
  virtual std::unique_ptr<Channel> CreateChannel(const std::string& /*type*/,
                                                 const std::string& /*argument*/) {
    return nullptr;
  }
  // Channels the peer opens; null refuses with reason 3.
  virtual std::unique_ptr<Channel> CreatePeerChannel(const std::string& /*type*/) {
    return nullptr;
  }
  virtual bool OnGlobalRequest(const std::string& /*name*/, bool /*wantReply*/,
                               CryptoPP::BufferedTransformation& /*message*/) {
    return false;
  }
  virtual void HandleGlobalRequestResult(bool /*success*/, CryptoPP::BufferedTransformation&) {}
  virtual void OnGlobalRequestResult(bool success, CryptoPP::BufferedTransformation& message) {
    HandleGlobalRequestResult(success, message);
  }
  virtual void OnInputStateChange(CryptoPP::word32 /*newState*/, TransportState&) {}
  virtual void OnOutputStateChange(CryptoPP::word32 /*newState*/, TransportState&) {}
  virtual void OnIgnore(CryptoPP::lword /*size*/) {}
  virtual void OnUnimplemented(CryptoPP::word32 /*sequenceNumber*/) {}
  virtual void OnDebug(bool /*alwaysDisplay*/, const std::string& /*message*/,
                       const std::string& /*language*/) {}
  // Bytes a handled message left unread; dropped by default.
  virtual void OnUnreadPayload(CryptoPP::BufferedTransformation& message) { message.Skip(); }
  virtual void OnBanner(const std::string& /*message*/, const std::string& /*language*/) {}
  // Runs at the start of each channel pump while the service runs.
  virtual void OnPumpChannels() {}

  // --- Pipeline -------------------------------------------------------------
  // Payload bytes in; an end of message dispatches the message. Anything
  // thrown leaves the manager broken: later input is refused.
  size_t Put2(const CryptoPP::byte* inString, size_t length, int messageEnd,
              bool blocking) override;
  bool IsolatedFlush(bool, bool) override { return false; }
  // Channel names: "" is the manager itself; 4 bytes a local channel number
  // (plain data); 8 bytes the number and an extended-data type code. Other
  // lengths are ignored.
  size_t ChannelPut2(const std::string& channel, const CryptoPP::byte* inString, size_t length,
                     int messageEnd, bool blocking) override;
  bool ChannelFlush(const std::string& channel, bool hardFlush, int propagation = -1,
                    bool blocking = true) override;
  bool ChannelMessageSeriesEnd(const std::string& channel, int propagation = -1,
                               bool blocking = true) override;

  // --- Transport --------------------------------------------------------------
  TransportState& transportState() const noexcept { return state_; }
  Authenticator& authenticator() const noexcept { return authenticator_; }
  void setInputState(CryptoPP::word32 value);
  void setOutputState(CryptoPP::word32 value);
  void sendVersion(const VersionInfo& versionInfo);
  // Sends a copy with a fresh cookie and keeps it for negotiation. With
  // the service running it starts a new key exchange.
  void sendKexInit(const KexInit& kexInit);
  void sendDisconnect(const CauseToDisconnect& cause);
  void markServiceStarted();
  // True while a key exchange we announced has not reached our NEWKEYS:
  // connection-layer output is held until then.
  bool isHoldingOutput() const;
  bool isBroken() const noexcept { return broken_; }
  void markBroken() noexcept { broken_ = true; }

  CryptoPP::word32 disconnectStatus() const noexcept { return disconnectStatus_; }
  CryptoPP::word32 disconnectReason() const noexcept { return disconnectReason_; }
  const std::string& disconnectDescription() const noexcept { return disconnectDescription_; }
  const std::string& disconnectLanguage() const noexcept { return disconnectLanguage_; }

  // --- User authentication (request writers record the last method) -------
  void sendServiceRequest();
  void sendNoneRequest(const std::string& user);
  // Password and publickey requests need a send cipher and MAC other than
  // "none": SSH::Err category 2 otherwise, and nothing is written.
  void sendPasswordRequest(const std::string& user, const CryptoPP::byte* password, size_t length);
  void sendPasswordChangeRequest(const std::string& user, const CryptoPP::byte* oldPassword,
                                 size_t oldLength, const CryptoPP::byte* newPassword,
                                 size_t newLength);
  void sendPublicKeyQuery(const std::string& user, const std::string& algorithm,
                          const std::string& keyBlob);
  void sendPublicKeySigned(const std::string& user, const std::string& algorithm,
                           const std::string& keyBlob, const std::string& signatureBlob);
  void sendBanner(const std::string& message, const std::string& language);
  // Reads a PEM private key (RSA or DSA); without rng sends the query,
  // with it the signed request.
  void sendPublicKeyRequest(const std::string& user, CryptoPP::BufferedTransformation& keySource,
                            const CryptoPP::byte* passPhrase, size_t passLength,
                            CryptoPP::RandomNumberGenerator* rng);
  static std::string makePublicKeyAuthData(const CryptoPP::SecByteBlock& sessionId,
                                           const std::string& user, const std::string& algorithm,
                                           const std::string& keyBlob);
  static bool isSupportedKey(const std::string& algorithm, const std::string& keyBlob);
  // Server side: the signature of a signed publickey request over this
  // connection's session id.
  bool verifyPublicKeyAuth(const std::string& user, const std::string& algorithm,
                           const std::string& keyBlob, const std::string& signatureBlob) const;

  // --- Channels ---------------------------------------------------------------
  Channel* addChannel(std::unique_ptr<Channel> channel);
  Channel* getChannel(CryptoPP::word32 number) const;
  // A channel whose open is still unanswered is not deleted but abandoned:
  // it keeps its number and is closed when the confirmation arrives.
  void removeChannel(CryptoPP::word32 number);
  void clearChannels();
  bool hasChannels() const;
  CryptoPP::word32 getWaitObjectCount();
  Channel* openChannel(const std::string& type, const std::string& argument = "");
  void sendChannelOpen(Channel& channel);
  void pumpChannels();

  void sendChannelData(CryptoPP::word32 number, const CryptoPP::byte* bytes, size_t length,
                       bool extended = false, CryptoPP::word32 typeCode = 0);
  // Sends queued data within the remote window: everything (all) or while a
  // full packet is queued. At a remote window of 0 it stops; the rest goes
  // out from the channel pump once WINDOW_ADJUST has arrived.
  void flushChannel(CryptoPP::word32 number, bool all);
  // Both wait until the send queue is empty: with data still queued they are
  // sent by a later channel pump.
  void sendChannelEof(CryptoPP::word32 number);
  void closeChannel(CryptoPP::word32 number);
  void sendWindowAdjust(CryptoPP::word32 number, CryptoPP::word32 bytes);

  // What the manager writes goes through here: the attachment, or the held
  // queue during a key exchange.
  CryptoPP::BufferedTransformation& output();

 private:
  class OutputGate;

  void receive(const CryptoPP::byte* bytes, size_t length);
  void dispatch();
  void handleMessage(CryptoPP::byte number, CryptoPP::BufferedTransformation& message);
  void handleKexInit(CryptoPP::BufferedTransformation& message);
  void handleNewKeys();
  void handleKexDh();
  void handleUserAuthRequest(CryptoPP::BufferedTransformation& message);
  void handleAuthMethodSpecific(CryptoPP::BufferedTransformation& message);
  void handleChannelOpen(CryptoPP::BufferedTransformation& message);
  void handleChannelMessage(CryptoPP::byte number, CryptoPP::BufferedTransformation& message);
  void sendUnimplemented();
  void negotiateAlgorithms();
  void requireAuthenticated() const;
  void requireSecureOutput() const;
  void writeUserAuthHeader(const std::string& user, const char* method);
  void writeOpenConfirmation(Channel& channel, CryptoPP::BufferedTransformation& data);
  void writeOpenFailure(CryptoPP::word32 remoteNumber, const ChannelOpenFailure& failure);
  // The data packets of one flush; false when the window stopped it.
  bool flushQueue(Channel& channel, bool all);
  void writeEof(Channel& channel);
  void writeClose(Channel& channel);
  void pumpChannel(CryptoPP::word32 number);
  size_t peerChannelCount() const;

  TransportState& state_;
  Authenticator& authenticator_;
  CryptoPP::ByteQueue messageQueue_{256};
  bool messageStarted_ = false;
  CryptoPP::byte messageNumber_ = 0;
  CryptoPP::word32 messageLength_ = 0;
  std::unique_ptr<KEX_DH> kex_;
  bool ignoreGuessedKexPacket_ = false;
  std::vector<std::unique_ptr<Channel>> channels_;
  CryptoPP::word32 disconnectStatus_ = kConnected;
  CryptoPP::word32 disconnectReason_ = 0;
  std::string disconnectDescription_;
  std::string disconnectLanguage_;
  // The send filters in force, so credentials never go out in the clear.
  std::string outCipherName_ = "none";
  std::string outMacName_ = "none";
  bool broken_ = false;
  unsigned authFailures_ = 0;
  std::unique_ptr<OutputGate> gate_;
};

}  // namespace SSH
