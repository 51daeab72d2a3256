#pragma once
// Endpoints over IP sockets. One socket when connected (or, when listening,
// one per usable local address); every blocking step is one wait over the
// socket and the stop event's handles with the endpoint's time-out, so a
// transfer ends on data, on time-out or on the stop event. A plain
// zuIPEndpoint is a raw ICMP endpoint; zuTCPEndpoint and zuUDPEndpoint fix
// the kind.
#include <memory>
#include <string>
#include <vector>

#include "loam/net/zuNetEndpoint.h"
#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuPlatformSocket.h"

class zuIPEndpoint : public zuNetEndpoint {
 public:
  static constexpr u32 kListenBacklog = 16;

  zuIPEndpoint(zuEvent* stopEvent, u32 timeout);
  ~zuIPEndpoint() override;

  // Connects to the first usable address of the lookup (a stream endpoint
  // waits for the connection within the time-out). 515 when none works, 257
  // when stopped meanwhile.
  u16 connect(const zuIPAddress& address, u16 port) override;
  // An address text goes to connect directly; a host name is looked up on a
  // lookup thread first, whose wait the time-out and the stop event cut
  // short (258, 257). 515 for port 0.
  u16 connectTo(const char* host, u16 port) override;
  // One socket per local address that the lookup gives (all of them when
  // the bind address is not set or no family is known). With port 0 the
  // first socket picks a free port and the others take the same one.
  u16 listen(u16 port, const zuIPAddress& bindAddress) override;
  // The next connection, on an endpoint of this class, within the time-out.
  // Null on time-out, on the stop event, or when a listening socket fails; a
  // connection that fails or does not fit the family filter is dropped and
  // the wait goes on.
  std::unique_ptr<zuNetEndpoint> accept() override;
  u16 close() override;
  bool isOpen() const override { return socket_ != zuPlatform::kInvalidSocket; }
  bool setPeerAddress(const zuIPAddress& address) override;
  // The socket's own address when it has one, else the local address field.
  zuIPAddress address() const override;
  bool setStopEvent(zuEvent* stopEvent) override;
  // The IPv4 addresses of the interfaces that are up.
  void localAddresses(std::vector<zuIPAddress>& addresses) override;
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;
  u16 sendRaw(const void* data, u32 count) override;
  u16 receiveRaw(void* buffer, u32* count) override;

  // The time-to-live (IPv4 destination) or unicast hop limit (IPv6).
  virtual u16 setOption(u16 value);
  virtual u16 getOption(u16* value);

  // Every IPv4 and IPv6 address of the name, in lookup order.
  static u16 resolveHost(const char* name, std::vector<zuIPAddress>& addresses);
  // The host names registered for the address.
  static u16 reverseLookup(const zuIPAddress& address, std::vector<std::string>& names);

  // The address family filter: 0 any, 2 IPv4, 23 IPv6; set before connect
  // or listen.
  u32 family() const { return family_; }
  void setFamily(u32 family) { family_ = family; }
  u32 lastError() const { return lastError_; }
  // The network-event bits of the last wait: their union, and per socket.
  u32 events() const { return events_; }
  const std::vector<u32>& socketEvents() const { return socketEvents_; }
  const std::vector<zuPlatform::Socket>& listenSockets() const { return listenSockets_; }

  // Takes over a connected stream socket (closing what the endpoint had); the
  // peer address is left unset. Also the way to join two endpoints in one
  // process (zuConnectEndpointPair).
  bool adopt(zuPlatform::Socket socket);

 protected:
  // One wait over the sockets for the wanted events: 0 when events came,
  // 257 stopped, 258 time-out, 514 the peer closed, 516 an error was
  // reported.
  u16 waitForEvents(const std::vector<zuPlatform::Socket>& sockets, u32 wanted, u32 ms);
  u16 waitForSocket(zuPlatform::Socket socket, u32 wanted, u32 ms);
  bool stopRequested() const;
  // The host's addresses, from a lookup thread that the time-out and the stop
  // event cut short.
  u16 lookUp(const char* host, std::vector<zuPlatform::AddressInfo>& list);
  void noteError();
  // The connected socket (kInvalidSocket when not connected).
  zuPlatform::Socket connectedSocket() const { return socket_; }
  void takeAccepted(zuPlatform::Socket socket, const zuPlatform::SocketAddress& peer);

 private:
  zuPlatform::Socket socket_ = zuPlatform::kInvalidSocket;
  u32 family_ = zuPlatform::kFamilyAny;
  std::vector<zuPlatform::Socket> listenSockets_;
  // The connected peer, or the target of datagrams.
  zuPlatform::SocketAddress destination_;
  std::string hostName_;
  u32 lastError_ = 0;
  u32 events_ = 0;
  std::vector<u32> socketEvents_;
  // The stop event's handles, waited on with the sockets.
  std::vector<zuPlatform::Handle> waitHandles_;
};

// Joins two stream endpoints in this process through a socket pair, each
// taking one end; for tests of the layers above the endpoints.
bool zuConnectEndpointPair(zuIPEndpoint& first, zuIPEndpoint& second);
