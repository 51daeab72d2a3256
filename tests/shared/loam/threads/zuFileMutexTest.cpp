#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuFileMutex.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuStMutex.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

TEST(zuFileMutex, TwoObjectsOnOneFile) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  zuFileMutex first(path), second(path);
  ASSERT_TRUE(first.lock());
  EXPECT_TRUE(fs::exists(path));
  EXPECT_FALSE(second.lock());
  EXPECT_FALSE(second.isLocked());
  first.unlock();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(second.lock());
  EXPECT_FALSE(first.lock());
  second.unlock();
}

TEST(zuFileMutex, OwnerCountsAndTheLastUnlockDeletesTheFile) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  zuFileMutex m(path);
  ASSERT_TRUE(m.lock());
  ASSERT_TRUE(m.lock());
  EXPECT_EQ(m.count(), 2u);
  m.unlock();
  EXPECT_TRUE(m.isLocked());
  EXPECT_TRUE(fs::exists(path));
  m.unlock();
  EXPECT_FALSE(m.isLocked());
  EXPECT_FALSE(fs::exists(path));
}

TEST(zuFileMutex, OtherThreadOfTheProcessIsRefusedAndCannotUnlock) {
  tw::test::ScratchDir dir;
  zuFileMutex m(dir.file("agent.lock"));
  ASSERT_TRUE(m.lock());
  bool took = true;
  std::thread([&] {
    took = m.lock();
    m.unlock();
  }).join();
  EXPECT_FALSE(took);
  EXPECT_TRUE(m.isLocked());
  EXPECT_EQ(m.count(), 1u);
  m.unlock();
}

TEST(zuFileMutex, NameChangesOnlyWhileFreeAndBadNamesFail) {
  tw::test::ScratchDir dir;
  zuFileMutex m;
  EXPECT_FALSE(m.lock());  // no name
  EXPECT_FALSE(m.isLocked());
  EXPECT_TRUE(m.setFileName(dir.file("missing/folder/x.lock")));
  EXPECT_FALSE(m.lock());
  EXPECT_TRUE(m.setFileName(dir.file("a.lock")));
  ASSERT_TRUE(m.lock());
  EXPECT_FALSE(m.setFileName(dir.file("b.lock")));
  EXPECT_EQ(m.fileName(), dir.file("a.lock"));
  m.unlock();
}

TEST(zuFileMutex, DestructionReleasesAHeldLock) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  {
    zuFileMutex m(path);
    ASSERT_TRUE(m.lock());
  }
  EXPECT_FALSE(fs::exists(path));
  zuFileMutex again(path);
  EXPECT_TRUE(again.lock());
}

TEST(zuFileMutex, ReadNumberTable) {
  tw::test::ScratchDir dir;
  const struct {
    const char* content;  // null: no file
    u32 value;
  } table[] = {
      {"1234", 1234},    {"  42\r\n", 42}, {"7 and more", 7}, {"4294967295", 4294967295u},
      {"4294967296", 0}, {"abc", 0},       {"", 0},           {"-5", 0},
      {nullptr, 0},
  };
  for (const auto& row : table) {
    const std::string path = dir.file("n.lock");
    fs::remove(path);
    if (row.content) std::ofstream(path, std::ios::binary) << row.content;
    zuFileMutex m(path);
    EXPECT_EQ(m.readNumber(), row.value) << (row.content ? row.content : "(no file)");
  }
  EXPECT_EQ(zuFileMutex().readNumber(), 0u);
}

// The open flags of another descriptor of this process on path, -1 when none.
long readerFlagsOf(const std::string& path, int exceptFd) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != fs::path(path)) continue;
    if (entry.path().filename() == std::to_string(exceptFd)) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key, octal;
    while (info >> key)
      if (key == "flags:" && info >> octal) return std::stol(octal, nullptr, 8);
  }
  return -1;
}

TEST(zuFileMutex, ReadNumberOpensTheFileCloseOnExec) {
  // A FIFO holds the reader open until we write, so its descriptor can be
  // looked at from here.
  tw::test::ScratchDir dir;
  const std::string path = dir.file("n.lock");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  zuFileMutex m(path);
  u32 value = 0;
  std::thread reader([&] { value = m.readNumber(); });
  int writer = -1;
  const bool opened = tw::test::eventually([&] {
    writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return writer >= 0;
  });
  long flags = -1;
  if (opened) {
    tw::test::eventually([&] { return (flags = readerFlagsOf(path, writer)) != -1; });
    EXPECT_EQ(::write(writer, "42", 2), 2);
    ::close(writer);
  }
  reader.join();
  ASSERT_TRUE(opened) << "readNumber never opened the file";
  ASSERT_NE(flags, -1);
  EXPECT_NE(flags & O_CLOEXEC, 0);
  EXPECT_EQ(value, 42u);
}

TEST(zuFileMutex, RemoveFileSparesAHeldLock) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  zuFileMutex holder(path), other(path);
  ASSERT_TRUE(holder.lock());
  other.removeFile();
  EXPECT_TRUE(fs::exists(path));
  EXPECT_FALSE(other.lock());  // the lock still excludes
  holder.unlock();
  std::ofstream(path) << "9";
  other.removeFile();
  EXPECT_FALSE(fs::exists(path));
  zuFileMutex().removeFile();  // no name: nothing to do
}

// A child process holds the lock until told to let go (or is killed). The
// events are shared with the child across the fork.
class ChildHolder {
 public:
  explicit ChildHolder(const std::string& path) {
    pid_ = fork();
    if (pid_ == 0) {
      zuFileMutex m(path);
      const bool ok = m.lock();
      ok ? locked_.set() : failed_.set();
      if (ok) zuPlatform::waitForOne(release_.handle(), kBoundMs);
      m.unlock();
      _exit(ok ? 0 : 1);
    }
  }
  ~ChildHolder() {
    if (pid_ > 0) kill();
  }
  bool waitLocked() {
    const zuPlatform::Handle list[] = {locked_.handle(), failed_.handle()};
    return zuPlatform::waitForAny(list, kBoundMs) == 0;
  }
  int releaseAndJoin() {
    release_.set();
    return join();
  }
  int kill() {
    ::kill(pid_, SIGKILL);
    return join();
  }
  pid_t pid() const { return pid_; }

 private:
  int join() {
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = 0;
    return status;
  }
  zuSingleEvent locked_, failed_, release_;
  pid_t pid_ = -1;
};

TEST(zuFileMutex, ExcludesAnotherProcess) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  ChildHolder child(path);
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(child.waitLocked());
  zuFileMutex m(path);
  EXPECT_FALSE(m.lock());
  const int status = child.releaseAndJoin();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(m.lock());
}

TEST(zuFileMutex, HolderKilledLeavesNoLockBehind) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  ChildHolder child(path);
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(child.waitLocked());
  const int status = child.kill();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_TRUE(fs::exists(path));  // left behind by the crash
  zuFileMutex m(path);
  EXPECT_TRUE(m.lock());
  zuFileMutex second(path);
  EXPECT_FALSE(second.lock());  // and the new holder's lock is a real one
  m.unlock();
  EXPECT_FALSE(fs::exists(path));
}

TEST(zuFileMutex, ScopedHolderOfARefusedLockLeavesTheHolderAlone) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("agent.lock");
  zuFileMutex first(path), second(path);
  ASSERT_TRUE(first.lock());
  {
    zuStMutex hold(second);
    EXPECT_FALSE(hold.isHeld());
  }
  EXPECT_TRUE(first.isLocked());
  EXPECT_TRUE(fs::exists(path));
  first.unlock();
}

}  // namespace
