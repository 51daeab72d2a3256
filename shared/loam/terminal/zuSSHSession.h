#pragma once
// One SSH connection of the client: its random pool, transport state,
// authenticator and the pipeline
//   endpoint source -> packet decoder -> ClientManager -> packet encoder
//   -> endpoint sink
// over the client's endpoint (not owned). The source owns the rest of the
// chain; members are destroyed source first, so the channels go while the
// interactive-channel fields above still exist.
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

  // Local number of the interactive channel; -1 while none is open, and
  // again from the moment its channel leaves the manager's table.
  i32 interactiveChannel = -1;
  // The interactive channel was open and has gone: the server ended the
  // shell. No second one is opened on this connection.
  bool interactiveEnded = false;

 private:
  CryptoPP::AutoSeededRandomPool rng_;
  ClientManager* manager_ = nullptr;
  zuEndpointSink* sink_ = nullptr;
  SSH::TransportState state_;
  SSH::Authenticator authenticator_;
  std::unique_ptr<zuEndpointSource> source_;
};
