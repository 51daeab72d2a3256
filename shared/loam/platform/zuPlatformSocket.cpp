#include "loam/platform/zuPlatformSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformWait.h"

namespace zuPlatform {

namespace {

std::atomic<u32> g_startupCount{0};
std::atomic<bool> g_failStartup{false};
std::atomic<AddressLookup> g_addressLookup{nullptr};

// Windows' numbers for "host not found", "try again" and "no recovery".
constexpr u32 kErrorHostNotFound = 11001;
constexpr u32 kErrorTryAgain = 11002;
constexpr u32 kErrorNoRecovery = 11003;

// Socket errors share the thread's one last-error slot, as WSAGetLastError
// and GetLastError do.
void noteErrno() {
  const int e = errno;
  setLastError((e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS) ? kErrorWouldBlock
                                                                     : static_cast<u32>(e));
}

void noteError(u32 code) { setLastError(code); }

int toLinuxFamily(u32 family) {
  switch (family) {
    case kFamilyIPv4:
      return AF_INET;
    case kFamilyIPv6:
      return AF_INET6;
    default:
      return AF_UNSPEC;
  }
}

int toLinuxSocketType(u32 type) {
  switch (type) {
    case kSocketStream:
      return SOCK_STREAM;
    case kSocketDatagram:
      return SOCK_DGRAM;
    case kSocketRaw:
      return SOCK_RAW;
    default:
      return 0;
  }
}

u32 fromLinuxSocketType(int type) {
  switch (type) {
    case SOCK_STREAM:
      return kSocketStream;
    case SOCK_DGRAM:
      return kSocketDatagram;
    case SOCK_RAW:
      return kSocketRaw;
    default:
      return 0;
  }
}

int toLinuxAddressFlags(u32 flags) {
  int out = 0;
  if (flags & kAddressPassive) out |= AI_PASSIVE;
  if (flags & kAddressCanonicalName) out |= AI_CANONNAME;
  if (flags & kAddressNumericHost) out |= AI_NUMERICHOST;
  return out;
}

u32 fromLinuxAddressFlags(int flags) {
  u32 out = 0;
  if (flags & AI_PASSIVE) out |= kAddressPassive;
  if (flags & AI_CANONNAME) out |= kAddressCanonicalName;
  if (flags & AI_NUMERICHOST) out |= kAddressNumericHost;
  return out;
}

socklen_t toSockaddr(const SocketAddress& in, sockaddr_storage& out) {
  std::memset(&out, 0, sizeof out);
  if (in.family == kFamilyIPv4) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(in.port);
    std::memcpy(&v4->sin_addr, in.address, 4);
    return sizeof(sockaddr_in);
  }
  if (in.family == kFamilyIPv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(in.port);
    v6->sin6_flowinfo = htonl(in.flowInfo);
    std::memcpy(&v6->sin6_addr, in.address, 16);
    v6->sin6_scope_id = in.scopeId;
    return sizeof(sockaddr_in6);
  }
  return 0;
}

bool fromSockaddr(const sockaddr* in, socklen_t length, SocketAddress& out) {
  out = SocketAddress{};
  if (in == nullptr) return false;
  if (in->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    sockaddr_in v4;
    std::memcpy(&v4, in, sizeof v4);
    out.family = kFamilyIPv4;
    out.port = ntohs(v4.sin_port);
    std::memcpy(out.address, &v4.sin_addr, 4);
    return true;
  }
  if (in->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    sockaddr_in6 v6;
    std::memcpy(&v6, in, sizeof v6);
    out.family = kFamilyIPv6;
    out.port = ntohs(v6.sin6_port);
    out.flowInfo = ntohl(v6.sin6_flowinfo);
    std::memcpy(out.address, &v6.sin6_addr, 16);
    out.scopeId = v6.sin6_scope_id;
    return true;
  }
  return false;
}

// The library's option numbers as Linux's (level, name); false when unknown.
bool toLinuxOption(u32 level, u32 name, int& linuxLevel, int& linuxName) {
  if (level == kLevelSocket && name == kOptionReuseAddress) {
    linuxLevel = SOL_SOCKET;
    linuxName = SO_REUSEADDR;
    return true;
  }
  if (level == kLevelIP && name == kOptionTimeToLive) {
    linuxLevel = IPPROTO_IP;
    linuxName = IP_TTL;
    return true;
  }
  if (level == kLevelIPv6 && name == kOptionUnicastHopLimit) {
    linuxLevel = IPPROTO_IPV6;
    linuxName = IPV6_UNICAST_HOPS;
    return true;
  }
  if (level == kLevelTCP && name == kOptionNoDelay) {
    linuxLevel = IPPROTO_TCP;
    linuxName = TCP_NODELAY;
    return true;
  }
  return false;
}

using Clock = std::chrono::steady_clock;

// Only what the caller waits for: POLLOUT is level-triggered, so asking for
// it during a read wait would end every wait at once.
short pollEventsFor(u32 wanted) {
  short events = 0;
  if (wanted & (kEventRead | kEventAccept)) events |= POLLIN;
  if (wanted & kEventRead) events |= POLLRDHUP;
  if (wanted & (kEventWrite | kEventConnect)) events |= POLLOUT;
  if (wanted & kEventOutOfBand) events |= POLLPRI;
  return events;
}

void eventsFrom(Socket socket, short revents, SocketWaitEntry& entry) {
  u32 events = 0;
  u32 error = 0;
  if (revents & POLLNVAL) {
    entry.events = kEventEnumFailed;
    return;
  }
  if (entry.wanted & kEventConnect) {
    // A finished connect shows writable; a refused one also errs and hangs up.
    if (revents & (POLLOUT | POLLERR | POLLHUP)) {
      events |= kEventConnect;
      error = takeSocketError(socket);
    }
  } else {
    if ((entry.wanted & kEventRead) && (revents & POLLIN)) events |= kEventRead;
    if ((entry.wanted & kEventAccept) && (revents & POLLIN)) events |= kEventAccept;
    if ((entry.wanted & kEventWrite) && (revents & POLLOUT)) events |= kEventWrite;
    if ((entry.wanted & kEventOutOfBand) && (revents & POLLPRI)) events |= kEventOutOfBand;
    if ((entry.wanted & (kEventRead | kEventWrite)) && (revents & (POLLRDHUP | POLLHUP)))
      events |= kEventClose;
    if (revents & (POLLERR | ((entry.wanted & kEventAccept) ? POLLHUP : 0))) {
      error = takeSocketError(socket);
      // A listening socket that hangs up has no pending error of its own.
      if (error == 0 && (entry.wanted & kEventAccept)) error = EINVAL;
    }
  }
  if (error != 0) events |= kEventError;
  entry.events = events;
  entry.error = error;
}

}  // namespace

bool socketStartup() {
  u32 count = g_startupCount.load();
  for (;;) {
    if (count == 0 && g_failStartup.load()) return false;
    if (g_startupCount.compare_exchange_weak(count, count + 1)) return true;
  }
}

bool socketCleanup() {
  u32 count = g_startupCount.load();
  while (count != 0 && !g_startupCount.compare_exchange_weak(count, count - 1)) {
  }
  return true;
}

u32 socketStartupCount() { return g_startupCount.load(); }

void failSocketStartupForTest(bool fail) { g_failStartup.store(fail); }

u32 lastSocketError() {
  const u32 e = getLastError();
  setLastError(kErrorSuccess);
  return e;
}

Socket createSocket(u32 family, u32 socketType, u32 protocol) {
  const int domain = toLinuxFamily(family);
  const int type = toLinuxSocketType(socketType);
  if (domain == AF_UNSPEC || type == 0) {
    noteError(EAFNOSUPPORT);
    return kInvalidSocket;
  }
  OwnedHandle s(::socket(domain, type | SOCK_NONBLOCK | SOCK_CLOEXEC, static_cast<int>(protocol)));
  if (!s.valid()) {
    noteErrno();
    return kInvalidSocket;
  }
  if (domain == AF_INET6) {
    const int one = 1;
    if (::setsockopt(s.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) {
      noteErrno();
      return kInvalidSocket;
    }
  }
  return s.release();
}

bool isTransientAcceptError(u32 error) {
  // Linux reports the pending errors of the new connection through accept.
  switch (error) {
    case kErrorWouldBlock:
    case ECONNABORTED:
    case ECONNRESET:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ETIMEDOUT:
      return true;
    default:
      return false;
  }
}

bool closeSocket(Socket socket) {
  if (socket < 0) return true;
  // The descriptor is gone even when close reports an error; never retried.
  if (::close(socket) != 0) {
    noteErrno();
    return false;
  }
  return true;
}

bool shutdownSend(Socket socket) {
  if (::shutdown(socket, SHUT_WR) != 0) {
    noteErrno();
    return false;
  }
  return true;
}

bool setNonBlocking(Socket socket, bool nonBlocking) {
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0) {
    noteErrno();
    return false;
  }
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (::fcntl(socket, F_SETFL, wanted) != 0) {
    noteErrno();
    return false;
  }
  return true;
}

u32 connectSocket(Socket socket, const SocketAddress& address) {
  sockaddr_storage sa;
  const socklen_t length = toSockaddr(address, sa);
  if (length == 0) {
    noteError(EAFNOSUPPORT);
    return EAFNOSUPPORT;
  }
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&sa), length) == 0) return 0;
  // An interrupted connect goes on in the background, like one in progress.
  if (errno == EINTR) errno = EINPROGRESS;
  noteErrno();
  return getLastError();
}

bool bindSocket(Socket socket, const SocketAddress& address) {
  sockaddr_storage sa;
  const socklen_t length = toSockaddr(address, sa);
  if (length == 0) {
    noteError(EAFNOSUPPORT);
    return false;
  }
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&sa), length) != 0) {
    noteErrno();
    return false;
  }
  return true;
}

bool listenSocket(Socket socket, u32 backlog) {
  if (::listen(socket, static_cast<int>(std::min<u32>(backlog, INT_MAX))) != 0) {
    noteErrno();
    return false;
  }
  return true;
}

Socket acceptSocket(Socket socket, SocketAddress& peer) {
  sockaddr_storage sa;
  for (;;) {
    socklen_t length = sizeof sa;
    const Socket s = store::retryOnSignal([&] {
      return ::accept4(socket, reinterpret_cast<sockaddr*>(&sa), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    });
    if (s >= 0) {
      fromSockaddr(reinterpret_cast<const sockaddr*>(&sa), length, peer);
      return s;
    }
    noteErrno();
    return kInvalidSocket;
  }
}

i64 sendSocket(Socket socket, const void* data, std::size_t count) {
  const ssize_t n = store::retryOnSignal([&] { return ::send(socket, data, count, MSG_NOSIGNAL); });
  if (n < 0) noteErrno();
  return n;
}

i64 sendToSocket(Socket socket, const void* data, std::size_t count, const SocketAddress& to) {
  sockaddr_storage sa;
  const socklen_t length = toSockaddr(to, sa);
  if (length == 0) {
    noteError(EDESTADDRREQ);
    return -1;
  }
  const ssize_t n = store::retryOnSignal([&] {
    return ::sendto(socket, data, count, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                    length);
  });
  if (n < 0) noteErrno();
  return n;
}

i64 receiveSocket(Socket socket, void* buffer, std::size_t count) {
  const ssize_t n = store::retryOnSignal([&] { return ::recv(socket, buffer, count, 0); });
  if (n < 0) noteErrno();
  return n;
}

i64 receiveFromSocket(Socket socket, void* buffer, std::size_t count, SocketAddress& from) {
  sockaddr_storage sa;
  for (;;) {
    socklen_t length = sizeof sa;
    std::memset(&sa, 0, sizeof sa);
    const ssize_t n = store::retryOnSignal([&] {
      return ::recvfrom(socket, buffer, count, 0, reinterpret_cast<sockaddr*>(&sa), &length);
    });
    if (n >= 0) {
      fromSockaddr(reinterpret_cast<const sockaddr*>(&sa), length, from);
      return n;
    }
    noteErrno();
    return -1;
  }
}

bool socketName(Socket socket, SocketAddress& address) {
  sockaddr_storage sa;
  socklen_t length = sizeof sa;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    noteErrno();
    address = SocketAddress{};
    return false;
  }
  return fromSockaddr(reinterpret_cast<const sockaddr*>(&sa), length, address);
}

bool setSocketOption(Socket socket, u32 level, u32 name, i32 value) {
  int linuxLevel = 0;
  int linuxName = 0;
  if (!toLinuxOption(level, name, linuxLevel, linuxName)) {
    noteError(ENOPROTOOPT);
    return false;
  }
  const int v = value;
  if (::setsockopt(socket, linuxLevel, linuxName, &v, sizeof v) != 0) {
    noteErrno();
    return false;
  }
  return true;
}

bool getSocketOption(Socket socket, u32 level, u32 name, i32& value) {
  int linuxLevel = 0;
  int linuxName = 0;
  if (!toLinuxOption(level, name, linuxLevel, linuxName)) {
    noteError(ENOPROTOOPT);
    return false;
  }
  int v = 0;
  socklen_t length = sizeof v;
  if (::getsockopt(socket, linuxLevel, linuxName, &v, &length) != 0) {
    noteErrno();
    return false;
  }
  value = v;
  return true;
}

u32 takeSocketError(Socket socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
    return static_cast<u32>(errno);
  return static_cast<u32>(error);
}

bool getAddressInfo(const char* node, const char* service, const AddressHints& hints,
                    std::vector<AddressInfo>& out) {
  const AddressLookup lookup = g_addressLookup.load();
  if (lookup != nullptr) return lookup(node, service, hints, out);
  return systemAddressInfo(node, service, hints, out);
}

AddressLookup setAddressLookupForTest(AddressLookup lookup) {
  return g_addressLookup.exchange(lookup);
}

bool systemAddressInfo(const char* node, const char* service, const AddressHints& hints,
                       std::vector<AddressInfo>& out) {
  out.clear();
  addrinfo want{};
  want.ai_flags = toLinuxAddressFlags(hints.flags);
  want.ai_family = toLinuxFamily(hints.family);
  want.ai_socktype = toLinuxSocketType(hints.socketType);
  want.ai_protocol = static_cast<int>(hints.protocol);
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(node, service, &want, &list);
  if (rc != 0) {
    switch (rc) {
      case EAI_SYSTEM:
        noteErrno();
        break;
      case EAI_AGAIN:
        noteError(kErrorTryAgain);
        break;
      case EAI_NONAME:
      case EAI_NODATA:
      case EAI_FAIL:
        noteError(kErrorHostNotFound);
        break;
      default:
        noteError(kErrorNoRecovery);
        break;
    }
    return false;
  }
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    AddressInfo info;
    if (!fromSockaddr(a->ai_addr, a->ai_addrlen, info.address)) continue;
    info.flags = fromLinuxAddressFlags(a->ai_flags);
    info.family = info.address.family;
    info.socketType = fromLinuxSocketType(a->ai_socktype);
    info.protocol = static_cast<u32>(a->ai_protocol);
    if (a->ai_canonname != nullptr) info.canonicalName = a->ai_canonname;
    out.push_back(std::move(info));
  }
  ::freeaddrinfo(list);
  return true;
}

bool nameOfAddress(const SocketAddress& address, std::string& name) {
  name.clear();
  sockaddr_storage sa;
  const socklen_t length = toSockaddr(address, sa);
  if (length == 0) {
    noteError(EAFNOSUPPORT);
    return false;
  }
  char host[NI_MAXHOST];
  const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), length, host, sizeof host,
                               nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    noteError(rc == EAI_AGAIN ? kErrorTryAgain : kErrorHostNotFound);
    return false;
  }
  name = host;
  return true;
}

bool interfaceAddresses(std::vector<InterfaceAddress>& out) {
  out.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    noteErrno();
    return false;
  }
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr) continue;
    const socklen_t length = i->ifa_addr->sa_family == AF_INET    ? sizeof(sockaddr_in)
                             : i->ifa_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                                  : 0;
    InterfaceAddress entry;
    if (length == 0 || !fromSockaddr(i->ifa_addr, length, entry.address)) continue;
    if (i->ifa_flags & IFF_UP) entry.flags |= kInterfaceUp;
    out.push_back(entry);
  }
  ::freeifaddrs(list);
  return true;
}

bool socketPair(Socket& first, Socket& second) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    noteErrno();
    first = second = kInvalidSocket;
    return false;
  }
  first = fds[0];
  second = fds[1];
  return true;
}

i32 waitForSockets(std::span<SocketWaitEntry> sockets, std::span<const Handle> handles, u32 ms) {
  std::vector<pollfd> fds;
  fds.reserve(sockets.size() + handles.size());
  for (SocketWaitEntry& entry : sockets) {
    entry.events = 0;
    entry.error = 0;
    fds.push_back(pollfd{entry.socket, pollEventsFor(entry.wanted), 0});
  }
  for (Handle h : handles) fds.push_back(pollfd{h, POLLIN, 0});

  const auto fail = [&] {
    for (SocketWaitEntry& entry : sockets) entry.events = kEventEnumFailed;
    return kWaitFailed;
  };
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int n = store::pollFor(fds, pollSlice(ms, end));
    if (n < 0) {
      noteErrno();
      return fail();
    }
    if (n > 0) {
      for (std::size_t i = sockets.size(); i < fds.size(); ++i) {
        if (fds[i].revents & POLLNVAL) {
          noteError(EBADF);
          return fail();
        }
      }
      for (std::size_t i = 0; i < sockets.size(); ++i)
        if (fds[i].revents != 0) eventsFrom(sockets[i].socket, fds[i].revents, sockets[i]);
      return 0;
    }
    if (ms != kWaitForever && Clock::now() >= end) return kWaitTimeout;
  }
}

}  // namespace zuPlatform
