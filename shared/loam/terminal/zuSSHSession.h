#pragma once
// One SSH connection of the client: its random pool, transport state,
// authenticator and the pipeline
//   endpoint source -> packet decoder -> ClientManager -> packet encoder
//   -> endpoint sink
// over the client's endpoint (not owned). The source owns the rest of the
// chain; members are destroyed source first.
#include <cryptopp/osrng.h>

#include <memory>

#include "loam/platform/zuTypes.h"
#include "loam/terminal/ClientManager.h"
#include "loam/terminal/zuEndpointSink.h"
#include "loam/terminal/zuEndpointSource.h"
#include "sshlib/Authenticator.h"
#include "sshlib/TransportState.h"

class zuNetEndpoint;

class zuSSHSession {
 public:
  explicit zuSSHSession(zuNetEndpoint* endpoint);
  ~zuSSHSession();
  zuSSHSession(const zuSSHSession&) = delete;
  zuSSHSession& operator=(const zuSSHSession&) = delete;

  ClientManager& manager() const { return *manager_; }
  SSH::TransportState& transportState() { return state_; }
  SSH::Authenticator& authenticator() { return authenticator_; }
  zuEndpointSource& source() { return *source_; }
  zuEndpointSink& sink() const { return *sink_; }

  // Local number of the interactive channel; -1 while none is open.
  i32 interactiveChannel = -1;

 private:
  CryptoPP::AutoSeededRandomPool rng_;
  ClientManager* manager_ = nullptr;
  zuEndpointSink* sink_ = nullptr;
  SSH::TransportState state_;
  SSH::Authenticator authenticator_;
  std::unique_ptr<zuEndpointSource> source_;
};
