#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "loam/platform/zuPlatformPoll.h"

namespace {

using zuPlatform::kPollExceptional;
using zuPlatform::kPollFailed;
using zuPlatform::kPollReadable;
using zuPlatform::kPollWritable;
using zuPlatform::PollEntry;

class SocketPair {
 public:
  SocketPair() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~SocketPair() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  int a() const { return fds_[0]; }
  int b() const { return fds_[1]; }
  void send(const char* bytes) { ASSERT_GT(::write(fds_[1], bytes, 1), 0); }

 private:
  int fds_[2];
};

u16 pollOne(int fd, u16 wanted, u32 ms) {
  PollEntry e{fd, wanted, 0xFFFF};
  const u16 r = zuPlatform::pollSockets(std::span<PollEntry>(&e, 1), ms);
  EXPECT_EQ(e.returned, r == kPollFailed ? 0 : r);
  return r;
}

TEST(PlatformPoll, ReadinessTable) {
  SocketPair quiet;
  SocketPair loaded;
  ASSERT_GE(quiet.a(), 0);
  loaded.send("x");
  const int closedFd = ::dup(quiet.a());
  ::close(closedFd);
  struct Case {
    const char* name;
    int fd;
    u16 wanted;
    u16 expected;
  } cases[] = {
      {"nothing to read times out", quiet.a(), kPollReadable, 0},
      {"data is readable", loaded.a(), kPollReadable, kPollReadable},
      {"an empty buffer is writable", quiet.a(), kPollWritable, kPollWritable},
      {"both wanted, both ready", loaded.a(), kPollReadable | kPollWritable,
       kPollReadable | kPollWritable},
      {"no out-of-band data", quiet.a(), kPollExceptional, 0},
      {"a closed descriptor fails", closedFd, kPollReadable, kPollFailed},
  };
  for (const Case& c : cases) EXPECT_EQ(pollOne(c.fd, c.wanted, 10), c.expected) << c.name;
}

TEST(PlatformPoll, DescriptorAboveSelectLimitWorks) {
  SocketPair pair;
  pair.send("x");
  const int high = ::fcntl(pair.a(), F_DUPFD_CLOEXEC, 1500);
  ASSERT_GE(high, 1500);
  EXPECT_EQ(pollOne(high, kPollReadable, 1000), kPollReadable);
  ::close(high);
}

TEST(PlatformPoll, OnlyReadyEntriesGetBitsAndStaleBitsAreCleared) {
  SocketPair quiet;
  SocketPair loaded;
  loaded.send("x");
  std::vector<PollEntry> entries = {{quiet.a(), kPollReadable, 0xFFFF},
                                    {-1, kPollReadable, 0xFFFF},
                                    {loaded.a(), kPollReadable, 0}};
  EXPECT_EQ(zuPlatform::pollSockets(entries, 1000), kPollReadable);
  EXPECT_EQ(entries[0].returned, 0);
  EXPECT_EQ(entries[1].returned, 0);
  EXPECT_EQ(entries[2].returned, kPollReadable);
}

TEST(PlatformPoll, HangUpCountsAsReadable) {
  auto pair = std::make_unique<SocketPair>();
  const int fd = ::dup(pair->a());
  pair.reset();  // the peer is gone
  EXPECT_EQ(pollOne(fd, kPollReadable, 1000), kPollReadable);
  ::close(fd);
}

TEST(PlatformPoll, AtMostSixtyFourSocketsPerKind) {
  std::vector<std::unique_ptr<SocketPair>> pairs;
  std::vector<PollEntry> entries;
  for (int i = 0; i < 65; ++i) {
    pairs.push_back(std::make_unique<SocketPair>());
    ASSERT_GE(pairs.back()->a(), 0);
    entries.push_back({pairs.back()->a(), kPollReadable, 0});
  }
  pairs.back()->send("x");  // only the 65th, which is left out, has data
  EXPECT_EQ(zuPlatform::pollSockets(entries, 10), 0);
  pairs.front()->send("x");
  EXPECT_EQ(zuPlatform::pollSockets(entries, 1000), kPollReadable);
  EXPECT_EQ(entries.front().returned, kPollReadable);
  EXPECT_EQ(entries.back().returned, 0);
}

}  // namespace
