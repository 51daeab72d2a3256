// The SSH client's handshake against servers that misbehave: one that never
// answers, and one that disconnects at once.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "loam/base/zuTimer.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/terminal/zuSSH.h"

namespace {

const zuIPAddress kLoopback("127.0.0.1");

TEST(SSHHandshake, ServerThatNeverAnswersTimesOutAsAWhole) {
  zuTCPEndpoint listener(nullptr, 5000);
  ASSERT_EQ(listener.listen(0, kLoopback), 0);
  zuSSH ssh(nullptr);
  ssh.setPort(listener.localPort());
  const zuTimer timer;
  // The kernel completes the TCP connection; nothing ever answers on it.
  EXPECT_FALSE(ssh.connect(kLoopback, "u", "p", 300));
  EXPECT_EQ(ssh.status(), zuErrTimeout);
  EXPECT_LT(timer.elapsed(), 5000u);
  EXPECT_FALSE(ssh.isConnected());
  EXPECT_TRUE(ssh.disconnect());
}

std::string u32be(u32 v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

TEST(SSHHandshake, DisconnectDuringTheHandshakeGives515) {
  zuTCPEndpoint listener(nullptr, 10000);
  ASSERT_EQ(listener.listen(0, kLoopback), 0);
  std::thread server([&] {
    std::unique_ptr<zuNetEndpoint> peer = listener.accept();
    if (!peer) return;
    // Takes the client's identification and KEXINIT first, so the client's
    // own writes cannot meet the closed connection.
    char line[256];
    u32 length = sizeof line;
    if (peer->readLine(line, &length) != 0) return;
    u32 packetLength = 0;
    if (peer->readU32(packetLength) != 0 || packetLength > 0x20000) return;
    std::string rest(packetLength, '\0');
    if (peer->read(rest.data(), packetLength) != 0) return;
    // A plain DISCONNECT packet: reason 11, "bye", no language.
    const std::string payload = std::string(1, '\x01') + u32be(11) + u32be(3) + "bye" + u32be(0);
    const std::size_t padding = 8 - (4 + 1 + payload.size()) % 8 + 8;
    const std::string packet = u32be(static_cast<u32>(1 + payload.size() + padding)) +
                               static_cast<char>(padding) + payload + std::string(padding, '\0');
    const std::string bytes = "SSH-2.0-fake\r\n" + packet;
    peer->write(bytes.data(), static_cast<u32>(bytes.size()));
    peer->flush();
    peer->close();
  });
  zuSSH ssh(nullptr);
  ssh.setPort(listener.localPort());
  EXPECT_FALSE(ssh.connect(kLoopback, "u", "p", 10000));
  server.join();
  EXPECT_EQ(ssh.status(), zuErrFailed);
  std::string text;
  EXPECT_EQ(ssh.lastError().format(text),
            "connection disconnected. The server said: bye (SSH_DISCONNECT_BY_APPLICATION)");
  ASSERT_NE(ssh.session(), nullptr);
  EXPECT_EQ(ssh.session()->manager().disconnectReason(), 11u);
  EXPECT_EQ(ssh.session()->manager().disconnectDescription(), "bye");
}

TEST(SSHHandshake, WithoutAConnection) {
  zuSSH ssh(nullptr);
  EXPECT_EQ(ssh.port(), 22);
  u32 number = 0;
  EXPECT_FALSE(ssh.openChannel("session", number));
  EXPECT_EQ(ssh.send("ls"), zuErrFailed);
  EXPECT_EQ(ssh.receive(nullptr, '\n', true), zuErrFailed);
  u32 size = 7;
  std::string sink;
  std::ostringstream out;
  EXPECT_FALSE(ssh.scpGet("/x", size, out));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(ssh.status(), zuErrFailed);
  std::istringstream in("x");
  EXPECT_FALSE(ssh.scpPut("/x", in));
  EXPECT_EQ(ssh.status(), zuErrFailed);
}

}  // namespace
