#include "loam/terminal/zuSSHSession.h"

#include "loam/terminal/zuEndpointSink.h"
#include "sshlib/PacketDecoder.h"
#include "sshlib/PacketEncoder.h"

zuSSHSession::zuSSHSession(zuNetEndpoint* endpoint) : state_(rng_) {
  // Built back to front: each stage owns the next.
  auto sink = std::make_unique<zuEndpointSink>(endpoint);
  sink_ = sink.get();
  auto encoder = std::make_unique<SSH::PacketEncoder>(state_, sink.release());
  auto manager = std::make_unique<ClientManager>(state_, authenticator_, encoder.release());
  manager_ = manager.get();
  auto decoder = std::make_unique<SSH::PacketDecoder>(state_, manager.release());
  source_ = std::make_unique<zuEndpointSource>(endpoint, decoder.release());
}

zuSSHSession::~zuSSHSession() { source_.reset(); }
