#include "sshlib/PeerVersionReader.h"

#include <cstring>
#include <string>

#include "sshlib/Err.h"
#include "sshlib/TransportState.h"
#include "sshlib/VersionInfo.h"

namespace SSH {

bool PeerVersionReader::read(CryptoPP::BufferedTransformation& input, TransportState& state) {
  for (;;) {
    CryptoPP::byte buffer[kMaxLineLength];
    const size_t seen = input.Peek(buffer, sizeof buffer);
    const void* lf = seen == 0 ? nullptr : std::memchr(buffer, '\n', seen);
    if (!lf) {
      if (seen >= kMaxLineLength) throwProtocolError("version info line too long");
      return false;
    }
    const size_t length = static_cast<size_t>(static_cast<const CryptoPP::byte*>(lf) - buffer);
    std::string line(reinterpret_cast<const char*>(buffer), length);
    input.Skip(length + 1);
    if (line.rfind("SSH-", 0) != 0) {
      if (++linesBefore_ > kMaxLinesBefore) throwProtocolError("too many lines before version info");
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    state.setPeerVersion(parseVersionLine(line));
    state.setInputState(TransportState::kInVersionReceived);
    return true;
  }
}

}  // namespace SSH
