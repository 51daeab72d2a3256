#pragma once
// Socket helpers of the IP endpoints: the process-wide start-up count, name
// lookup, address hints and the conversion between the library's addresses
// and socket addresses.
#include <vector>

#include "loam/net/zuIPAddress.h"
#include "loam/platform/zuPlatformSocket.h"
#include "loam/platform/zuTypes.h"

// Counted start-up of the socket library; false when it cannot be started
// ("Unable to start network library."). Cleanup gives one start-up back (the
// count never drops below 0); the library stays started until the process
// ends.
bool zuSocketStartup();
bool zuSocketCleanup();

// 515 for a null or empty name; else the stream addresses of the name, 0
// when there is at least one, 518 otherwise.
u16 zuResolveHost(const char* name, std::vector<zuPlatform::AddressInfo>& result);
// 515 when the address is not set; else the lookup of its numeric text.
u16 zuResolveNumericHost(const zuIPAddress& address, std::vector<zuPlatform::AddressInfo>& result);

bool zuSetNonBlocking(zuPlatform::Socket socket, bool nonBlocking);

// Hints for looking up an address of an endpoint kind (0 raw ICMP, 1 UDP,
// 2 TCP) numerically; the family is the filter when it is not 0, else that
// of the address (none for an address that is not set).
zuPlatform::AddressHints zuMakeAddressHints(u32 kind, const zuIPAddress& address, u32 familyFilter);

zuPlatform::SocketAddress zuToSocketAddress(const zuIPAddress& address, u16 port);
zuIPAddress zuFromSocketAddress(const zuPlatform::SocketAddress& address);
