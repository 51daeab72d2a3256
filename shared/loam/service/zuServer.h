#pragma once
// The library's netobject server: a service whose main work is a listening
// loop on one TCP port behind the secure packet layer. It owns the listening
// endpoint, one connection handler per open connection, the map from request
// type bytes to response factories, the data path and the preference store.
// A program becomes a server by deriving from it and filling the factory map
// in its initialize.
//
// The loop runs on the service's (or the console's) main thread; the server
// touches a handler only from that thread, to read its state, stop it, wait
// for it and delete it. Its accept waits on the listener, the stop event and
// every handler's finished event, so an ended handler is reaped (its thread
// joined, its descriptors closed) as soon as it ends.
#include <memory>
#include <string>
#include <vector>

#include "loam/base/zuTimer.h"
#include "loam/net/zuIPAddress.h"
#include "loam/net/zuNetEndpoint.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/platform/zuTypes.h"
#include "loam/service/zuNTService.h"
#include "loam/threads/zuPreferences.h"
#include "loam/threads/zuSingleEvent.h"

class zuServer : public zuNTService {
 public:
  static constexpr u16 kDefaultPort = 4152;
  static constexpr u32 kMaxConnections = 100;
  // Address families of "-4" and "-6" (Windows' AF_INET and AF_INET6).
  static constexpr u32 kFamilyAny = 0;
  static constexpr u32 kFamilyIPv4 = 2;
  static constexpr u32 kFamilyIPv6 = 23;
  static constexpr const char* kPreferenceFileName = "preferences.cfg";
  static constexpr const char* kCompanyFolder = "Tarnwell";
  static constexpr const char* kProductFolder = "Update Agent";
  static constexpr const char* kArgumentsEntry = "Arguments";
  static constexpr const char* kUpgradableEntry = "Upgradable";
  // Connections still in the secure handshake, from one address and in
  // all; a connection past either is closed unanswered, so silent sockets
  // cannot hold the connection slots.
  static constexpr u32 kMaxHandshakesPerAddress = 10;
  static constexpr u32 kMaxHandshakes = 32;
  // With every slot taken, a newcomer whose handshake succeeded takes the
  // slot of the connection idle longest, when that one has sent nothing but
  // keep-alives for this long; otherwise the newcomer gets 1030.
  static constexpr u32 kIdleLimitMs = 60000;
  // How long an accept that ran out of descriptors or memory waits before
  // it tries again.
  static constexpr u32 kAcceptRetryMs = 100;
  // How long stopHandlers waits for each handler before it abandons it.
  static constexpr u32 kStopWaitMs = 30000;

  // Both values are ignored: port 4152 and at most 100 connections apply.
  explicit zuServer(u16 port = kDefaultPort, u32 maxConnections = kMaxConnections);
  // Stops and deletes handlers that a run left behind.
  ~zuServer() override;

  // "-P" port, "-D" data path, "-4", "-6" (letters in any case); then the
  // service frame's options. False on a missing or bad argument.
  bool parseArguments(std::vector<zuOption>& options) override;
  // Start-up lines, data folder, preference file and its "Arguments" entry.
  // Throws zuException.
  void initialize() override;
  // The listening loop: accepts connections and reaps ended handlers until a
  // stop is requested. Throws zuException or std::bad_alloc.
  void main() override;
  // Ends listening: handlers stopped and deleted, endpoint deleted.
  void cleanup() override;

  // The preference "Upgradable" of the process's server: false without a
  // server and in a console run; otherwise false only for a value that
  // reads as 0.
  static bool isUpgradable();

  // Removes (and deletes) the handlers whose threads have ended, keeping
  // the order of the others.
  void reapHandlers();
  u32 connectionCount() const { return static_cast<u32>(handlers_.size()); }
  void addHandler(std::unique_ptr<zuNetObjectHandler> handler);
  // Stops every handler still running and waits for each a bounded time;
  // deletes those that ended, abandons (logs and leaks) the others.
  void stopHandlers();
  // Chooses the data folder (creating the default one) and names the
  // preference file in it. Throws zuException 1538 or 1546.
  void openPreferences();

  u16 port() const { return port_; }
  u32 addressFamily() const { return addressFamily_; }
  const std::string& dataPath() const { return dataPath_; }
  void setDataPath(const std::string& path) { dataPath_ = path; }
  bool isListening() const { return listening_ != 0; }
  zuPreferences& preferences() { return preferences_; }
  zuNetResponseFactoryMap& factories() { return factories_; }
  u32 maxConnections() const { return maxConnections_; }

  // Test seams. Port 0 listens on a free port, which then becomes the port;
  // a bind address keeps the listener off other interfaces; a lower limit
  // makes the connection limit cheap to reach.
  void setPort(u16 port) { port_ = port; }
  void setBindAddress(const zuIPAddress& address) { bindAddress_ = address; }
  void setMaxConnections(u32 limit) { maxConnections_ = limit; }
  void setStopWait(u32 ms) { stopWaitMs_ = ms; }
  void setHandshakeLimits(u32 total, u32 perAddress) {
    maxHandshakes_ = total;
    maxHandshakesPerAddress_ = perAddress;
  }
  void setIdleLimit(u32 ms) { idleLimitMs_ = ms; }

 protected:
  // The handler for an accepted connection, not started yet. A seam for
  // tests that watch handlers end.
  virtual std::unique_ptr<zuNetObjectHandler> createHandler(std::unique_ptr<zuNetEndpoint> endpoint,
                                                            bool compress);
  // The handler for an accepted connection, its handshake to run on its own
  // thread (admission: the connection came when every slot was taken); null
  // (logged) when it cannot be made.
  std::unique_ptr<zuNetObjectHandler> makeHandler(std::unique_ptr<zuNetEndpoint> endpoint,
                                                  bool compress, bool admission,
                                                  const std::string& peer);
  // True when one more handshake from address stays within both bounds.
  bool handshakeSlotFree(const zuIPAddress& address) const;
  // Answers the connections past the limit whose handshakes have ended:
  // admitted into a free slot or that of the connection idle longest,
  // otherwise refused with 1030.
  void admitPending();
  // Starts a handler's thread; false (logged) when no thread could be had.
  bool startHandler(zuNetObjectHandler& handler, const std::string& peer);

  u8 listening_ = 0;
  u8 compressionOffer_ = 1;
  u32 maxConnections_ = kMaxConnections;
  u16 port_ = kDefaultPort;
  u32 addressFamily_ = kFamilyAny;
  zuIPAddress bindAddress_;
  std::string dataPath_;
  zuPreferences preferences_;
  std::unique_ptr<zuNetEndpoint> listeningEndpoint_;
  zuNetResponseFactoryMap factories_;
  std::vector<std::unique_ptr<zuNetObjectHandler>> handlers_;
  // Connections that came when every slot was taken: in their handshake,
  // waiting for admission, or refusing with 1030.
  std::vector<std::unique_ptr<zuNetObjectHandler>> pending_;
  // Set by a pending connection whose handshake has ended.
  zuSingleEvent admissionWanted_;
  // Since the C heap last gave its free memory back (reapHandlers).
  static constexpr u32 kHeapTrimIntervalMs = 1000;
  zuTimer heapTrimTimer_;
  u32 stopWaitMs_ = kStopWaitMs;
  u32 maxHandshakes_ = kMaxHandshakes;
  u32 maxHandshakesPerAddress_ = kMaxHandshakesPerAddress;
  u32 idleLimitMs_ = kIdleLimitMs;
};
