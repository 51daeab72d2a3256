#pragma once
// Reads the peer's identification line from the front of the received bytes
// (RFC 4253 section 4.2), for the packet decoder while nothing else has
// arrived. Other lines may come first; both their number and every line's
// length are bounded, so a peer that never identifies costs bounded work.
#include <cryptopp/cryptlib.h>

namespace SSH {

class TransportState;

class PeerVersionReader {
 public:
  static constexpr size_t kMaxLineLength = 255;  // with CR LF
  static constexpr unsigned kMaxLinesBefore = 1024;

  // Takes whole lines out of input. On the identification line it stores the
  // parsed record as the peer's version, sets inputState 1 and returns true;
  // the bytes after the line stay in input. Returns false while a line is
  // incomplete. Throws CauseToDisconnect "version info line too long",
  // "too many lines before version info" or "protocol version not supported".
  bool read(CryptoPP::BufferedTransformation& input, TransportState& state);

 private:
  unsigned linesBefore_ = 0;
};

}  // namespace SSH
