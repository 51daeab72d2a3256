#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformPipe.h"
#include "loam/platform/zuPlatformProcess.h"
#include "loam/platform/zuPlatformWait.h"
#include "support/TestSupport.h"

namespace {

using namespace zuPlatform;

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

struct SplitCase {
  const char* line;
  std::vector<std::string> words;
};

TEST(PlatformProcess, SplitCommandLineFollowsTheWindowsRuntime) {
  const SplitCase table[] = {
      {"a b c", {"a", "b", "c"}},
      {"p   a\t\tb  ", {"p", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
      {"C:\\dir\\\"x y\"z a", {"C:\\dir\\x yz", "a"}},  // no escapes in the program name
      {"p \"x y\" z", {"p", "x y", "z"}},
      {"p a\\b\\\\c", {"p", "a\\b\\\\c"}},       // backslashes without a quote are literal
      {"p a\\\"b", {"p", "a\"b"}},               // 1 backslash + quote: literal quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},       // 2 + quote: one backslash, quote opens
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},         // 3 + quote: one backslash, literal quote
      {"p \"a\"\"b\"", {"p", "a\"b"}},           // "" inside quotes: one quote
      {"p \"\"", {"p", ""}},                     // an empty argument
      {"p \"dir\\\\\" x", {"p", "dir\\", "x"}},  // a quoted folder ending in a backslash
      {"p \"open end", {"p", "open end"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p -c \"printf 'a\\r'\"", {"p", "-c", "printf 'a\\r'"}},
      {"  /bin/echo a", {"/bin/echo", "a"}},  // blanks before the program
      {"", {}},
      {" \t ", {}},
  };
  for (const SplitCase& c : table) EXPECT_EQ(splitCommandLine(c.line), c.words) << c.line;
}

// Starts a command with its output going to a pipe, waits for its end and
// returns what it wrote.
std::string outputOf(const std::string& commandLine, u32& exitCode) {
  Handle readEnd = kInvalidHandle;
  Handle writeEnd = kInvalidHandle;
  EXPECT_EQ(createPipe(readEnd, writeEnd, 4096), 0u);
  ProcessInfo child;
  EXPECT_EQ(startProcess(commandLine, kInvalidHandle, writeEnd, child), 0u);
  closeHandle(writeEnd);
  std::string out;
  char buffer[512];
  u32 count = 0;
  while (readHandle(readEnd, buffer, sizeof buffer, count) == 0 && count > 0)
    out.append(buffer, count);
  closeHandle(readEnd);
  EXPECT_TRUE(waitForOne(child.process, kBoundMs));
  u32 error = 0;
  EXPECT_TRUE(processExitCode(child.process, exitCode, error));
  closeProcess(child.process);
  return out;
}

TEST(PlatformProcess, MissingProgramGivesFileNotFound) {
  ProcessInfo child;
  EXPECT_EQ(startProcess("tw-no-such-program-4152 a b", kInvalidHandle, kInvalidHandle, child), 2u);
  EXPECT_EQ(child.process, kInvalidHandle);
  EXPECT_EQ(startProcess("", kInvalidHandle, kInvalidHandle, child), 2u);
}

TEST(PlatformProcess, FileThatIsNoProgramIsNeverHandedToAShell) {
  // Upgrade files come from the network: an executable text without "#!"
  // must be refused, not run as shell commands (as execvp would).
  tw::test::ScratchDir dir;
  const std::string marker = dir.file("ran");
  const std::string script = dir.file("tw-not-a-program");
  std::ofstream(script) << "touch " << marker << "\n";
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  tw::test::ScopedEnv path("PATH", dir.path() + ":/usr/bin:/bin");
  for (const std::string& commandLine : {script, std::string("tw-not-a-program")}) {
    ProcessInfo child;
    EXPECT_EQ(startProcess(commandLine, kInvalidHandle, kInvalidHandle, child), 193u)
        << commandLine;
    EXPECT_EQ(child.process, kInvalidHandle) << commandLine;
  }
  EXPECT_EQ(::access(marker.c_str(), F_OK), -1);
}

TEST(PlatformProcess, ExitCodeIsReadWithoutReapingAndStillActiveBefore) {
  Handle readEnd = kInvalidHandle;
  Handle writeEnd = kInvalidHandle;
  ASSERT_EQ(createPipe(readEnd, writeEnd, 4096), 0u);
  ProcessInfo child;
  // The child ends when its input does.
  ASSERT_EQ(startProcess("sh -c \"read x; exit 9\"", readEnd, kInvalidHandle, child), 0u);
  closeHandle(readEnd);
  u32 code = 0;
  u32 error = 0;
  ASSERT_TRUE(processExitCode(child.process, code, error));
  EXPECT_EQ(code, kStillActive);
  EXPECT_EQ(child.threadId, child.processId);
  closeHandle(writeEnd);
  ASSERT_TRUE(waitForOne(child.process, kBoundMs));
  ASSERT_TRUE(processExitCode(child.process, code, error));
  EXPECT_EQ(code, 9u);
  ASSERT_TRUE(processExitCode(child.process, code, error));  // still there to read
  EXPECT_EQ(code, 9u);
  closeProcess(child.process);
  EXPECT_FALSE(processExitCode(kInvalidHandle, code, error));
  EXPECT_EQ(error, kErrorInvalidHandle);
}

// Points standard error at a file for one scope.
class CapturedStderr {
 public:
  explicit CapturedStderr(const std::string& path)
      : saved_(::dup(2)),
        file_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
    ::dup2(file_, 2);
  }
  ~CapturedStderr() {
    ::dup2(saved_, 2);
    ::close(saved_);
    ::close(file_);
  }
  // Bytes written so far, found without opening anything.
  off_t size() const {
    struct stat st {};
    return ::fstat(file_, &st) == 0 ? st.st_size : 0;
  }

 private:
  int saved_;
  int file_;
};

TEST(PlatformProcess, ReaperThatCannotPollSaysSoOnceAndRecovers) {
  Handle readEnd = kInvalidHandle;
  Handle writeEnd = kInvalidHandle;
  ASSERT_EQ(createPipe(readEnd, writeEnd, 4096), 0u);
  constexpr int kChildren = 4;
  std::vector<ProcessInfo> children(kChildren);
  for (ProcessInfo& child : children) {
    ASSERT_EQ(startProcess("sh -c \"read x\"", readEnd, kInvalidHandle, child), 0u);
  }
  closeHandle(readEnd);
  // The reaper runs and holds the first children.
  for (int i = 0; i + 1 < kChildren; ++i) closeProcess(children[static_cast<size_t>(i)].process);

  tw::test::ScratchDir dir;
  {
    CapturedStderr captured(dir.file("stderr"));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    // poll refuses more entries than the descriptor limit: a lasting error.
    rlimit tight = old;
    tight.rlim_cur = 2;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    closeProcess(children.back().process);
    const bool said = tw::test::eventually([&] { return captured.size() > 0; });
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(said);
  }
  const std::string text = tw::test::readFile(dir.file("stderr"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("Child reaper: poll failed"), std::string::npos) << text;

  // Once poll works again every child is reaped as it ends.
  closeHandle(writeEnd);
  for (const ProcessInfo& child : children) {
    EXPECT_TRUE(tw::test::eventually([&] {
      return !std::filesystem::exists("/proc/" + std::to_string(child.processId));
    })) << child.processId;
  }
}

TEST(PlatformProcess, MissingStandardHandlesAreDevNull) {
  tw::test::ScratchDir dir;
  const std::string file = dir.file("fds");
  ProcessInfo child;
  // The shell's own descriptors, read in a subshell before anything is redirected.
  ASSERT_EQ(
      startProcess("sh -c \"l=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2); echo $l >" +
                       file + "\"",
                   kInvalidHandle, kInvalidHandle, child),
      0u);
  ASSERT_TRUE(waitForOne(child.process, kBoundMs));
  closeProcess(child.process);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "/dev/null /dev/null /dev/null\n");
}

TEST(PlatformProcess, ChildStartsWithDefaultSignalsInItsOwnSession) {
  // What the parent has changed must not reach the child.
  struct sigaction ignore {};
  struct sigaction oldInt {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGINT, &ignore, &oldInt), 0);
  sigset_t usr1;
  sigset_t oldMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &oldMask), 0);
  ignoreBrokenPipeSignal();

  u32 code = 1;
  const std::string signals = outputOf("grep -E ^Sig(Blk|Ign) /proc/self/status", code);
  EXPECT_EQ(code, 0u);
  std::istringstream lines(signals);
  std::string name;
  std::string blocked;
  std::string ignored;
  lines >> name >> blocked >> name >> ignored;
  EXPECT_EQ(blocked, "0000000000000000") << signals;
  // posix_spawn leaves the C library's two internal signals (32 and 33,
  // below SIGRTMIN, never used by programs) ignored; every other one is default.
  const unsigned long long internal = (1ULL << 31) | (1ULL << 32);
  EXPECT_EQ(std::stoull(ignored, nullptr, 16) & ~internal, 0u) << signals;

  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGINT, &oldInt, nullptr);

  // Field 6 of stat is the session: a session leader's is its own id.
  const std::string session = outputOf("sh -c \"echo $$; cut -d' ' -f6 /proc/$$/stat\"", code);
  std::istringstream words(session);
  std::string pid;
  std::string sid;
  words >> pid >> sid;
  EXPECT_FALSE(pid.empty());
  EXPECT_EQ(pid, sid);
}

TEST(PlatformProcess, WritingToAPipeWithoutReaderFails) {
  Handle readEnd = kInvalidHandle;
  Handle writeEnd = kInvalidHandle;
  ASSERT_EQ(createPipe(readEnd, writeEnd, 64), 0u);
  closeHandle(readEnd);
  u32 written = 0;
  EXPECT_EQ(writeHandle(writeEnd, "x", 1, written), kPipeErrorNoData);  // and no SIGPIPE
  EXPECT_EQ(written, 0u);
  closeHandle(writeEnd);
}

TEST(PlatformProcess, OutputFileInMissingFolderGivesPathNotFound) {
  tw::test::ScratchDir dir;
  Handle file = kInvalidHandle;
  EXPECT_EQ(createOutputFile(dir.file("missing\\out.txt"), file), 3u);
  EXPECT_EQ(file, kInvalidHandle);
}

}  // namespace
