// The agent as the attack tests start it: the real uaServer, with two limits
// that the tests shorten through the environment so that a run takes
// seconds, not minutes. TW_ATTACK_INACTIVITY_MS replaces each connection's
// inactivity limit (which also bounds every send), TW_ATTACK_MAX_CONNECTIONS
// the connection limit, TW_ATTACK_IDLE_MS the idleness that gives up a slot
// to a newcomer, TW_ATTACK_HANDSHAKES the bound on unfinished handshakes in
// all.
#include <cstdlib>
#include <memory>
#include <string>

#include "loam/base/zuString.h"
#include "update_agent/uaServer.h"

namespace {

u32 fromEnvironment(const char* name, u32 otherwise) {
  const char* text = std::getenv(name);
  u32 value = 0;
  return text != nullptr && zuStrToUInt32(text, value) && value != 0 ? value : otherwise;
}

class AttackAgent : public uaServer {
 public:
  AttackAgent() {
    setMaxConnections(fromEnvironment("TW_ATTACK_MAX_CONNECTIONS", kMaxConnections));
    setIdleLimit(fromEnvironment("TW_ATTACK_IDLE_MS", kIdleLimitMs));
    setHandshakeLimits(fromEnvironment("TW_ATTACK_HANDSHAKES", kMaxHandshakes),
                       kMaxHandshakesPerAddress);
  }

 protected:
  std::unique_ptr<zuNetObjectHandler> createHandler(std::unique_ptr<zuNetEndpoint> endpoint,
                                                    bool compress) override {
    std::unique_ptr<zuNetObjectHandler> handler =
        uaServer::createHandler(std::move(endpoint), compress);
    handler->setInactivityLimit(
        fromEnvironment("TW_ATTACK_INACTIVITY_MS", zuNetObjectHandler::kInactivityLimit));
    return handler;
  }
};

}  // namespace

int main(int argc, char** argv) {
  AttackAgent agent;
  return static_cast<int>(agent.run(static_cast<u32>(argc), argv));
}
