#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "loam/net/zuMemEndpoint.h"

namespace {

std::unique_ptr<u8[]> blockOf(const std::string& text) {
  auto block = std::make_unique<u8[]>(text.size());
  std::memcpy(block.get(), text.data(), text.size());
  return block;
}

TEST(zuMemEndpoint, ServesTheBlockThenReportsItsEnd) {
  zuMemEndpoint endpoint;
  endpoint.setBlock(blockOf("first line\r\nrest"), 16);
  char line[32];
  u32 length = sizeof line;
  ASSERT_EQ(endpoint.readLine(line, &length), 0);
  EXPECT_STREQ(line, "first line");

  // The block cannot fill this read: it takes what is left and ends, where
  // the unlimited time-out would otherwise wait for ever.
  char out[8] = {};
  EXPECT_EQ(endpoint.read(out, 8), zuErrConnectionBroken);
  EXPECT_EQ(std::string(out, 4), "rest");

  u32 n = sizeof out;
  EXPECT_EQ(endpoint.readSome(out, &n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(endpoint.bytesReceived(), 16u);
}

TEST(zuMemEndpoint, ClearFreesTheBlock) {
  zuMemEndpoint endpoint;
  endpoint.setBlock(blockOf("abc"), 3);
  endpoint.clear();
  char out[3];
  EXPECT_EQ(endpoint.read(out, 3), zuErrConnectionBroken);
  endpoint.setBlock(blockOf("xyz"), 3);
  EXPECT_EQ(endpoint.read(out, 3), 0);
  EXPECT_EQ(std::string(out, 3), "xyz");
}

TEST(zuMemEndpoint, DiscardsWritesWhileOpenAndRefusesThemClosed) {
  zuMemEndpoint endpoint;
  EXPECT_TRUE(endpoint.isOpen());
  EXPECT_EQ(endpoint.timeout(), zuNetEndpoint::kNoTimeout);
  EXPECT_EQ(endpoint.stopEvent(), nullptr);
  ASSERT_EQ(endpoint.write("pending", 7), 0);
  EXPECT_EQ(endpoint.close(), 0);  // flushes first
  EXPECT_EQ(endpoint.bytesSent(), 7u);
  EXPECT_FALSE(endpoint.isOpen());
  EXPECT_EQ(endpoint.sendRaw("x", 1), zuErrFailed);

  EXPECT_EQ(endpoint.connect(zuIPAddress(), 1), 0);
  EXPECT_TRUE(endpoint.isOpen());
  EXPECT_EQ(endpoint.sendRaw("x", 1), 0);
  endpoint.close();
  EXPECT_EQ(endpoint.listen(1, zuIPAddress()), 0);
  EXPECT_TRUE(endpoint.isOpen());
  endpoint.close();
  EXPECT_EQ(endpoint.connectTo("anything", 1), 0);
  EXPECT_TRUE(endpoint.isOpen());
}

TEST(zuMemEndpoint, OtherOperations) {
  zuMemEndpoint endpoint;
  endpoint.setBlock(blockOf("abc"), 3);
  EXPECT_EQ(endpoint.accept(), nullptr);
  EXPECT_EQ(endpoint.checkKeysAndHandshake(), zuErrNotAvailable);
  EXPECT_EQ(endpoint.reserved3(), zuErrNotAvailable);
  EXPECT_EQ(endpoint.reserved5(), zuErrNotAvailable);
  EXPECT_FALSE(endpoint.setPeerAddress(zuIPAddress("10.0.0.1")));

  std::unique_ptr<zuNetEndpoint> copy = endpoint.clone(nullptr, 5);
  ASSERT_NE(dynamic_cast<zuMemEndpoint*>(copy.get()), nullptr);
  EXPECT_TRUE(copy->isOpen());
  char out[1];
  EXPECT_EQ(copy->read(out, 1), zuErrConnectionBroken);  // empty, not a copy of the block
}

}  // namespace
