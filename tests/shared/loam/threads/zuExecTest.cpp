#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuExec.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

// True once the process is gone altogether (reaped, not a zombie).
bool reaped(u32 pid) {
  return tw::test::eventually([pid] { return ::kill(static_cast<pid_t>(pid), 0) != 0; });
}

std::string capture(zuExec& exec, const std::string& script, bool& result, u32 ms = kBoundMs) {
  std::ostringstream out;
  result = exec.runCapture("sh", "-c \"" + script + "\"", out, ms, nullptr);
  return out.str();
}

struct ExitCase {
  const char* script;
  u32 code;
};

TEST(Exec, ExitCodesIncludingDeathBySignal) {
  const ExitCase table[] = {
      {"exit 0", 0}, {"exit 7", 7}, {"exit 255", 255}, {"kill -9 $$", 137}, {"kill -TERM $$", 143}};
  for (const ExitCase& c : table) {
    zuExec exec;
    EXPECT_TRUE(exec.runAndWait("sh", std::string("-c \"") + c.script + "\"", nullptr)) << c.script;
    EXPECT_EQ(exec.status(), c.code) << c.script;
    EXPECT_EQ(exec.processId(), 0u);  // let go after the wait
  }
}

TEST(Exec, CommandLineIsProgramBlankArguments) {
  zuExec exec;
  ASSERT_TRUE(exec.start("true", ""));
  EXPECT_EQ(exec.commandLine(), "true");
  ASSERT_TRUE(exec.wait(kBoundMs, nullptr));
  ASSERT_TRUE(exec.start("sh", "-c \"exit 3\""));
  EXPECT_EQ(exec.commandLine(), "sh -c \"exit 3\"");
  ASSERT_TRUE(exec.wait(kBoundMs, nullptr));
  EXPECT_EQ(exec.status(), 3u);
}

TEST(Exec, MissingProgramFailsWithFileNotFound) {
  zuExec exec;
  EXPECT_FALSE(exec.start("tw-no-such-program-4152", "x"));
  EXPECT_EQ(exec.status(), 2u);
  EXPECT_EQ(exec.processId(), 0u);
  EXPECT_FALSE(exec.runAndWait("tw-no-such-program-4152", "", nullptr));
  EXPECT_EQ(exec.status(), 2u);
}

TEST(Exec, WaitIsFalseOnlyOnTimeOutAndTheChildLivesOnUntilReaped) {
  zuExec exec;
  ASSERT_TRUE(exec.start("sleep", "30"));
  const u32 pid = exec.processId();
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(exec.isRunning());
  EXPECT_FALSE(exec.wait(20, nullptr));
  EXPECT_EQ(exec.status(), zuExec::kStillActive);
  EXPECT_EQ(exec.processId(), 0u);
  EXPECT_FALSE(exec.isRunning());                    // no child held any more
  EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);  // not stopped by the wait
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
  EXPECT_TRUE(reaped(pid));  // by the reaper, no zombie left behind
}

TEST(Exec, StopEventAlreadySetGivesTrueWithStillActive) {
  zuSingleEvent stop;
  stop.set();
  zuExec exec;
  ASSERT_TRUE(exec.start("sleep", "30"));
  const u32 pid = exec.processId();
  EXPECT_TRUE(exec.wait(kBoundMs, &stop));
  EXPECT_EQ(exec.status(), zuExec::kStillActive);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  EXPECT_TRUE(reaped(pid));
}

TEST(Exec, StopEventSetByAnotherThreadEndsTheWait) {
  zuSingleEvent stop;
  zuExec exec;
  ASSERT_TRUE(exec.start("sleep", "30"));
  const u32 pid = exec.processId();
  std::thread setter([&stop] { stop.set(); });
  EXPECT_TRUE(exec.wait(kBoundMs, &stop));
  setter.join();
  EXPECT_EQ(exec.status(), zuExec::kStillActive);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  EXPECT_TRUE(reaped(pid));
}

TEST(Exec, KilledChildReadsSignalExitCode) {
  zuExec exec;
  ASSERT_TRUE(exec.start("sleep", "30"));
  ASSERT_EQ(::kill(static_cast<pid_t>(exec.processId()), SIGKILL), 0);
  EXPECT_TRUE(exec.wait(kBoundMs, nullptr));
  EXPECT_EQ(exec.status(), 128u + SIGKILL);
}

TEST(Exec, DestroyedWithARunningChildLeavesItToTheReaper) {
  u32 pid = 0;
  {
    zuExec exec;
    ASSERT_TRUE(exec.start("sleep", "30"));
    pid = exec.processId();
  }
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
  EXPECT_TRUE(reaped(pid));
}

TEST(Exec, RunToFileTakesOutputAndError) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("out.txt");
  {
    std::ofstream old(path);
    old << "old content that must go";
  }
  zuExec exec;
  ASSERT_TRUE(
      exec.runToFile("sh", "-c \"echo out; echo err >&2; exit 4\"", path, kBoundMs, nullptr));
  EXPECT_EQ(exec.status(), 4u);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "out\nerr\n");
}

TEST(Exec, RunToFileInMissingFolderStartsNothing) {
  tw::test::ScratchDir dir;
  zuExec exec;
  EXPECT_FALSE(
      exec.runToFile("sh", "-c \"exit 0\"", dir.file("missing/out.txt"), kBoundMs, nullptr));
  EXPECT_EQ(exec.status(), 3u);
  EXPECT_EQ(exec.processId(), 0u);
}

struct LineEndCase {
  const char* printf;
  std::string expected;
};

TEST(Exec, CaptureNormalisesLineEnds) {
  const LineEndCase table[] = {
      {"a\\r\\nb\\r\\rc", std::string("a\nb\n\nc\0", 7)},
      {"a\\n\\rb\\n\\nc", std::string("a\nb\n\nc\0", 7)},
      {"\\r\\r\\n", std::string("\n\n\0", 3)},
      {"x\\ry\\nz\\r", std::string("x\ny\nz\n\0", 7)},
      {"", std::string("\0", 1)},
  };
  for (const LineEndCase& c : table) {
    zuExec exec;
    bool result = false;
    EXPECT_EQ(capture(exec, std::string("printf '") + c.printf + "'", result), c.expected)
        << c.printf;
    EXPECT_TRUE(result);
    EXPECT_EQ(exec.status(), 0u);
  }
}

TEST(Exec, LineEndPairSplitBetweenReadsIsOneLineEnd) {
  zuExec exec;
  // The child waits for a line from us between its writes, so the CR and the
  // LF of a pair can only arrive in different reads.
  ASSERT_TRUE(exec.runWithPipes(
      "sh", "-c \"printf 'a\\r'; read x; printf '\\nb'; read x; printf '\\n\\rc'\""));
  std::string got;
  const auto readUntil = [&](std::size_t size) {
    char buffer[16];
    while (got.size() < size) {
      u32 length = sizeof buffer;
      if (!exec.readOutput(buffer, length, kBoundMs, nullptr)) return false;
      got.append(buffer, length);
    }
    return true;
  };
  ASSERT_TRUE(readUntil(2));  // "a" and its line end
  ASSERT_TRUE(exec.write("go\n", 3));
  ASSERT_TRUE(readUntil(3));  // the LF of the pair is dropped, "b" follows
  ASSERT_TRUE(exec.write("go\n", 3));
  ASSERT_TRUE(readUntil(5));
  char rest[16];
  u32 length = sizeof rest;
  while (exec.readOutput(rest, length, kBoundMs, nullptr)) {
    got.append(rest, length);
    length = sizeof rest;
  }
  EXPECT_EQ(got, "a\nb\nc");
  EXPECT_TRUE(exec.wait(kBoundMs, nullptr));
}

TEST(Exec, CaptureKeepsOutputWrittenJustBeforeTheEnd) {
  zuExec exec;
  bool result = false;
  std::string big(50000, 'x');
  EXPECT_EQ(capture(exec, "head -c 50000 /dev/zero | tr '\\0' x; exit 5", result), big + '\0');
  EXPECT_TRUE(result);
  EXPECT_EQ(exec.status(), 5u);
}

TEST(Exec, NoDescriptorReachesTheChild) {
  // One descriptor opened without close-on-exec, as foreign code might.
  const int stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  zuExec exec;
  std::ostringstream out;
  ASSERT_TRUE(exec.runCapture("ls", "-l /proc/self/fd", out, kBoundMs, nullptr));
  ::close(stray);
  std::set<int> seen;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    const auto arrow = line.find(" -> ");
    if (arrow == std::string::npos) continue;
    const auto blank = line.rfind(' ', arrow - 1);
    const int fd = std::stoi(line.substr(blank + 1, arrow - blank - 1));
    // ls's own listing of the folder is the only other one allowed.
    if (fd > 2 && line.find("/proc/", arrow) != std::string::npos) continue;
    seen.insert(fd);
  }
  EXPECT_EQ(seen, (std::set<int>{0, 1, 2})) << out.str();
}

// True when the thread is asleep in one poll whose time-out is at least a
// second (or none): a reader that looped on short waits, or spun, would not be.
bool asleepInLongPoll(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  std::string fds;
  std::string count;
  std::string timeout;
  if (!(in >> number >> fds >> count >> timeout)) return false;
  const unsigned long long arg = std::stoull(timeout, nullptr, 16);
#ifdef SYS_poll
  if (number == SYS_poll) {
    const int ms = static_cast<int>(arg);
    return ms < 0 || ms >= 1000;
  }
#endif
  if (number != SYS_ppoll) return false;
  if (arg == 0) return true;  // no time-out
  timespec limit{};
  const iovec local{&limit, sizeof limit};
  const iovec remote{reinterpret_cast<void*>(arg), sizeof limit};
  return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == sizeof limit &&
         limit.tv_sec >= 1;
}

TEST(Exec, SilentChildLeavesTheReaderAsleep) {
  tw::test::ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  zuExec exec;
  std::atomic<pid_t> reader{0};
  bool result = false;
  std::string text;
  // The child says nothing until the test writes to the fifo.
  std::thread capture([&] {
    reader = static_cast<pid_t>(::gettid());
    std::ostringstream out;
    result = exec.runCapture("sh", "-c \"read x < " + fifo + "\"", out, kBoundMs, nullptr);
    text = out.str();
  });
  EXPECT_TRUE(tw::test::eventually([&] { return reader != 0 && asleepInLongPoll(reader); }));
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the child
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "x\n", 2), 2);
  ::close(writer);
  capture.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(text, std::string("\0", 1));
}

TEST(Exec, CaptureTimeLimitCoversASilentChildThatNeverEnds) {
  tw::test::ScratchDir dir;
  const std::string pidFile = dir.file("pid");
  zuExec exec;
  std::ostringstream out;
  // The sleeper keeps the shell's id and says it in a file, not in the
  // output, so the limit may run out before or after the shell starts.
  EXPECT_FALSE(exec.runCapture(
      "sh",
      "-c \"echo $$ > " + pidFile + ".tmp; mv " + pidFile + ".tmp " + pidFile + "; exec sleep 30\"",
      out, 200, nullptr));
  EXPECT_EQ(exec.status(), zuExec::kStillActive);
  EXPECT_EQ(out.str(), std::string("\0", 1));
  ASSERT_TRUE(tw::test::eventually([&] { return !tw::test::readFile(pidFile).empty(); }));
  const pid_t sleeper = static_cast<pid_t>(std::stol(tw::test::readFile(pidFile)));
  ASSERT_GT(sleeper, 0);
  EXPECT_EQ(::kill(sleeper, SIGKILL), 0);  // it outlived the call, as it should
  EXPECT_TRUE(reaped(static_cast<u32>(sleeper)));
}

TEST(Exec, CaptureEndsWhenStopIsSet) {
  zuSingleEvent stop;
  zuExec exec;
  std::ostringstream out;
  std::thread setter([&stop] { stop.set(); });
  EXPECT_TRUE(exec.runCapture("sleep", "30", out, kBoundMs, &stop));
  setter.join();
  EXPECT_EQ(exec.status(), zuExec::kStillActive);
}

TEST(Exec, PipesTalkToTheChild) {
  zuExec exec;
  ASSERT_TRUE(exec.runWithPipes("cat", ""));
  const std::string hello = "hello\r\nworld\n";
  ASSERT_TRUE(exec.write(hello.data(), static_cast<u32>(hello.size())));
  std::string got;
  char buffer[64];
  while (got.size() < 12) {
    u32 length = sizeof buffer;
    ASSERT_TRUE(exec.readOutput(buffer, length, kBoundMs, nullptr));
    ASSERT_GT(length, 0u);
    got.append(buffer, length);
  }
  EXPECT_EQ(got, "hello\nworld\n");
  // Nothing more waits: no wait, true with nothing.
  u32 length = sizeof buffer;
  EXPECT_TRUE(exec.readOutput(buffer, length));
  EXPECT_EQ(length, 0u);
  exec.closeInputHandles();  // cat sees the end of its input and ends
  length = sizeof buffer;
  EXPECT_FALSE(exec.readOutput(buffer, length, kBoundMs, nullptr));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(exec.wait(kBoundMs, nullptr));
  EXPECT_EQ(exec.status(), 0u);
}

TEST(Exec, OutputOfAnEndedChildIsReadBeforeTheEnd) {
  zuExec exec;
  ASSERT_TRUE(exec.runWithPipes("sh", "-c \"printf xyz; exit 6\""));
  ASSERT_TRUE(zuPlatform::waitForOne(exec.processHandle(), kBoundMs));
  char buffer[16];
  u32 length = sizeof buffer;
  ASSERT_TRUE(exec.readOutput(buffer, length));
  EXPECT_EQ(std::string(buffer, length), "xyz");
  length = sizeof buffer;
  EXPECT_FALSE(exec.readOutput(buffer, length));
  EXPECT_EQ(exec.status(), 6u);
}

TEST(Exec, WriteToAnEndedChildIsAFailureNotASignal) {
  zuExec exec;
  ASSERT_TRUE(exec.runWithPipes("sh", "-c \"exit 3\""));
  ASSERT_TRUE(zuPlatform::waitForOne(exec.processHandle(), kBoundMs));
  EXPECT_FALSE(exec.write("data", 4));
  EXPECT_EQ(exec.status(), 232u);
  EXPECT_TRUE(exec.wait(kBoundMs, nullptr));
  EXPECT_EQ(exec.status(), 3u);
}

TEST(Exec, PipeSizesNeverGoBelowTheMinimum) {
  zuExec exec;
  EXPECT_EQ(exec.outputPipeSize(), 10240u);
  EXPECT_EQ(exec.inputPipeSize(), 10240u);
  exec.setOutputPipeSize(1);
  exec.setInputPipeSize(0);
  EXPECT_EQ(exec.outputPipeSize(), 64u);
  EXPECT_EQ(exec.inputPipeSize(), 64u);
}

}  // namespace
