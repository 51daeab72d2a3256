#include "loam/net/zuIPEndpoint.h"

#include <algorithm>
#include <new>
#include <string>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/base/zuTimer.h"
#include "loam/net/zuConnectLookupThread.h"
#include "loam/net/zuNetStatus.h"
#include "loam/net/zuSocket.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuEvent.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuThread.h"

namespace zu = zuPlatform;

namespace {

bool usableFamily(u32 family, u32 filter) {
  if (family != zu::kFamilyIPv4 && family != zu::kFamilyIPv6) return false;
  return filter == 0 || family == filter;
}

// The time left of a time-out after elapsed ms; none left gives 0.
u32 timeLeft(u32 timeout, u32 elapsed) {
  if (timeout == zuNetEndpoint::kNoTimeout) return timeout;
  return elapsed >= timeout ? 0 : timeout - elapsed;
}

}  // namespace

zuIPEndpoint::zuIPEndpoint(zuEvent* stopEvent, u32 timeout) : zuNetEndpoint(stopEvent, timeout) {
  // Nothing to create here: the sockets themselves are waited on.
  zuIPEndpoint::setStopEvent(stopEvent);
}

zuIPEndpoint::~zuIPEndpoint() { zuIPEndpoint::close(); }

bool zuIPEndpoint::setStopEvent(zuEvent* stopEvent) {
  zuNetEndpoint::setStopEvent(stopEvent);
  waitHandles_.clear();
  if (stopEvent != nullptr) stopEvent->collectHandles(waitHandles_);
  return true;
}

bool zuIPEndpoint::stopRequested() const { return stopEvent() != nullptr && stopEvent()->isSet(); }

void zuIPEndpoint::noteError() { lastError_ = zu::lastSocketError(); }

u16 zuIPEndpoint::waitForEvents(const std::vector<zu::Socket>& sockets, u32 wanted, u32 ms) {
  socketEvents_.assign(sockets.size(), 0);
  events_ = 0;
  std::vector<zu::SocketWaitEntry> entries(sockets.size());
  for (u32 pass = 1;; ++pass) {
    for (std::size_t i = 0; i < sockets.size(); ++i) entries[i] = {sockets[i], wanted, 0, 0};
    const i32 result = zu::waitForSockets(entries, waitHandles_, ms);
    const bool timedOut = result == zu::kWaitTimeout;
    if (!timedOut) {
      if (stopRequested()) return zuErrStopped;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].error != 0) lastError_ = entries[i].error;
        socketEvents_[i] = entries[i].events;
        events_ |= entries[i].events;
      }
    }
    // A wake-up that brought nothing (a pulsed stop event) waits again, a
    // few times at most.
    if (timedOut || events_ != 0 || pass == 3) {
      if (events_ & zu::kEventClose) return zuErrConnectionBroken;
      if (events_ & (zu::kEventError | zu::kEventEnumFailed)) return zuErrNetwork;
      return events_ != 0 ? 0 : zuErrTimeout;
    }
  }
}

u16 zuIPEndpoint::waitForSocket(zu::Socket socket, u32 wanted, u32 ms) {
  return waitForEvents(std::vector<zu::Socket>{socket}, wanted, ms);
}

u16 zuIPEndpoint::connect(const zuIPAddress& address, u16 port) {
  peerAddress_ = address;
  peerPort_ = port;
  const std::string portText = std::to_string(port);
  const std::string addressText = address.toString();
  zu::AddressHints hints = zuMakeAddressHints(kind_, address, family_);
  if (kind_ == kKindRaw) hints.flags |= zu::kAddressPassive;

  std::vector<zu::AddressInfo> list;
  if (!zu::getAddressInfo(addressText.c_str(), port != 0 ? portText.c_str() : nullptr, hints,
                          list)) {
    noteError();
    return zuErrFailed;
  }
  if (isOpen()) return 0;

  for (const zu::AddressInfo& entry : list) {
    if (!usableFamily(entry.family, family_)) continue;
    zu::OwnedHandle s(zu::createSocket(entry.family, entry.socketType, entry.protocol));
    if (!s.valid()) {
      noteError();
      continue;
    }
    if (kind_ == kKindStream) {
      const u32 started = zu::connectSocket(s.get(), entry.address);
      if (started != 0 && started != zu::kErrorWouldBlock) {
        noteError();
        continue;
      }
      const u16 waited = waitForSocket(s.get(), zu::kEventConnect, timeout());
      if (waited != 0) {
        if (stopRequested()) return zuErrStopped;
        continue;
      }
    } else if (kind_ == kKindRaw) {
      zu::SocketAddress any;
      any.family = entry.family;
      if (!zu::bindSocket(s.get(), any)) {
        noteError();
        continue;
      }
    }
    socket_ = s.release();
    destination_ = entry.address;
    break;
  }
  return isOpen() ? 0 : zuErrFailed;
}

u16 zuIPEndpoint::connectTo(const char* host, u16 port) {
  if (port == 0) return zuErrFailed;
  zuIPAddress numeric;
  if (host != nullptr && numeric.fromString(host)) return connect(numeric, port);

  std::vector<zu::AddressInfo> list;
  const u16 looked = lookUp(host, list);
  if (looked != 0) return looked;
  u16 result = zuErrFailed;
  for (const zu::AddressInfo& entry : list) {
    const zuIPAddress a = zuFromSocketAddress(entry.address);
    if (!a.isValid()) {
      result = zuErrFailed;
      continue;
    }
    // Through the virtual call, so a subclass adds its own steps.
    result = connect(a, port);
    if (result == 0) break;
  }
  return result;
}

u16 zuIPEndpoint::lookUp(const char* host, std::vector<zu::AddressInfo>& list) {
  try {
    zuConnectLookupThread lookup(host);
    if (!lookup.begin()) return kzuCodeMemoryExhausted;
    zuMultiEvent events(lookup.finishedEvent(), stopEvent());
    const bool timedOut = zuThread::waitForObjects(timeout(), &events);
    u16 status = 0;
    if (timedOut) {
      status = zuErrTimeout;
    } else if (lookup.finishedEvent()->isSet()) {
      status = lookup.lastError().code();
      if (status == 0) list = lookup.takeResult();
    }
    // A lookup still running is left to finish alone.
    lookup.terminate();
    if (status == 0 && stopRequested()) status = zuErrStopped;
    return status;
  } catch (const zuException& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return kzuCodeMemoryExhausted;
  }
}

u16 zuIPEndpoint::listen(u16 port, const zuIPAddress& bindAddress) {
  localPort_ = port;
  localAddress_ = bindAddress;
  zu::AddressHints hints = zuMakeAddressHints(kind_, bindAddress, family_);
  hints.flags |= zu::kAddressPassive;
  const std::string addressText = bindAddress.toString();
  const char* node =
      hints.family != zu::kFamilyAny && bindAddress.isValid() ? addressText.c_str() : nullptr;

  std::vector<zu::AddressInfo> list;
  if (!zu::getAddressInfo(node, std::to_string(port).c_str(), hints, list)) {
    noteError();
    return zuErrFailed;
  }
  bool createFailed = false;
  u16 boundPort = port;
  for (const zu::AddressInfo& entry : list) {
    if (!usableFamily(entry.family, family_)) continue;
    zu::OwnedHandle s(zu::createSocket(entry.family, entry.socketType, entry.protocol));
    if (!s.valid()) {
      noteError();
      createFailed = true;
      continue;
    }
    zu::SocketAddress at = entry.address;
    at.port = boundPort;
    const bool ok = (kind_ != kKindStream ||
                     zu::setSocketOption(s.get(), zu::kLevelSocket, zu::kOptionReuseAddress, 1)) &&
                    zu::bindSocket(s.get(), at) &&
                    (kind_ != kKindStream || zu::listenSocket(s.get(), kListenBacklog));
    if (!ok) {
      noteError();
      continue;
    }
    // A port picked by the system is shared by every socket that follows.
    if (boundPort == 0) {
      zu::SocketAddress bound;
      if (zu::socketName(s.get(), bound)) boundPort = bound.port;
    }
    listenSockets_.push_back(s.get());  // may throw: s still owns the socket
    (void)s.release();
  }
  if (!listenSockets_.empty()) {
    localPort_ = boundPort;
    return 0;
  }
  return createFailed ? zuErrFailed : zuErrNetwork;
}

std::unique_ptr<zuNetEndpoint> zuIPEndpoint::accept() {
  if (listenSockets_.empty()) return nullptr;
  const zuTimer timer;
  for (;;) {
    const u32 wait = timeLeft(timeout(), timer.elapsed());
    if (waitForEvents(listenSockets_, zu::kEventAccept, wait) != 0) return nullptr;
    const std::vector<u32> ready = socketEvents_;
    for (std::size_t i = 0; i < listenSockets_.size(); ++i) {
      if (!(ready[i] & zu::kEventAccept)) continue;
      zu::SocketAddress peer;
      zu::OwnedHandle s(zu::acceptSocket(listenSockets_[i], peer));
      if (!s.valid()) {
        noteError();
        if (zu::isTransientAcceptError(lastError_)) continue;
        return nullptr;
      }
      if (family_ != 0 && peer.family != family_) continue;
      std::unique_ptr<zuNetEndpoint> copy = clone(stopEvent(), timeout());  // may throw
      auto* ip = dynamic_cast<zuIPEndpoint*>(copy.get());
      if (ip == nullptr) continue;
      ip->takeAccepted(s.release(), peer);
      return copy;
    }
    if (timeout() != kNoTimeout && timer.elapsed() >= timeout()) return nullptr;
  }
}

void zuIPEndpoint::takeAccepted(zu::Socket socket, const zu::SocketAddress& peer) {
  close();
  socket_ = socket;
  destination_ = peer;
  peerAddress_ = zuFromSocketAddress(peer);
  peerPort_ = peer.port;
}

bool zuIPEndpoint::adopt(zu::Socket socket) {
  if (socket == zu::kInvalidSocket) return false;
  zu::SocketAddress none;
  takeAccepted(socket, none);
  return true;
}

u16 zuIPEndpoint::close() {
  flush();
  if (socket_ != zu::kInvalidSocket) {
    zu::shutdownSend(socket_);
    zu::closeSocket(socket_);
    socket_ = zu::kInvalidSocket;
  }
  for (zu::Socket s : listenSockets_) {
    zu::shutdownSend(s);
    zu::closeSocket(s);
  }
  listenSockets_.clear();
  // What these calls leave behind is no error of a later operation.
  zu::lastSocketError();
  return 0;
}

u16 zuIPEndpoint::receiveRaw(void* buffer, u32* count) {
  const u32 room = *count;
  *count = 0;
  if (!isOpen()) return zuErrFailed;
  // recv of nothing returns 0, the stream's end: it must not be asked.
  if (room == 0) return 0;
  const zuTimer timer;
  for (;;) {
    zu::SocketAddress from;
    const i64 n = kind_ == kKindStream ? zu::receiveSocket(socket_, buffer, room)
                                       : zu::receiveFromSocket(socket_, buffer, room, from);
    if (n > 0 || (n == 0 && kind_ != kKindStream)) {
      *count = static_cast<u32>(n);
      if (kind_ != kKindStream) {
        peerAddress_ = zuFromSocketAddress(from);
        peerPort_ = from.port;
      }
      return 0;
    }
    if (n == 0) return zuErrConnectionBroken;  // the peer has closed its side
    noteError();
    if (lastError_ != zu::kErrorWouldBlock) return zuErrConnectionBroken;

    if (stopRequested()) return zuErrStopped;
    const u32 elapsed = timer.elapsed();
    if (timeout() != kNoTimeout && elapsed >= timeout()) return zuErrTimeout;
    const u16 waited = waitForSocket(socket_, zu::kEventRead, timeLeft(timeout(), elapsed));
    if (waited == 0) continue;
    if (!(events_ & zu::kEventClose)) return waited;
    // Bytes that came before the close are still delivered.
    if (!(events_ & zu::kEventRead)) return zuErrConnectionBroken;
  }
}

u16 zuIPEndpoint::sendRaw(const void* data, u32 count) {
  if (!isOpen()) return zuErrFailed;
  const zuTimer timer;
  const u8* next = static_cast<const u8*>(data);
  u32 left = count;
  while (left != 0) {
    i64 n = kind_ == kKindStream ? zu::sendSocket(socket_, next, left)
                                 : zu::sendToSocket(socket_, next, left, destination_);
    if (n < 0) {
      noteError();
      if (lastError_ != zu::kErrorWouldBlock) return zuErrConnectionBroken;
      n = 0;
    }
    next += n;
    left -= static_cast<u32>(n);
    if (left == 0) break;
    if (stopRequested()) return zuErrStopped;
    const u32 elapsed = timer.elapsed();
    if (timeout() != kNoTimeout && elapsed >= timeout()) return zuErrTimeout;
    const u16 waited = waitForSocket(socket_, zu::kEventWrite, timeLeft(timeout(), elapsed));
    if (waited != 0 && waited != zuErrTimeout) return waited;
  }
  return 0;
}

zuIPAddress zuIPEndpoint::address() const {
  if (isOpen()) {
    zu::SocketAddress own;
    if (zu::socketName(socket_, own)) {
      const zuIPAddress a = zuFromSocketAddress(own);
      if (a.isValid()) return a;
    }
    zu::lastSocketError();
  }
  return localAddress_;
}

bool zuIPEndpoint::setPeerAddress(const zuIPAddress& address) {
  if (kind_ == kKindStream) return false;
  peerAddress_ = address;
  destination_ = zuToSocketAddress(address, peerPort_);
  return true;
}

void zuIPEndpoint::localAddresses(std::vector<zuIPAddress>& addresses) {
  addresses.clear();
  std::vector<zu::InterfaceAddress> interfaces;
  if (!zu::interfaceAddresses(interfaces)) {
    noteError();
    return;
  }
  for (const zu::InterfaceAddress& i : interfaces) {
    if (i.address.family != zu::kFamilyIPv4 || !(i.flags & zu::kInterfaceUp)) continue;
    const zuIPAddress a = zuFromSocketAddress(i.address);
    if (a.isValid()) addresses.push_back(a);
  }
}

std::unique_ptr<zuNetEndpoint> zuIPEndpoint::clone(zuEvent* stopEvent, u32 timeout) {
  return std::make_unique<zuIPEndpoint>(stopEvent, timeout);
}

u16 zuIPEndpoint::setOption(u16 value) {
  if (!isOpen()) return zuErrFailed;
  const bool v4 = destination_.family == zu::kFamilyIPv4;
  if (!zu::setSocketOption(socket_, v4 ? zu::kLevelIP : zu::kLevelIPv6,
                           v4 ? zu::kOptionTimeToLive : zu::kOptionUnicastHopLimit, value)) {
    noteError();
    return zuErrNetwork;
  }
  return 0;
}

u16 zuIPEndpoint::getOption(u16* value) {
  if (!isOpen()) return zuErrFailed;
  const bool v4 = destination_.family == zu::kFamilyIPv4;
  i32 raw = 0;
  if (!zu::getSocketOption(socket_, v4 ? zu::kLevelIP : zu::kLevelIPv6,
                           v4 ? zu::kOptionTimeToLive : zu::kOptionUnicastHopLimit, raw)) {
    noteError();
    return zuErrNetwork;
  }
  *value = static_cast<u16>(raw);
  return 0;
}

u16 zuIPEndpoint::resolveHost(const char* name, std::vector<zuIPAddress>& addresses) {
  addresses.clear();
  std::vector<zu::AddressInfo> list;
  const u16 status = zuResolveHost(name, list);
  if (status != 0) return status;
  for (const zu::AddressInfo& entry : list)
    if (entry.family == zu::kFamilyIPv4 || entry.family == zu::kFamilyIPv6)
      addresses.push_back(zuFromSocketAddress(entry.address));
  return 0;
}

u16 zuIPEndpoint::reverseLookup(const zuIPAddress& address, std::vector<std::string>& names) {
  names.clear();
  if (!address.isValid()) return zuErrFailed;
  std::string name;
  if (!zu::nameOfAddress(zuToSocketAddress(address, 0), name)) {
    zu::lastSocketError();
    return zuErrHostLookup;
  }
  names.push_back(name);
  return 0;
}

bool zuConnectEndpointPair(zuIPEndpoint& first, zuIPEndpoint& second) {
  zu::Socket a = zu::kInvalidSocket;
  zu::Socket b = zu::kInvalidSocket;
  if (!zu::socketPair(a, b)) return false;
  first.adopt(a);
  second.adopt(b);
  return true;
}
