#include "loam/net/zuSecureTCPEndpoint.h"

#include <cryptopp/cryptlib.h>
#include <cryptopp/osrng.h>

#include <algorithm>
#include <exception>
#include <new>
#include <string>

#include "loam/base/zuException.h"
#include "loam/base/zuTimer.h"
#include "loam/net/zuSessionCipher.h"

bool zuSecureHeader::hasMagic() const {
  return bytes[0] == 'Z' && bytes[1] == 'U' && bytes[2] == 'S' && bytes[3] == 'L';
}

std::array<u8, zuSecureHeader::kSize> zuSecureHeader::encode() const {
  std::array<u8, kSize> wire{};
  std::copy(bytes.begin(), bytes.end(), wire.begin());
  wire[8] = static_cast<u8>(length >> 8);
  wire[9] = static_cast<u8>(length);
  return wire;
}

zuSecureHeader zuSecureHeader::decode(std::span<const u8, kSize> wire) {
  zuSecureHeader header;
  std::copy(wire.begin(), wire.begin() + 8, header.bytes.begin());
  header.length = static_cast<u16>(wire[8] << 8 | wire[9]);
  return header;
}

// One time limit for the whole handshake rather than for each read: a peer
// that dribbles bytes cannot stretch it. Restores the caller's time-out.
class zuSecureTCPEndpoint::Deadline {
 public:
  Deadline(zuNetEndpoint& endpoint, u32 limit)
      : endpoint_(endpoint), saved_(endpoint.timeout()), limit_(limit) {}
  ~Deadline() { endpoint_.setTimeout(saved_); }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  // Before each step: the time left becomes the endpoint's time-out; 258 when
  // none is left.
  u16 arm() {
    if (limit_ == kNoTimeout) {
      endpoint_.setTimeout(kNoTimeout);
      return 0;
    }
    const u32 elapsed = timer_.elapsed();
    if (elapsed >= limit_) return zuErrTimeout;
    endpoint_.setTimeout(limit_ - elapsed);
    return 0;
  }

 private:
  zuNetEndpoint& endpoint_;
  const u32 saved_;
  const u32 limit_;
  const zuTimer timer_;
};

zuSecureTCPEndpoint::zuSecureTCPEndpoint(zuEvent* stopEvent, u32 timeout, bool compress)
    : zuTCPEndpoint(stopEvent, timeout) {
  offer_.bytes[zuSecureHeader::kCompress] = compress ? 1 : 0;
  own_ = offer_;
  // Nothing is buffered until the handshake ends: every handshake read takes
  // only what it needs, so no byte that follows it is read ahead in clear.
  setBufferSize(0);
}

zuSecureTCPEndpoint::~zuSecureTCPEndpoint() {
  // The base's destructor would flush through the socket directly, past the
  // cipher.
  zuSecureTCPEndpoint::close();
}

void zuSecureTCPEndpoint::setRandom(CryptoPP::RandomNumberGenerator* random) {
  random_ = random;
  cryptor_.setRandom(random);
}

u16 zuSecureTCPEndpoint::makeKeys() {
  if (!cryptor_.privateKey.empty()) return 0;
  return cryptor_.generateKeys(kKeyBits) ? 0 : kzuCodeKeyGenerationFailed;
}

u16 zuSecureTCPEndpoint::connect(const zuIPAddress& address, u16 port) {
  // A second handshake on a live session would go out in clear and be read
  // by the peer as ciphertext.
  if (isOpen()) return 0;
  u16 status = zuTCPEndpoint::connect(address, port);
  if (status != 0) return status;
  sendWithoutDelay();
  status = clientHandshake();
  if (status != 0) close();
  return status;
}

u16 zuSecureTCPEndpoint::listen(u16 port, const zuIPAddress& bindAddress) {
  const u16 status = makeKeys();
  if (status != 0) return status;
  return zuTCPEndpoint::listen(port, bindAddress);
}

std::unique_ptr<zuNetEndpoint> zuSecureTCPEndpoint::acceptWithoutHandshake() {
  for (;;) {
    std::unique_ptr<zuNetEndpoint> next = zuTCPEndpoint::accept();
    if (next == nullptr) return nullptr;
    auto* secure = dynamic_cast<zuSecureTCPEndpoint*>(next.get());
    if (secure == nullptr) continue;  // a subclass's clone that is not ours
    secure->cryptor_.privateKey = cryptor_.privateKey;
    secure->cryptor_.publicKey = cryptor_.publicKey;
    secure->cryptor_.keySize = cryptor_.keySize;
    secure->handshakeTimeout_ = handshakeTimeout_;
    secure->sendWithoutDelay();
    return next;
  }
}

// Every send is a whole frame or handshake part, so small segments cost
// nothing; with Nagle's delay the client's first request after its key block
// would wait for the server's delayed acknowledgement (about 40 ms), since
// the server answers the key block with nothing. Without the option the
// session still works, only slower, so a failure is not fatal.
void zuSecureTCPEndpoint::sendWithoutDelay() { (void)setNoDelay(true); }

std::unique_ptr<zuNetEndpoint> zuSecureTCPEndpoint::accept() {
  for (;;) {
    std::unique_ptr<zuNetEndpoint> next = acceptWithoutHandshake();
    if (next == nullptr) return nullptr;
    // The handshake runs here, on the accepting thread; a silent peer holds
    // the next accept back for at most the handshake time.
    auto* secure = static_cast<zuSecureTCPEndpoint*>(next.get());
    if (secure->serverHandshake() == 0) return next;
    secure->close();
  }
}

u16 zuSecureTCPEndpoint::close() {
  const u16 status = zuTCPEndpoint::close();  // flushes through the cipher
  // Bytes of the ended session still in the read buffer belong to nobody.
  u8 scrap[256];
  while (unreadCount() != 0) {
    u32 n = sizeof scrap;
    if (readSome(scrap, &n) != 0 || n == 0) break;
  }
  cipher_.reset();
  setBufferSize(0);
  return status;
}

u16 zuSecureTCPEndpoint::checkKeysAndHandshake() {
  u16 status = makeKeys();
  if (status != 0) return status;
  status = serverHandshake();
  if (status != 0) close();
  return status;
}

std::unique_ptr<zuNetEndpoint> zuSecureTCPEndpoint::clone(zuEvent* stopEvent, u32 timeout) {
  return std::make_unique<zuSecureTCPEndpoint>(stopEvent, timeout, true);
}

u16 zuSecureTCPEndpoint::transportSend(const void* data, u32 count) {
  return zuTCPEndpoint::sendRaw(data, count);
}

u16 zuSecureTCPEndpoint::transportReceive(void* buffer, u32* count) {
  return zuTCPEndpoint::receiveRaw(buffer, count);
}

u16 zuSecureTCPEndpoint::sendRaw(const void* data, u32 count) {
  if (!cipher_ || count == 0) return transportSend(data, count);
  // The work buffer only grows: a flush is at most the buffer size, and
  // larger direct writes are rare.
  if (workBuffer_.size() < count) workBuffer_.resize(count);
  cipher_->encrypt(static_cast<const u8*>(data), workBuffer_.data(), count);
  // The stream has moved on even when the send fails, so a session does not
  // survive a failed send; the connection is taken as broken by then anyway.
  return transportSend(workBuffer_.data(), count);
}

u16 zuSecureTCPEndpoint::receiveRaw(void* buffer, u32* count) {
  const u16 status = transportReceive(buffer, count);
  if (status == 0 && *count != 0 && cipher_) cipher_->decrypt(static_cast<u8*>(buffer), *count);
  return status;
}

u16 zuSecureTCPEndpoint::writeHeader(const zuSecureHeader& header) {
  const std::array<u8, zuSecureHeader::kSize> wire = header.encode();
  return write(wire.data(), static_cast<u32>(wire.size()));
}

u16 zuSecureTCPEndpoint::readHeader(zuSecureHeader& header) {
  std::array<u8, zuSecureHeader::kSize> wire{};
  const u16 status = read(wire.data(), static_cast<u32>(wire.size()));
  if (status != 0) return status;
  header = zuSecureHeader::decode(wire);
  return header.hasMagic() ? 0 : zuErrFailed;
}

u16 zuSecureTCPEndpoint::startCipher() {
  if (own_.bytes[zuSecureHeader::kEncrypt] != 0)
    cipher_ = std::make_unique<zuSessionCipher>(keyBlock_);
  setBufferSize(kDefaultBufferSize);
  return 0;
}

u16 zuSecureTCPEndpoint::clientHandshake() {
  Deadline deadline(*this, handshakeTimeout_);
  try {
    return runClientHandshake(deadline);
  } catch (const zuException& e) {
    return e.code();
  } catch (...) {
    return kzuCodeKeyGenerationFailed;
  }
}

u16 zuSecureTCPEndpoint::runClientHandshake(Deadline& deadline) {
  cipher_.reset();
  setBufferSize(0);
  own_ = offer_;
  zuSecureHeader hello = own_;
  hello.length = 0;
  u16 status = deadline.arm();
  if (status == 0) status = writeHeader(hello);
  if (status == 0) status = flush();
  zuSecureHeader server;
  if (status == 0) status = deadline.arm();
  if (status == 0) status = readHeader(server);
  if (status != 0) return status;

  if (server.bytes[zuSecureHeader::kEncrypt] != 0) {
    if (server.length == 0 || server.length > zuSecureHeader::kMaxLength) return zuErrFailed;
    std::string keyText(server.length, '\0');
    status = deadline.arm();
    if (status == 0) status = read(keyText.data(), server.length);
    if (status != 0) return status;
    cryptor_.publicKey = std::move(keyText);

    CryptoPP::AutoSeededRandomPool pool;
    CryptoPP::RandomNumberGenerator& rng = random_ ? *random_ : pool;
    rng.GenerateBlock(keyBlock_.data(), 32);
    rng.GenerateBlock(keyBlock_.data() + 32, 32);
    // The block is as long as the server's modulus, whatever size of key it
    // chose.
    std::vector<u8> wrapped;
    if (cryptor_.encrypt(keyBlock_.data(), static_cast<u32>(keyBlock_.size()), wrapped) == 0)
      return zuErrFailed;
    zuSecureHeader reply = server;
    reply.length = static_cast<u16>(wrapped.size());
    const std::array<u8, zuSecureHeader::kSize> head = reply.encode();
    wrapped.insert(wrapped.begin(), head.begin(), head.end());
    status = deadline.arm();
    if (status == 0) status = write(wrapped.data(), static_cast<u32>(wrapped.size()));
    if (status == 0) status = flush();
    if (status != 0) return status;
  }
  std::copy(server.bytes.begin() + 4, server.bytes.end(), own_.bytes.begin() + 4);
  return startCipher();
}

u16 zuSecureTCPEndpoint::serverHandshake() {
  Deadline deadline(*this, handshakeTimeout_);
  try {
    return runServerHandshake(deadline);
  } catch (const zuException& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // Nothing below is meant to throw; should the cryptographic library do
    // so all the same, this connection fails and the listener goes on.
    return kzuCodeKeyGenerationFailed;
  }
}

u16 zuSecureTCPEndpoint::runServerHandshake(Deadline& deadline) {
  cipher_.reset();
  setBufferSize(0);
  own_ = offer_;
  zuSecureHeader client;
  u16 status = deadline.arm();
  if (status == 0) status = readHeader(client);
  if (status != 0) return status;

  if (client.bytes[zuSecureHeader::kEncrypt] == 0) own_.bytes[zuSecureHeader::kEncrypt] = 0;
  if (client.bytes[zuSecureHeader::kCompress] == 0) own_.bytes[zuSecureHeader::kCompress] = 0;
  const bool encrypt = own_.bytes[zuSecureHeader::kEncrypt] != 0;
  // A key text the peer would refuse is not offered.
  if (encrypt &&
      (cryptor_.publicKey.empty() || cryptor_.publicKey.size() > zuSecureHeader::kMaxLength))
    return zuErrFailed;

  zuSecureHeader answer = own_;
  answer.length = encrypt ? static_cast<u16>(cryptor_.publicKey.size()) : 0;
  std::vector<u8> out;
  const std::array<u8, zuSecureHeader::kSize> head = answer.encode();
  out.assign(head.begin(), head.end());
  if (encrypt) out.insert(out.end(), cryptor_.publicKey.begin(), cryptor_.publicKey.end());
  status = deadline.arm();
  if (status == 0) status = write(out.data(), static_cast<u32>(out.size()));
  if (status == 0) status = flush();
  if (status != 0) return status;
  if (!encrypt) return startCipher();

  // Its option bytes are the server's own, repeated; only the length counts.
  zuSecureHeader keyHeader;
  status = deadline.arm();
  if (status == 0) status = readHeader(keyHeader);
  if (status != 0) return status;
  if (keyHeader.length == 0 || keyHeader.length > zuSecureHeader::kMaxLength) return zuErrFailed;
  std::vector<u8> wrapped(keyHeader.length);
  status = deadline.arm();
  if (status == 0) status = read(wrapped.data(), keyHeader.length);
  if (status != 0) return status;
  // Exactly one block of the modulus length, unwrapping to exactly 64 bytes,
  // before anything reaches the key block.
  std::array<u8, 64> block{};
  if (cryptor_.decrypt(wrapped.data(), keyHeader.length, block.data(),
                       static_cast<u32>(block.size())) != block.size())
    return zuErrFailed;
  keyBlock_ = block;
  return startCipher();
}
