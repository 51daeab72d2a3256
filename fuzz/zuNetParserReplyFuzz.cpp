// Arbitrary bytes from a line-protocol server, in arbitrary pieces: every
// reply read is a three-digit code, reading ends only with the endpoint's
// status, and a command built from those bytes never carries a line break.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "loam/base/zuException.h"
#include "loam/net/zuScriptedEndpoint.h"
#include "loam/terminal/zuNetParser.h"

namespace {

class FuzzParser : public zuNetParser {
 public:
  explicit FuzzParser(zuNetEndpoint* endpoint) { setEndpoint(endpoint); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x10000) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  zuScriptedEndpoint script;
  // The first byte picks the piece size, so lines split anywhere.
  const std::size_t piece = size == 0 ? 1 : (data[0] % 17) + 1;
  for (std::size_t at = 1; at < input.size(); at += piece) script.addBytes(input.substr(at, piece));
  script.setEndStatus(zuErrConnectionBroken);
  FuzzParser parser(&script);
  for (int replies = 0; replies < 10000; ++replies) {
    try {
      const u16 code = parser.readReply();
      if (code > 999) std::abort();
    } catch (const zuException& e) {
      if (e.code() != zuErrConnectionBroken) std::abort();
      break;
    }
  }
  // The input as a command argument: refused, or sent as exactly one line.
  zuScriptedEndpoint out;
  out.addBytes("200 ok\r\n");
  FuzzParser sender(&out);
  try {
    sender.sendCommand("NOOP %s", input.substr(0, 600).c_str());
  } catch (const zuException&) {
  }
  const std::string& sent = out.sent();
  if (!sent.empty()) {
    if (sent.size() < 2 || sent.compare(sent.size() - 2, 2, "\r\n") != 0) std::abort();
    if (sent.find_first_of("\r\n") != sent.size() - 2) std::abort();
    if (sent.size() > zuNetParser::kMaxCommand + 2) std::abort();
  }
  return 0;
}
