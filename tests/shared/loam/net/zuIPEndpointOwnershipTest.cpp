// The accepted socket is owned before anything can throw: a failure while the
// endpoint for it is made closes it, and the peer sees the end at once.
#include <gtest/gtest.h>

#include <memory>
#include <new>

#include "loam/net/zuNetStatus.h"
#include "loam/net/zuTCPEndpoint.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBound = static_cast<u32>(tw::test::kFailBound.count());

// A listener that cannot make the endpoint for a new connection.
class CloneFails : public zuTCPEndpoint {
 public:
  using zuTCPEndpoint::zuTCPEndpoint;
  std::unique_ptr<zuNetEndpoint> clone(zuEvent*, u32) override { throw std::bad_alloc(); }
};

TEST(zuIPEndpointOwnership, AcceptThatThrowsClosesTheNewConnection) {
  CloneFails listener(nullptr, kBound);
  ASSERT_EQ(listener.listen(0, zuIPAddress("127.0.0.1")), 0);
  zuTCPEndpoint client(nullptr, kBound);
  ASSERT_EQ(client.connect(zuIPAddress("127.0.0.1"), listener.localPort()), 0);
  EXPECT_THROW(listener.accept(), std::bad_alloc);
  // A leaked socket would keep the connection open until the bound ran out.
  char byte = 0;
  EXPECT_EQ(client.read(&byte, 1), zuErrConnectionBroken);
}

}  // namespace
