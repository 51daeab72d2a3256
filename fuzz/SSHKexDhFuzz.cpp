// The key exchange's handling of the peer's KEXDH_REPLY (at a client) or
// KEXDH_INIT (at a server) over arbitrary bytes. Byte 0: even for the
// client side, odd for the server side; the rest is the message, number
// byte included. Only SSH::CauseToDisconnect may leave, and a failed
// exchange stores no shared secret or exchange hash.
#include <cryptopp/dsa.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sshlib/Err.h"
#include "sshlib/KEX_DH.h"
#include "sshlib/KexInit.h"
#include "sshlib/TransportState.h"
#include "sshlib/VersionInfo.h"

namespace {

const CryptoPP::DSA::PrivateKey& hostKey() {
  static const CryptoPP::DSA::PrivateKey key = [] {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::DSA::PrivateKey k;
    k.GenerateRandomWithKeySize(rng, 1024);
    return k;
  }();
  return key;
}

SSH::KexInit offer() {
  SSH::KexInit k;
  k.setKexAlgorithms(SSH::KEX_DH::kMethod);
  k.setHostKeyAlgorithms("ssh-rsa,ssh-dss");
  k.setEncryptionAlgorithms("aes256-cbc");
  k.setMacAlgorithms("hmac-sha1");
  k.setCompressionAlgorithms("none");
  return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool server = (data[0] & 1u) != 0;
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState state(rng);
  if (server) state.setHostKey(&hostKey());
  const SSH::VersionInfo own("2.0", "1.27", "sshlib: fuzz", "SSH-2.0-1.27 sshlib: fuzz");
  const SSH::VersionInfo peer("2.0", "peer", "", "SSH-2.0-peer");
  state.setOwnVersion(own);
  state.setPeerVersion(peer);
  state.setOwnKexInit(offer());
  state.setPeerKexInit(offer());
  state.setInputState(SSH::TransportState::kInKexInitReceived);
  state.setOutputState(SSH::TransportState::kOutKexInitSent);

  CryptoPP::ByteQueue out;
  SSH::KEX_DH kex(state, new CryptoPP::Redirector(out));
  try {
    if (!server) kex.sendKexDhInit();
    kex.Put(data + 1, size - 1);
    kex.MessageEnd();
  } catch (const SSH::CauseToDisconnect&) {
    if (state.exchangeHash().size() != 0 || state.sharedSecret() != CryptoPP::Integer::Zero()) {
      std::abort();
    }
    return 0;
  }
  // Only a server can be driven to success by a peer's bytes alone.
  if (!server || state.inputState() != SSH::TransportState::kInKexDone) std::abort();
  return 0;
}
