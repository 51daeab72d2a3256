#pragma once
// The SSH client's channel: received data wait in a receive queue until the
// client reads them. The window is re-opened by the channel pump whenever more
// than half of the 260096-byte maximum is neither granted nor queued, so a
// reader that stops reading stops the peer. Extended data (a remote stderr)
// count against the window but never reach the reader.
#include <cryptopp/queue.h>

#include <functional>
#include <utility>

#include "sshlib/Channel.h"

class SessionChannel : public SSH::Channel {
 public:
  static constexpr CryptoPP::word32 kMaxWindow = 0x3f800;

  SessionChannel() = default;
  SessionChannel(const SessionChannel&) = delete;
  SessionChannel& operator=(const SessionChannel&) = delete;
  ~SessionChannel() override {
    if (onRemoved_) onRemoved_();
  }
  // Runs when the channel leaves the manager's table. A role the client gave
  // the channel ends there, so the next channel that gets the same number
  // starts without it.
  void setOnRemoved(std::function<void()> onRemoved) { onRemoved_ = std::move(onRemoved); }

  void OnPumpOpen() override {}
  void OnPumpBeforeEof() override {}
  void OnEof() override {}
  void OnClose() override {}
  void OnPendingAfterEnd() override {}
  CryptoPP::word32 GetMaxWindowSize() override { return kMaxWindow; }
  CryptoPP::word32 GetBufferedSize() override {
    return static_cast<CryptoPP::word32>(receiveQueue_.CurrentSize());
  }
  CryptoPP::BufferedTransformation* GetDataSink() override { return &receiveQueue_; }

  CryptoPP::ByteQueue& receiveQueue() { return receiveQueue_; }

 private:
  CryptoPP::ByteQueue receiveQueue_{256};
  std::function<void()> onRemoved_;
};
