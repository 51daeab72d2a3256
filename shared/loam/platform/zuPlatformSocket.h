#pragma once
// Sockets of the platform: BSD sockets standing in for Windows Sockets 2.
//
// The library keeps the Windows numbers for address families (0 any, 2 IPv4,
// 23 IPv6), option levels and names, and network-event bits; they become
// Linux values here only. Every socket is created non-blocking and
// close-on-exec, and IPv6 sockets are IPv6-only as on Windows, so an IPv4
// and an IPv6 socket can listen on the same port. Sends never raise SIGPIPE.
//
// A failing call stores its error in the thread's last error
// (zuPlatformError.h; read and cleared by lastSocketError):
// an errno value, except that a call that would block (or a connect still in
// progress) stores kErrorWouldBlock.
#include <span>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

using Socket = int;
inline constexpr Socket kInvalidSocket = -1;

inline constexpr u32 kFamilyAny = 0;
inline constexpr u32 kFamilyIPv4 = 2;
inline constexpr u32 kFamilyIPv6 = 23;

inline constexpr u32 kSocketStream = 1;
inline constexpr u32 kSocketDatagram = 2;
inline constexpr u32 kSocketRaw = 3;

inline constexpr u32 kProtocolICMP = 1;
inline constexpr u32 kProtocolTCP = 6;
inline constexpr u32 kProtocolUDP = 17;
inline constexpr u32 kProtocolICMPv6 = 58;

// Address lookup flags.
inline constexpr u32 kAddressPassive = 1;
inline constexpr u32 kAddressCanonicalName = 2;
inline constexpr u32 kAddressNumericHost = 4;

// Option levels and the options the library sets.
inline constexpr u32 kLevelSocket = 0xFFFF;
inline constexpr u32 kLevelIP = 0;
inline constexpr u32 kLevelIPv6 = 41;
inline constexpr u32 kLevelTCP = 6;
inline constexpr u32 kOptionReuseAddress = 4;     // at kLevelSocket
inline constexpr u32 kOptionTimeToLive = 4;       // at kLevelIP
inline constexpr u32 kOptionUnicastHopLimit = 4;  // at kLevelIPv6
inline constexpr u32 kOptionNoDelay = 1;          // at kLevelTCP

// Network-event bits.
inline constexpr u32 kEventRead = 1;
inline constexpr u32 kEventWrite = 2;
inline constexpr u32 kEventOutOfBand = 4;
inline constexpr u32 kEventAccept = 8;
inline constexpr u32 kEventConnect = 16;
inline constexpr u32 kEventClose = 32;
// One of the events carries an error code.
inline constexpr u32 kEventError = 0x100;
// The events could not be read.
inline constexpr u32 kEventEnumFailed = 0x200;

inline constexpr u32 kErrorWouldBlock = 10035;

// A socket address: IPv4 keeps its four octets in the first bytes of address.
struct SocketAddress {
  u32 family = kFamilyAny;
  u8 address[16]{};
  u16 port = 0;  // host order
  u32 flowInfo = 0;
  u32 scopeId = 0;
};

struct AddressHints {
  u32 flags = 0;
  u32 family = kFamilyAny;
  u32 socketType = 0;
  u32 protocol = 0;
};

struct AddressInfo {
  u32 flags = 0;
  u32 family = kFamilyAny;
  u32 socketType = 0;
  u32 protocol = 0;
  SocketAddress address;
  std::string canonicalName;
};

inline constexpr u32 kInterfaceUp = 1;

struct InterfaceAddress {
  SocketAddress address;
  u32 flags = 0;
};

// The socket library's process-wide start-up count. On this platform there
// is nothing to start; the count is kept all the same. Start-up fails (and
// leaves the count) only when the count is 0 and a failure was injected.
bool socketStartup();
// One start-up less; the count never goes below 0.
bool socketCleanup();
u32 socketStartupCount();
// Test seam: while set, a start-up from a count of 0 fails.
void failSocketStartupForTest(bool fail);

// The calling thread's last socket error; reading it resets it to 0.
u32 lastSocketError();

Socket createSocket(u32 family, u32 socketType, u32 protocol);
bool closeSocket(Socket socket);
bool shutdownSend(Socket socket);
bool setNonBlocking(Socket socket, bool nonBlocking);
// 0 when connected, kErrorWouldBlock while in progress, else the error.
u32 connectSocket(Socket socket, const SocketAddress& address);
bool bindSocket(Socket socket, const SocketAddress& address);
bool listenSocket(Socket socket, u32 backlog);
// The accepted socket (non-blocking, close-on-exec), or kInvalidSocket.
Socket acceptSocket(Socket socket, SocketAddress& peer);
// True when an accept error (lastSocketError) concerns one connection only:
// it was reset or aborted before it was taken, or another taker had it. The
// listening socket is fine and the wait may go on.
bool isTransientAcceptError(u32 error);
// Bytes moved, or -1 on failure. A stream receive of 0 means the peer has
// closed its side.
i64 sendSocket(Socket socket, const void* data, std::size_t count);
i64 sendToSocket(Socket socket, const void* data, std::size_t count, const SocketAddress& to);
i64 receiveSocket(Socket socket, void* buffer, std::size_t count);
i64 receiveFromSocket(Socket socket, void* buffer, std::size_t count, SocketAddress& from);
// False for an address the library cannot hold (not IPv4 or IPv6).
bool socketName(Socket socket, SocketAddress& address);
bool setSocketOption(Socket socket, u32 level, u32 name, i32 value);
bool getSocketOption(Socket socket, u32 level, u32 name, i32& value);
// Takes the socket's pending error (0 when there is none).
u32 takeSocketError(Socket socket);

// The IPv4 and IPv6 entries that the lookup gives, in its order. True on
// success (the list may still be empty); the error is kept otherwise.
bool getAddressInfo(const char* node, const char* service, const AddressHints& hints,
                    std::vector<AddressInfo>& out);
// The system's lookup itself, whatever the test seam says.
bool systemAddressInfo(const char* node, const char* service, const AddressHints& hints,
                       std::vector<AddressInfo>& out);
// Test seam: while set, getAddressInfo calls this instead (from any thread).
// Null restores the system's lookup. Returns the previous one.
using AddressLookup = bool (*)(const char* node, const char* service, const AddressHints& hints,
                               std::vector<AddressInfo>& out);
AddressLookup setAddressLookupForTest(AddressLookup lookup);
// The host name registered for the address; false when there is none.
bool nameOfAddress(const SocketAddress& address, std::string& name);
// The IPv4 and IPv6 addresses of the machine's interfaces.
bool interfaceAddresses(std::vector<InterfaceAddress>& out);

// Two connected stream sockets (local, non-blocking, close-on-exec).
bool socketPair(Socket& first, Socket& second);

struct SocketWaitEntry {
  Socket socket = kInvalidSocket;
  u32 wanted = 0;  // kEventRead, kEventWrite, kEventAccept, kEventConnect, kEventOutOfBand
  u32 events = 0;  // seen by the wait
  u32 error = 0;   // the code carried by the events (kEventError)
};

// One poll over the sockets and the handles: waits until a socket shows an
// event it asks for, or a hang-up or error, or a handle is signalled, or ms
// pass (0xFFFFFFFF: no limit). A socket that asks for reading or writing
// also hears of the peer's close (kEventClose). Fills every entry's events
// and error. Returns 0 when something is ready, kWaitTimeout, or kWaitFailed
// (every entry then has kEventEnumFailed).
i32 waitForSockets(std::span<SocketWaitEntry> sockets, std::span<const Handle> handles, u32 ms);

}  // namespace zuPlatform
