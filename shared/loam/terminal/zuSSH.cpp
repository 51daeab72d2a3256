#include "loam/terminal/zuSSH.h"

#include <cryptopp/base64.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <exception>

#include "loam/base/zuException.h"
#include "loam/base/zuString.h"
#include "loam/base/zuTimer.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/terminal/zuScpLine.h"
#include "loam/threads/zuLog.h"
#include "sshlib/Err.h"
#include "sshlib/Fingerprints.h"
#include "sshlib/KexInit.h"
#include "sshlib/Names.h"
#include "sshlib/VersionInfo.h"

namespace {

constexpr u16 kUnexpected = zuErrNetwork;
constexpr u16 kBadAuth = 1025;
constexpr u16 kScpReply = 1537;
constexpr u16 kScpEndByte = 1540;
constexpr u16 kScpAck = 1541;
// SSH_DISCONNECT_HOST_KEY_NOT_VERIFIABLE.
constexpr CryptoPP::word32 kHostKeyNotVerifiable = 9;
// How much of an upload is read and queued at a time.
constexpr u32 kUploadChunk = 0x10000;
// The longest piece of the server's own text (a name-list, a DISCONNECT
// description) carried into an error text and the log.
constexpr std::size_t kMaxPeerText = 256;
// How long the DISCONNECT of a failed session may take to go out.
constexpr u32 kDisconnectWriteMs = 1000;

const CryptoPP::byte kNul = 0;

// One word for the remote shell, whatever the path holds.
std::string shellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// The server's bytes as one bounded line of printable text.
std::string peerText(const std::string& text) {
  std::string shown = zuPrintable(text.substr(0, kMaxPeerText).c_str());
  if (text.size() > kMaxPeerText) shown += "...";
  return shown;
}

// "description: detail (SSH_DISCONNECT_...)".
std::string causeText(const SSH::CauseToDisconnect& cause) {
  std::string text = cause.description();
  if (!cause.detail().empty()) text += ": " + peerText(cause.detail());
  return text + " (" + SSH::disconnectReasonName(cause.reason()) + ")";
}

std::string sha256Fingerprint(const std::string& blob) {
  std::string digest;
  CryptoPP::SHA256 hash;
  CryptoPP::StringSource(
      blob, true,
      new CryptoPP::HashFilter(
          hash, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(digest), false)));
  while (!digest.empty() && digest.back() == '=') digest.pop_back();
  return "SHA256:" + digest;
}

bool sameText(const std::string& a, const std::string& b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (ignoreCase) {
      if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    }
    if (x != y) return false;
  }
  return true;
}

// A name the remote scp creates in its folder: no line break (which would end
// the control line early), and never the folder itself or its parent.
bool isUploadName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

zuSSH::zuSSH(zuEvent* stopEvent) : zuTelnet(stopEvent) { setPort(kDefaultPort); }

zuSSH::~zuSSH() {
  session_.reset();
  zuTelnet::disconnect();
}

bool zuSSH::disconnect() {
  session_.reset();
  return zuTelnet::disconnect();
}

bool zuSSH::connect(const std::string& host, const std::string& user, const std::string& password,
                    u32 timeout) {
  disconnect();
  lastError_.clear();
  hostKeyMd5_.clear();
  hostKeySha256_.clear();
  setTimeout(timeout);
  auto tcp = std::make_unique<zuTCPEndpoint>(stopEvent(), timeout);
  zuTCPEndpoint* raw = tcp.get();
  adoptEndpoint(std::move(tcp));
  u16 status = raw->connectTo(host.c_str(), port());
  if (status == 0) status = raw->setNoDelay(true);
  if (status != 0) {
    setStatus(fail(status, ""));
    return false;
  }
  return handshake(user, password);
}

bool zuSSH::connect(const zuIPAddress& address, const std::string& user,
                    const std::string& password, u32 timeout) {
  disconnect();
  lastError_.clear();
  hostKeyMd5_.clear();
  hostKeySha256_.clear();
  setTimeout(timeout);
  auto tcp = std::make_unique<zuTCPEndpoint>(stopEvent(), timeout);
  zuTCPEndpoint* raw = tcp.get();
  adoptEndpoint(std::move(tcp));
  u16 status = raw->connect(address, port());
  if (status == 0) status = raw->setNoDelay(true);
  if (status != 0) {
    setStatus(fail(status, ""));
    return false;
  }
  return handshake(user, password);
}

u32 zuSSH::timeLeft(const zuTimer& timer) const {
  if (timeout() == zuNetEndpoint::kNoTimeout) return timeout();
  const u32 elapsed = timer.elapsed();
  return elapsed < timeout() ? timeout() - elapsed : 0;
}

void zuSSH::pumpOnce(u32 ms) {
  session_->manager().pumpChannels();
  session_->source().pumpAll(ms);
}

void zuSSH::waitFor(const zuTimer& timer, const std::function<bool()>& done, bool authStep) {
  SSH::TransportState& state = session_->transportState();
  for (;;) {
    if (done()) return;
    if (state.outputState() == SSH::TransportState::kOutDisconnected)
      throw zuException(zuErrFailed, disconnectedText());
    const u32 auth = session_->authenticator().state;
    if (authStep &&
        (auth == SSH::Authenticator::kFailure || auth == SSH::Authenticator::kPartialSuccess))
      throw zuException(kBadAuth, "Invalid username or password.");
    const u32 elapsed = timer.elapsed();
    if (timeout() <= elapsed) throw zuException(zuErrTimeout, "Unable to establish connection.");
    try {
      session_->source().pumpAll(timeout() - elapsed);
    } catch (const zuException&) {
      // A DISCONNECT followed by the peer's close: the DISCONNECT is the news.
      if (state.outputState() == SSH::TransportState::kOutDisconnected)
        throw zuException(zuErrFailed, disconnectedText());
      throw;
    }
  }
}

std::string zuSSH::disconnectedText() const {
  const ClientManager& manager = session_->manager();
  const char* who = nullptr;
  if (manager.disconnectStatus() == SSH::Manager::kDisconnectReceived)
    who = "connection disconnected. The server said: ";
  else if (manager.disconnectStatus() == SSH::Manager::kDisconnectSent)
    who = "connection disconnected. The client said: ";
  else
    return "connection disconnected.";
  return who + peerText(manager.disconnectDescription()) + " (" +
         SSH::disconnectReasonName(manager.disconnectReason()) + ")";
}

bool zuSSH::usable() const {
  return session_ && !session_->manager().isBroken() &&
         session_->transportState().outputState() != SSH::TransportState::kOutDisconnected &&
         endpoint() != nullptr && endpoint()->isOpen();
}

u16 zuSSH::fail(u16 code, const std::string& text) {
  lastError_ = zuErrorMessage(code, text);
  return code;
}

void zuSSH::endSession(const SSH::CauseToDisconnect& cause) {
  if (!session_) return;
  zuNetEndpoint* ep = endpoint();
  const SSH::TransportState& state = session_->transportState();
  if (ep != nullptr && ep->isOpen() &&
      state.outputState() != SSH::TransportState::kOutNothingSent &&
      state.outputState() != SSH::TransportState::kOutDisconnected) {
    try {
      session_->sink().setWriteTimeout(std::min(timeout(), kDisconnectWriteMs));
      session_->manager().sendDisconnect(cause);
    } catch (const std::exception&) {
      // The server is gone or does not read: nothing more to tell it.
    }
  }
  if (ep != nullptr) ep->close();
  setConnected(false);
}

u16 zuSSH::failure(const std::exception& e) {
  if (const auto* z = dynamic_cast<const zuException*>(&e)) {
    lastError_ = z->message();
    return z->code();
  }
  if (const auto* cause = dynamic_cast<const SSH::CauseToDisconnect*>(&e)) {
    const std::string peer =
        endpoint() != nullptr ? endpoint()->peerAddress().toString() : std::string("?");
    endSession(*cause);
    zuLog::logf(0, "SSH connection to %s ended: %s", peer.c_str(), causeText(*cause).c_str());
    return fail(kUnexpected, causeText(*cause));
  }
  return fail(kUnexpected, zuPrintable(e.what()));
}

void zuSSH::checkHostKey() {
  const std::string& blob = session_->transportState().hostKeyBlob();
  hostKeyMd5_ = "MD5:" + SSH::md5Fingerprint(blob);
  hostKeySha256_ = sha256Fingerprint(blob);
  bool accepted = true;
  if (!expectedHostKey_.empty()) {
    accepted = sameText(expectedHostKey_, hostKeyMd5_, true) ||
               sameText("MD5:" + expectedHostKey_, hostKeyMd5_, true) ||
               expectedHostKey_ == hostKeySha256_;
  }
  if (accepted && hostKeyCheck_) accepted = hostKeyCheck_(blob, hostKeyMd5_, hostKeySha256_);
  if (expectedHostKey_.empty() && !hostKeyCheck_) {
    zuLog::logf(0, "SSH host key of %s accepted unverified: %s %s",
                endpoint()->peerAddress().toString().c_str(), hostKeySha256_.c_str(),
                hostKeyMd5_.c_str());
  }
  if (!accepted) {
    session_->manager().sendDisconnect(
        SSH::CauseToDisconnect(kHostKeyNotVerifiable, "host key not verified", SSH::kLanguage));
    throw zuException(zuErrFailed, "host key not verified.");
  }
}

bool zuSSH::handshake(const std::string& user, const std::string& password) {
  lastError_.clear();
  hostKeyMd5_.clear();
  hostKeySha256_.clear();
  try {
    session_ = std::make_unique<zuSSHSession>(endpoint());
    // Reads leave the endpoint's time-out at 0; writes get the client's.
    session_->sink().setWriteTimeout(timeout());
    const zuTimer timer;
    ClientManager& manager = session_->manager();
    SSH::TransportState& state = session_->transportState();
    SSH::Authenticator& auth = session_->authenticator();

    manager.sendVersion(SSH::VersionInfo("2.0", "zuSSH1.0", "", "SSH-2.0-zuSSH1.0"));
    SSH::KexInit kexInit;
    kexInit.setKexAlgorithms("diffie-hellman-group1-sha1");
    kexInit.setHostKeyAlgorithms("ssh-dss,ssh-rsa");
    kexInit.setEncryptionAlgorithms(SSH::defaultCiphers);
    kexInit.setMacAlgorithms(SSH::defaultMacs);
    kexInit.setCompressionAlgorithms(SSH::defaultCompressions);
    manager.sendKexInit(kexInit);

    waitFor(
        timer, [&] { return state.inputState() == SSH::TransportState::kInNewKeysAtClient; },
        false);
    // Before anything secret goes out: the server must be the one expected.
    checkHostKey();
    manager.sendServiceRequest();
    waitFor(
        timer, [&] { return state.outputState() == SSH::TransportState::kOutServiceRunning; },
        false);
    manager.sendPasswordRequest(user, reinterpret_cast<const CryptoPP::byte*>(password.data()),
                                password.size());
    waitFor(
        timer, [&] { return auth.state == SSH::Authenticator::kSuccess; }, true);
    setConnected(true);
    setStatus(0);
    return true;
  } catch (const SSH::CauseToDisconnect& e) {
    // failure() logs it: the connection ended.
    setStatus(failure(e));
    return false;
  } catch (const std::exception& e) {
    setStatus(failure(e));
  }
  const std::string peer =
      endpoint() != nullptr ? endpoint()->peerAddress().toString() : std::string("?");
  std::string text;
  zuLog::logf(0, "SSH handshake with %s failed (%u): %s", peer.c_str(), status(),
              lastError_.format(text).c_str());
  return false;
}

bool zuSSH::openChannel(const std::string& type, u32& number) {
  if (!usable()) return false;
  ClientManager& manager = session_->manager();
  SSH::Channel* channel = manager.openChannel(type);
  const u32 local = channel->localNumber();
  manager.sendChannelOpen(*channel);
  try {
    for (u32 pass = 0; pass < kOpenPasses; ++pass) {
      channel = manager.getChannel(local);
      // A refusal takes the channel out of the table.
      if (channel == nullptr || channel->state() == SSH::Channel::kRefused) return false;
      if (channel->state() == SSH::Channel::kOpen) {
        number = local;
        return true;
      }
      pumpOnce(kOpenPassMs);
    }
  } catch (const SSH::CauseToDisconnect& e) {
    // Reaches the caller as a zuException, with the session ended.
    failure(e);
    throw zuException(lastError_);
  }
  // Given up: closed here once the confirmation comes after all.
  manager.removeChannel(local);
  return false;
}

void zuSSH::openSession() {
  if (!usable() || session_->interactiveChannel != -1 || session_->interactiveEnded) return;
  u32 number = 0;
  if (!openChannel("session", number))
    throw zuException(zuErrFailed, "unable to create a channel.");
  zuSSHSession* session = session_.get();
  session->interactiveChannel = static_cast<i32>(number);
  session->manager().sessionChannel(number)->setOnRemoved([session] {
    session->interactiveChannel = -1;
    session->interactiveEnded = true;
  });
  session->manager().requestPty(number);
  session->manager().requestShell(number);
}

SessionChannel* zuSSH::interactive() const {
  if (!session_ || session_->interactiveChannel < 0) return nullptr;
  return session_->manager().sessionChannel(static_cast<u32>(session_->interactiveChannel));
}

u16 zuSSH::send(const char* text) {
  lastError_.clear();
  openSession();
  u16 status = 0;
  SessionChannel* channel = interactive();
  if (session_ && (session_->interactiveEnded || (channel != nullptr && channel->closeReceived()))) {
    // Sent now, the text would be dropped, or read by the next command
    // that gets the channel's number.
    status = fail(zuErrConnectionBroken, "the server closed the shell channel.");
  } else if (!usable()) {
    status = fail(zuErrFailed, session_ ? disconnectedText() : "");
  } else if (channel == nullptr) {
    status = fail(zuErrFailed, "");
  } else {
    try {
      std::string line = text == nullptr ? "" : text;
      line += '\n';
      session_->manager().sendData(channel->localNumber(), line);
    } catch (const std::exception& e) {
      status = failure(e);
    }
  }
  setStatus(status);
  return status;
}

u16 zuSSH::receive(std::ostream* out, u32 stopByte, bool noWait) {
  lastError_.clear();
  openSession();
  SessionChannel* channel = interactive();
  u16 status = 0;
  if (channel == nullptr && session_ && session_->interactiveEnded)
    status = fail(zuErrConnectionBroken, "the server closed the shell channel.");
  else
    status = readChannel(channel, out, stopByte, noWait);
  setStatus(status);
  return status;
}

u16 zuSSH::readChannel(SessionChannel* channel, std::ostream* out, u32 stopByte, bool noWait) {
  if (channel == nullptr || !session_) return zuErrFailed;
  const u32 number = channel->localNumber();
  const zuTimer timer;
  try {
    for (;;) {
      CryptoPP::ByteQueue& queue = channel->receiveQueue();
      if (stopByte == 0 || stopByte > 0xFF) {
        // No stop byte to look for: whole blocks at a time.
        CryptoPP::byte block[4096];
        while (const size_t got = queue.Get(block, sizeof block))
          if (out != nullptr)
            out->write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(got));
      } else {
        CryptoPP::byte byte = 0;
        while (queue.Get(byte) != 0) {
          if (out != nullptr) out->put(static_cast<char>(byte));
          if (byte == stopByte) return 0;
        }
      }
      if (channel->eofReceived() || channel->closeReceived()) {
        // The CLOSE that follows an EOF may have arrived already: take it in,
        // so that what the caller does next sees the channel ended.
        if (!channel->closeReceived() && usable()) pumpOnce(0);
        return zuErrConnectionBroken;
      }
      if (!usable()) return fail(zuErrFailed, disconnectedText());
      const u32 left = noWait ? 0 : timeLeft(timer);
      pumpOnce(left);
      // The pump removes a channel that both sides have closed.
      channel = session_->manager().sessionChannel(number);
      if (channel == nullptr) return zuErrConnectionBroken;
      if (channel->receiveQueue().AnyRetrievable()) continue;
      if (left == 0) return noWait ? 0 : zuErrTimeout;
    }
  } catch (const std::exception& e) {
    return failure(e);
  }
}

u16 zuSSH::readByte(SessionChannel* channel, u8& byte) {
  if (channel == nullptr || !session_) return zuErrFailed;
  const u32 number = channel->localNumber();
  const zuTimer timer;
  try {
    while (!channel->receiveQueue().AnyRetrievable()) {
      if (channel->eofReceived() || channel->closeReceived()) return zuErrConnectionBroken;
      if (!usable()) return fail(zuErrFailed, disconnectedText());
      const u32 left = timeLeft(timer);
      pumpOnce(left);
      channel = session_->manager().sessionChannel(number);
      if (channel == nullptr) return zuErrConnectionBroken;
      if (!channel->receiveQueue().AnyRetrievable() && left == 0) return zuErrTimeout;
    }
  } catch (const std::exception& e) {
    return failure(e);
  }
  channel->receiveQueue().Get(byte);
  return 0;
}

void zuSSH::readBlock(SessionChannel* channel, u32 count, std::ostream& out) {
  const u32 number = channel->localNumber();
  zuTimer idle;
  CryptoPP::byte block[0x4000];
  while (count != 0) {
    channel = session_->manager().sessionChannel(number);
    if (channel == nullptr) throw zuException(zuErrConnectionBroken, "");
    CryptoPP::ByteQueue& queue = channel->receiveQueue();
    if (queue.AnyRetrievable()) {
      const size_t got = queue.Get(block, std::min<size_t>(count, sizeof block));
      out.write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(got));
      if (!out) throw zuException(kScpAck, "");
      count -= static_cast<u32>(got);
      idle.start();
      continue;
    }
    if (channel->eofReceived() || channel->closeReceived())
      throw zuException(zuErrConnectionBroken, "");
    const u32 left = timeLeft(idle);
    if (left == 0) throw zuException(zuErrTimeout, "");
    pumpOnce(left);
  }
}

void zuSSH::drainChannel(u32 number) {
  zuTimer idle;
  CryptoPP::lword last = ~CryptoPP::lword(0);
  for (;;) {
    SSH::Channel* channel = session_->manager().getChannel(number);
    if (channel == nullptr || channel->closeReceived())
      throw zuException(zuErrConnectionBroken, "");
    const CryptoPP::lword queued = channel->queuedSize();
    if (queued == 0) return;
    if (queued < last) {
      last = queued;
      idle.start();
    }
    const u32 left = timeLeft(idle);
    if (left == 0) throw zuException(zuErrTimeout, "");
    pumpOnce(std::min<u32>(left, kOpenPassMs));
  }
}

void zuSSH::closeChannelQuietly(u32 number) {
  try {
    session_->manager().closeChannel(number);
  } catch (const std::exception&) {
    // The status of the operation is already decided.
  }
}

bool zuSSH::runScp(const std::function<void(u32 number)>& body) {
  if (!session_) {
    setStatus(zuErrFailed);
    return false;
  }
  if (!usable()) {
    setStatus(fail(zuErrFailed, disconnectedText()));
    return false;
  }
  u32 number = 0;
  u16 status = 0;
  bool opened = false;
  try {
    opened = openChannel("session", number);
    if (opened)
      body(number);
    else
      status = fail(zuErrFailed, "unable to create a channel.");
  } catch (const std::exception& e) {
    status = failure(e);
  }
  if (opened && usable()) closeChannelQuietly(number);
  setStatus(status);
  return status == 0;
}

bool zuSSH::scpGet(const std::string& remotePath, u32& size, std::ostream& out) {
  lastError_.clear();
  size = 0;
  return runScp([&](u32 number) {
    ClientManager& manager = session_->manager();
    manager.requestExec(number, "scp -f " + shellQuote(remotePath));
    manager.sendDataBuffer(number, &kNul, 1);

    std::string line;
    for (;;) {
      u8 byte = 0;
      const u16 read = readByte(manager.sessionChannel(number), byte);
      if (read != 0) throw zuException(read, "");
      if (byte == '\n') break;
      if (line.size() == kMaxScpLine) throw zuException(kScpReply, "");
      line.push_back(static_cast<char>(byte));
    }
    u32 announced = 0;
    if (!zuParseScpLine(line, announced)) throw zuException(kScpReply, "");
    size = announced;
    manager.sendDataBuffer(number, &kNul, 1);
    readBlock(manager.sessionChannel(number), announced, out);
    u8 end = 0;
    const u16 read = readByte(manager.sessionChannel(number), end);
    if (read != 0) throw zuException(read, "");
    if (end != 0) throw zuException(kScpEndByte, "");
    manager.sendDataBuffer(number, &kNul, 1);
  });
}

bool zuSSH::scpPut(const std::string& remotePath, std::istream& data) {
  lastError_.clear();
  if (!session_) {
    setStatus(zuErrFailed);
    return false;
  }
  // The remote name is what follows the last '/'; the folder part stays in
  // the path given to the remote scp.
  const std::size_t slash = remotePath.rfind('/');
  const std::string name = slash == std::string::npos ? remotePath : remotePath.substr(slash + 1);
  data.seekg(0, std::ios::end);
  const std::streamoff end = data.tellg();
  data.seekg(0, std::ios::beg);
  if (!isUploadName(name) || end < 0 || end > 0xFFFFFFFF || !data) {
    setStatus(zuErrFailed);
    return false;
  }
  const u32 size = static_cast<u32>(end);

  return runScp([&](u32 number) {
    ClientManager& manager = session_->manager();
    auto acknowledge = [&] {
      u8 ack = 0;
      const u16 read = readByte(manager.sessionChannel(number), ack);
      if (read != 0) throw zuException(read, "");
      if (ack != 0) throw zuException(kScpAck, "");
    };
    manager.requestExec(number, "scp -t " + shellQuote(remotePath));
    acknowledge();
    manager.sendData(number, "C0644 " + std::to_string(size) + " " + name + "\n");
    acknowledge();

    // Exactly the announced bytes, in full packets of the peer's size; the
    // queue is let down whenever a chunk is waiting for the window.
    std::string chunk(kUploadChunk, '\0');
    u32 left = size;
    while (left != 0) {
      data.read(chunk.data(), std::min<u32>(left, kUploadChunk));
      const u32 got = static_cast<u32>(data.gcount());
      if (got == 0) throw zuException(kScpAck, "");  // the stream ended early
      manager.sendChannelData(number, reinterpret_cast<const CryptoPP::byte*>(chunk.data()), got);
      left -= got;
      SSH::Channel* channel = manager.getChannel(number);
      if (channel != nullptr && channel->queuedSize() >= kUploadChunk)
        drainChannel(number);
      else
        session_->source().pumpAll(0);
    }
    manager.flushChannel(number, true);
    drainChannel(number);
    manager.sendDataBuffer(number, &kNul, 1);
    acknowledge();
  });
}
