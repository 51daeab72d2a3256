#pragma once
// A sending and a receiving transport state joined by a packet encoder and a
// packet decoder, with a deterministic random generator (padding is then the
// same on every run) and a sink that records each delivered message.
#include <cryptopp/cryptlib.h>
#include <cryptopp/filters.h>

#include <functional>
#include <string>
#include <vector>

#include "SSHTestSupport.h"
#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Mac.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"
#include "sshlib/TransportState.h"

namespace sshtest {

// Bytes 0, 1, 2, ... on every call: padding that tests can predict.
class CountingRng : public CryptoPP::RandomNumberGenerator {
 public:
  void GenerateBlock(CryptoPP::byte* output, size_t size) override {
    for (size_t i = 0; i < size; ++i) output[i] = next_++;
  }

 private:
  CryptoPP::byte next_ = 0;
};

// Records each message: its bytes up to the end of message. onMessage runs
// at each end, as the Manager's handling would.
class MessageRecorder : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  size_t Put2(const CryptoPP::byte* inString, size_t length, int messageEnd, bool) override {
    current_.append(reinterpret_cast<const char*>(inString), length);
    if (messageEnd) {
      messages.push_back(current_);
      current_.clear();
      if (onMessage) onMessage(messages.back());
    }
    return 0;
  }

  std::vector<std::string> messages;
  std::function<void(const std::string&)> onMessage;

 private:
  std::string current_;
};

// Counts the writes that reach it and keeps their bytes.
class WriteRecorder : public CryptoPP::Bufferless<CryptoPP::Sink> {
 public:
  size_t Put2(const CryptoPP::byte* inString, size_t length, int, bool) override {
    if (length > 0) {
      ++writes;
      bytes.append(reinterpret_cast<const char*>(inString), length);
    }
    return 0;
  }

  unsigned writes = 0;
  std::string bytes;
};

// Sender (a client past its identification) and receiver (past the peer's
// identification) with "none" filters until a test keys them.
struct PacketLink {
  inline static const std::string kKey = std::string(32, '\x5a');
  inline static const std::string kIv = std::string(16, '\xa5');

  CountingRng rng;
  SSH::TransportState sender{rng};
  SSH::TransportState receiver{rng};
  WriteRecorder* wire = new WriteRecorder;  // owned by the encoder
  MessageRecorder* delivered = new MessageRecorder;  // owned by the decoder
  SSH::PacketEncoder encoder{sender, wire};
  SSH::PacketDecoder decoder{receiver, delivered};

  PacketLink() {
    sender.setOutputState(SSH::TransportState::kOutKexInitSent);
    receiver.setInputState(SSH::TransportState::kInVersionReceived);
  }

  // Keys the sender's send side and the receiver's receive side with one
  // fixed key and IV.
  void keySender(const std::string& cipher, const std::string& mac) {
    sender.outCipher().createKeyed(cipher, bytes(kKey), bytes(kIv), false);
    sender.outMac().createKeyed(mac, bytes(kKey), SSH::Mac::keyLength(mac, false), true);
  }
  void keyReceiver(const std::string& cipher, const std::string& mac) {
    receiver.inCipher().createKeyed(cipher, bytes(kKey), bytes(kIv), true);
    receiver.inMac().createKeyed(mac, bytes(kKey), SSH::Mac::keyLength(mac, false), false);
  }
  void key(const std::string& cipher, const std::string& mac) {
    keySender(cipher, mac);
    keyReceiver(cipher, mac);
  }

  // One payload through the encoder; returns the bytes it wrote.
  std::string send(const std::string& payload) {
    const size_t before = wire->bytes.size();
    encoder.PutMessageEnd(bytes(payload), payload.size(), 0);
    return wire->bytes.substr(before);
  }

  // The same in pieces of up to 7 bytes, then the end of message alone.
  std::string sendInPieces(const std::string& payload) {
    const size_t before = wire->bytes.size();
    for (size_t at = 0; at < payload.size(); at += 7) {
      const std::string piece = payload.substr(at, 7);
      encoder.Put(bytes(piece), piece.size());
    }
    encoder.MessageEnd(0);
    return wire->bytes.substr(before);
  }

  void receive(const std::string& data) { decoder.Put(bytes(data), data.size()); }
};

}  // namespace sshtest
