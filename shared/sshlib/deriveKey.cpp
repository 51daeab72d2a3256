#include "sshlib/deriveKey.h"

#include "sshlib/Encoding.h"

#include <cryptopp/queue.h>
#include <cryptopp/sha.h>

namespace SSH {

CryptoPP::SecByteBlock deriveKey(const CryptoPP::Integer& K, const CryptoPP::SecByteBlock& H,
                                 char letter, const CryptoPP::SecByteBlock& sessionId,
                                 size_t length) {
  constexpr size_t kDigest = CryptoPP::SHA1::DIGESTSIZE;
  const size_t total = (length + kDigest - 1) / kDigest * kDigest;

  // The mpint form of K, kept in wiped memory.
  CryptoPP::ByteQueue kQueue;
  putMPInt(kQueue, K);
  CryptoPP::SecByteBlock kEncoded(static_cast<size_t>(kQueue.MaxRetrievable()));
  kQueue.Get(kEncoded, kEncoded.size());

  CryptoPP::SecByteBlock out(total);
  CryptoPP::SHA1 sha;
  size_t produced = 0;
  while (produced < total) {
    sha.Update(kEncoded, kEncoded.size());
    sha.Update(H, H.size());
    if (produced == 0) {
      const CryptoPP::byte letterByte = static_cast<CryptoPP::byte>(letter);
      sha.Update(&letterByte, 1);
      sha.Update(sessionId, sessionId.size());
    } else {
      sha.Update(out, produced);
    }
    sha.Final(out + produced);
    produced += kDigest;
  }
  return out;
}

}  // namespace SSH
