#include "sshlib/Encoding.h"

#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include <functional>

#include "sshlib/Err.h"
#include "SSHTestSupport.h"

namespace {

using CryptoPP::ByteQueue;
using CryptoPP::Integer;
using sshtest::contents;
using sshtest::disconnectOf;
using sshtest::queueOf;

// The values of the RFC's table are hexadecimal (its "-1234" is -0x1234).
TEST(SSHEncoding, MPIntExamplesOfRfc4251) {
  struct Case {
    Integer value;
    std::string wire;
  };
  const Case cases[] = {
      {Integer::Zero(), std::string("\0\0\0\0", 4)},
      {Integer("0x9a378f9b2e332a7"),
       std::string("\0\0\0\x08\x09\xa3\x78\xf9\xb2\xe3\x32\xa7", 12)},
      {Integer(128), std::string("\0\0\0\x02\x00\x80", 6)},
      {Integer("-0x1234"), std::string("\0\0\0\x02\xed\xcc", 6)},
      {Integer("-0xdeadbeef"), std::string("\0\0\0\x05\xff\x21\x52\x41\x11", 9)},
      {Integer(-1), std::string("\0\0\0\x01\xff", 5)},
  };
  for (const auto& c : cases) {
    ByteQueue q;
    SSH::putMPInt(q, c.value);
    EXPECT_EQ(contents(q), c.wire) << c.value;
    Integer back(99);
    SSH::getMPInt(q, back);
    EXPECT_EQ(back, c.value);
    EXPECT_EQ(q.MaxRetrievable(), 0u);
  }
}

TEST(SSHEncoding, NonNegativeMPIntRefusesNegativeValues) {
  ByteQueue negative = queueOf(std::string("\0\0\0\x01\xff", 5));
  Integer v;
  EXPECT_EQ(disconnectOf([&] { SSH::getNonNegativeMPInt(negative, v); }), "negative mpint");
  ByteQueue positive = queueOf(std::string("\0\0\0\x02\x00\x80", 6));
  SSH::getNonNegativeMPInt(positive, v);
  EXPECT_EQ(v, Integer(128));
}

TEST(SSHEncoding, ScalarsAndStringsRoundTrip) {
  ByteQueue q;
  SSH::putByte(q, 0xAB);
  SSH::putBoolean(q, true);
  SSH::putUInt32(q, 0x01020304);
  SSH::putStdString(q, "ssh-rsa");
  SSH::putText(q, "ab");
  SSH::putString(q, nullptr, 0);
  EXPECT_EQ(contents(q), std::string("\xAB\x01\x01\x02\x03\x04\0\0\0\x07ssh-rsaab\0\0\0\0", 23));
  ByteQueue in = queueOf(contents(q));
  EXPECT_EQ(SSH::getByte(in), 0xAB);
  EXPECT_TRUE(SSH::getBoolean(in));
  EXPECT_EQ(SSH::getUInt32(in), 0x01020304u);
  std::string text;
  SSH::getStdString(in, text);
  EXPECT_EQ(text, "ssh-rsa");
}

TEST(SSHEncoding, AnyNonZeroByteIsTrue) {
  ByteQueue q = queueOf("\x02\x00");
  EXPECT_TRUE(SSH::getBoolean(q));
}

TEST(SSHEncoding, QueueStringsCopyWithoutConsuming) {
  ByteQueue source = queueOf("hello");
  ByteQueue sink;
  SSH::putQueueString(sink, source);
  EXPECT_EQ(SSH::putQueueString(sink, source, 3), 3u);
  EXPECT_EQ(SSH::putQueueString(sink, source, 10), 5u);
  EXPECT_EQ(source.MaxRetrievable(), 5u);
  EXPECT_EQ(contents(sink), std::string("\0\0\0\x05hello\0\0\0\x03hel\0\0\0\x05hello", 25));

  ByteQueue target;
  SSH::getQueueString(sink, target);
  EXPECT_EQ(contents(target), "hello");
  CryptoPP::SecByteBlock block;
  SSH::getString(sink, block);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), block.size()), "hel");
}

TEST(SSHEncoding, ShortReadsAreUnexpectedEndOfPacket) {
  CryptoPP::SecByteBlock block;
  std::string text;
  Integer i;
  CryptoPP::byte cookie[SSH::kCookieSize];
  ByteQueue q;
  const std::function<void()> reads[] = {
      [&] { q = queueOf(""); SSH::getByte(q); },
      [&] { q = queueOf("abc"); SSH::getUInt32(q); },
      [&] { q = queueOf(std::string(15, 'c')); SSH::getCookie(q, cookie); },
      [&] { q = queueOf(std::string("\0\0\0\x05" "abc", 7)); SSH::getString(q, block); },
      [&] { q = queueOf(std::string("\0\0\0\x05" "abc", 7)); SSH::getStdString(q, text); },
      [&] { q = queueOf(std::string("\0\0\0\x02" "a", 5)); SSH::getMPInt(q, i); },
      [&] { q = queueOf(std::string("\0\0\0", 3)); SSH::getMPInt(q, i); },
      [&] { ByteQueue t; q = queueOf(std::string("\0\0\0\x09", 4)); SSH::getQueueString(q, t); },
  };
  for (const auto& read : reads) EXPECT_EQ(disconnectOf(read), "unexpected end of packet");
}

TEST(SSHEncoding, HugeLengthFieldIsRefusedWithoutAllocating) {
  // A peer's 4 GiB length must fail on the bytes available, not on memory.
  ByteQueue q = queueOf(std::string("\xff\xff\xff\xff" "abc", 7));
  CryptoPP::SecByteBlock block;
  EXPECT_EQ(disconnectOf([&] { SSH::getString(q, block); }), "unexpected end of packet");
  EXPECT_EQ(q.MaxRetrievable(), 3u) << "the length bytes are consumed";
}

TEST(SSHEncoding, ExpectMessageNamesBothNumbers) {
  ByteQueue q = queueOf("\x15");
  EXPECT_EQ(disconnectOf([&] { SSH::expectMessage(q, 20); }),
            "unexpected message number 21, should be 20");
  ByteQueue ok = queueOf("\x14");
  SSH::expectMessage(ok, 20);
  EXPECT_EQ(ok.MaxRetrievable(), 0u);
}

TEST(SSHEncoding, ChannelNamesAreBigEndian) {
  EXPECT_EQ(SSH::uint32ToString(0x01020304), "\x01\x02\x03\x04");
  EXPECT_EQ(SSH::stringToUInt32(std::string("\xff\0\0\x01", 4)), 0xFF000001u);
  EXPECT_EQ(SSH::stringToUInt32(SSH::uint32ToString(0xDEADBEEF)), 0xDEADBEEFu);
  EXPECT_THROW(SSH::stringToUInt32("abc"), SSH::Err);
}

}  // namespace
