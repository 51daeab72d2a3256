// KEXINIT decoding and the peer identification reader over arbitrary bytes.
// A decoded record must re-encode to the bytes it was read from, apart from
// the reserved field, and the received bytes must be exactly those consumed.
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sshlib/Err.h"
#include "sshlib/KexInit.h"
#include "sshlib/PeerVersionReader.h"
#include "sshlib/TransportState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    CryptoPP::ByteQueue in;
    in.Put(data, size);
    SSH::KexInit k;
    try {
      k.decode(in);
      if (k.receivedPayload.size() + in.MaxRetrievable() != size) std::abort();
      if (k.receivedPayload.compare(0, std::string::npos, reinterpret_cast<const char*>(data),
                                    k.receivedPayload.size()) != 0)
        std::abort();
      SSH::KexInit copy = k;
      copy.receivedPayload.clear();
      // The re-encoding differs only in a flag byte above 1 and the reserved field.
      std::string got = k.receivedPayload;
      const size_t flag = got.size() - 5;
      got[flag] = got[flag] != 0 ? '\1' : '\0';
      got.replace(flag + 1, 4, 4, '\0');
      if (copy.hashPayload() != got) std::abort();
    } catch (const SSH::CauseToDisconnect&) {
    }
  }
  {
    static CryptoPP::AutoSeededRandomPool rng;
    SSH::TransportState state(rng);
    SSH::PeerVersionReader reader;
    CryptoPP::ByteQueue in;
    try {
      // In small pieces, as bytes arrive from the network.
      for (size_t at = 0; at < size && state.inputState() == 0; at += 7) {
        in.Put(data + at, std::min<size_t>(7, size - at));
        reader.read(in, state);
      }
    } catch (const SSH::CauseToDisconnect&) {
    }
  }
  return 0;
}
