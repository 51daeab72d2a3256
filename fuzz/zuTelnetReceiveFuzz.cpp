// Arbitrary bytes from a telnet server, in arbitrary pieces: receive never
// yields more bytes than came in, and everything the client sends back is
// option answers of three bytes, each option (but Encryption) answered once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "loam/net/zuScriptedEndpoint.h"
#include "loam/terminal/zuTelnet.h"

namespace {

class FuzzTelnet : public zuTelnet {
 public:
  FuzzTelnet() : zuTelnet(nullptr) {
    auto endpoint = std::make_unique<zuScriptedEndpoint>();
    wire = endpoint.get();
    adoptEndpoint(std::move(endpoint));
    setConnected(true);
    setNegotiationState(kStateData);
  }
  zuScriptedEndpoint* wire;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 0x10000) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  FuzzTelnet telnet;
  const std::size_t piece = (data[0] % 31) + 1;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    telnet.wire->addBytes(input.substr(at, piece));
    telnet.wire->addStatus(zuErrTimeout);
  }
  telnet.wire->setEndStatus(zuErrConnectionBroken);
  std::ostringstream out;
  const u32 stop = data[1] < 0x80 ? data[1] : 0x100;
  for (std::size_t calls = 0; calls < input.size() * 2 + 4; ++calls) {
    if (telnet.receive(&out, stop, true) == zuErrConnectionBroken) break;
  }
  if (out.str().size() > input.size()) std::abort();
  const std::string& sent = telnet.wire->sent();
  if (sent.size() % 3 != 0) std::abort();
  std::set<unsigned> answered;
  for (std::size_t i = 0; i < sent.size(); i += 3) {
    const auto command = static_cast<unsigned char>(sent[i + 1]);
    const auto option = static_cast<unsigned char>(sent[i + 2]);
    if (static_cast<unsigned char>(sent[i]) != 255 || command < 251) std::abort();
    if (option != 38 && !answered.insert(option).second) std::abort();
  }
  return 0;
}
