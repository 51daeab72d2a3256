#pragma once
// One channel of the SSH connection layer (RFC 4254): both flow-control
// windows and packet limits, the open state, the EOF and CLOSE flags and the
// send queue. The Manager's channel table owns the channels, routes the
// peer's channel messages to them and sends their data; subclasses supply
// where received data go and how the window is re-opened.
#include <cryptopp/cryptlib.h>
#include <cryptopp/queue.h>

#include <deque>
#include <string>

namespace SSH {

class Manager;

class Channel {
 public:
  enum State : CryptoPP::word32 {
    kNew = 0,
    kOpenedByPeer = 1,  // not yet confirmed here
    kOpenSent = 2,      // awaiting the peer's answer
    kRefused = 3,
    kOpen = 4,
  };

  static constexpr CryptoPP::word32 kInitialWindow = 0x1fc00;
  static constexpr CryptoPP::word32 kInitialMaxPacket = 0x1fc00;

  Channel();
  virtual ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  virtual bool AcceptMaxPacketSize(CryptoPP::word32 size) { return size != 0; }
  // Both refuse with ChannelOpenFailure reason 3 unless a subclass accepts;
  // true confirms at once, false asks again at the next channel pump.
  virtual bool HandleOpenRequest(Manager& manager, CryptoPP::BufferedTransformation& message,
                                 CryptoPP::BufferedTransformation& confirmationData);
  virtual bool ConfirmOpen(Manager& manager, CryptoPP::BufferedTransformation& confirmationData);
  // The rest of a CHANNEL_REQUEST; false answers CHANNEL_FAILURE when a
  // reply is wanted.
  virtual bool HandleRequest(Manager&, const std::string& /*requestType*/, bool /*wantReply*/,
                             CryptoPP::BufferedTransformation& /*message*/,
                             CryptoPP::BufferedTransformation& /*output*/) {
    return false;
  }
  virtual void OnOpenConfirmation(Manager&, CryptoPP::BufferedTransformation& /*message*/,
                                  CryptoPP::BufferedTransformation& /*output*/) {}
  virtual void OnOpenFailure(Manager&, CryptoPP::word32 /*reason*/,
                             const std::string& /*description*/, const std::string& /*language*/) {}
  virtual void OnRequestResult(Manager&, bool /*success*/,
                               CryptoPP::BufferedTransformation& /*message*/) {}
  virtual void HandleRequestResult(Manager& manager, bool success,
                                   CryptoPP::BufferedTransformation& message) {
    OnRequestResult(manager, success, message);
  }
  virtual void OnPumpOpen() = 0;
  virtual void OnPumpBeforeEof() = 0;
  virtual void OnEof() = 0;
  virtual void OnClose() = 0;
  virtual void OnPendingAfterEnd() = 0;
  virtual CryptoPP::word32 GetMaxWindowSize() = 0;
  // Received bytes not yet taken by the reader.
  virtual CryptoPP::word32 GetBufferedSize() = 0;
  virtual CryptoPP::word32 GetWaitObjectCount() { return 0; }
  // Writes CHANNEL_OPEN and moves to state 2.
  virtual void SendOpen(Manager& manager, CryptoPP::BufferedTransformation& output);
  // The rest of a CHANNEL_DATA after the recipient number.
  virtual void HandleData(Manager& manager, CryptoPP::BufferedTransformation& message,
                          CryptoPP::BufferedTransformation& output);
  // The rest of a CHANNEL_EXTENDED_DATA after the data type code. The bytes
  // go to GetExtendedDataSink with a plain put (a byte queue refuses named
  // channels), or are skipped; either way they count against the window.
  virtual void HandleExtendedData(Manager& manager, CryptoPP::word32 dataTypeCode,
                                  CryptoPP::BufferedTransformation& message,
                                  CryptoPP::BufferedTransformation& output);
  // Type-specific data of CHANNEL_OPEN.
  virtual void PutOpenData(CryptoPP::BufferedTransformation&) {}
  // Where received data go; null skips them.
  virtual CryptoPP::BufferedTransformation* GetDataSink() = 0;
  virtual CryptoPP::BufferedTransformation* GetExtendedDataSink() { return nullptr; }
  virtual void SkipData(CryptoPP::BufferedTransformation& message, CryptoPP::word32 length);

  CryptoPP::word32 state() const noexcept { return state_; }
  bool closeRequested() const noexcept { return closeRequested_; }
  bool eofRequested() const noexcept { return eofRequested_; }
  bool eofSent() const noexcept { return eofSent_; }
  bool eofReceived() const noexcept { return eofReceived_; }
  bool closeSent() const noexcept { return closeSent_; }
  bool closeReceived() const noexcept { return closeReceived_; }
  const std::string& type() const noexcept { return type_; }
  CryptoPP::word32 localNumber() const noexcept { return localNumber_; }
  CryptoPP::word32 remoteNumber() const noexcept { return remoteNumber_; }
  CryptoPP::word32 localWindow() const noexcept { return localWindow_; }
  CryptoPP::word32 remoteWindow() const noexcept { return remoteWindow_; }
  CryptoPP::word32 localMaxPacket() const noexcept { return localMaxPacket_; }
  CryptoPP::word32 remoteMaxPacket() const noexcept { return remoteMaxPacket_; }
  // Bytes waiting for the remote window.
  CryptoPP::lword queuedSize() const;
  bool hasQueuedData() const { return !sendQueue_.IsEmpty() || !laterData_.empty(); }

 protected:
  void setType(const std::string& type) { type_ = type; }
  void setCloseRequested() noexcept { closeRequested_ = true; }
  void setEofRequested() noexcept { eofRequested_ = true; }

 private:
  friend class Manager;

  // One data string within the window, to the sink or skipped.
  void consumeData(CryptoPP::BufferedTransformation& message,
                   CryptoPP::BufferedTransformation* sink);

  CryptoPP::word32 state_ = kNew;
  bool closeRequested_ = false;
  bool eofRequested_ = false;
  bool eofSent_ = false;
  bool eofReceived_ = false;
  bool closeSent_ = false;
  bool closeReceived_ = false;
  std::string type_;
  CryptoPP::word32 localNumber_ = 0;
  CryptoPP::word32 remoteNumber_ = 0;
  CryptoPP::word32 localWindow_ = kInitialWindow;
  CryptoPP::word32 remoteWindow_ = 0;
  CryptoPP::word32 localMaxPacket_ = kInitialMaxPacket;
  CryptoPP::word32 remoteMaxPacket_ = 0;
  // The send queue holds data of one kind; data of another kind that the
  // window kept from following at once wait behind it, in order.
  struct LaterData {
    bool extended;
    CryptoPP::word32 typeCode;
    std::string bytes;
  };
  CryptoPP::ByteQueue sendQueue_{256};
  bool queuedExtended_ = false;
  CryptoPP::word32 queuedTypeCode_ = 0;
  std::deque<LaterData> laterData_;
};

}  // namespace SSH
