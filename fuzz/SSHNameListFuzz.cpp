// Name-list negotiation and the encoding readers over arbitrary bytes. The
// input is two name-lists split at the first NUL; the whole input is also
// read as a run of SSH strings, mpints and integers, as a message would be.
#include <cryptopp/queue.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/NameList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t nul = text.find('\0');
  const std::string first = text.substr(0, nul);
  const std::string second = nul == std::string::npos ? std::string() : text.substr(nul + 1);

  const std::string common = SSH::firstCommonName(first, second);
  // A common name is an element of both lists; none means none is shared.
  if (!common.empty() && !(SSH::nameListContains(first, common) &&
                           SSH::nameListContains(second, common)))
    std::abort();
  if (SSH::nameListAllKnown(first, second) && SSH::firstCommonName(first, second).empty() &&
      !SSH::nameListContains(second, ""))
    std::abort();  // every element of first is in second, so the first one is common
  SSH::firstName(first);

  CryptoPP::ByteQueue q;
  q.Put(data, size);
  try {
    for (int i = 0; i < 64 && q.MaxRetrievable() != 0; ++i) {
      std::string s;
      CryptoPP::Integer n;
      switch (SSH::getByte(q) % 4) {
        case 0: SSH::getStdString(q, s); break;
        case 1: SSH::getMPInt(q, n); break;
        case 2: SSH::getNonNegativeMPInt(q, n); break;
        default: SSH::getUInt32(q); break;
      }
    }
  } catch (const SSH::CauseToDisconnect&) {
  }
  return 0;
}
