#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/platform/zuPlatformSocket.h"
#include "loam/threads/zuExec.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuProcess.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

// Every log line of a test, taken from the output.
std::mutex g_linesLock;
std::vector<std::string> g_lines;

bool takeLine(u32, const char* text) {
  std::lock_guard<std::mutex> hold(g_linesLock);
  g_lines.emplace_back(text);
  return true;
}

std::vector<std::string> loggedLines() {
  std::lock_guard<std::mutex> hold(g_linesLock);
  return g_lines;
}

enum class Fault { kNone, kFalse, kStd, kZu, kForeign };

// Records its phases and fails where it is told to.
class TestProcess : public zuProcess {
 public:
  std::vector<std::string> phases;
  Fault preInitFault = Fault::kNone;
  Fault initFault = Fault::kNone;
  Fault mainFault = Fault::kNone;
  bool cleanupThrows = false;
  u32 codeBeforeFault = 0;
  zuEvent* mainReady = nullptr;  // set once main waits for the stop
  u32 socketCountInMain = 0;

  bool parseArguments(std::vector<zuOption>& options) override {
    phases.push_back("parseArguments");
    return zuProcess::parseArguments(options);
  }
  bool preInitialize() override {
    phases.push_back("preInitialize");
    return fail(preInitFault);
  }
  void initialize() override {
    phases.push_back("initialize");
    fail(initFault);
  }
  void main() override {
    phases.push_back("main");
    socketCountInMain = zuPlatform::socketStartupCount();
    if (mainReady) {
      mainReady->set();
      while (!isStopRequested()) zuThread::waitForObjects(kBoundMs, stopEvent());
      phases.push_back("stopped");
    }
    fail(mainFault);
  }
  void cleanup() override {
    phases.push_back("cleanup");
    if (cleanupThrows) throw std::runtime_error("cleanup");
  }

 private:
  bool fail(Fault fault) {
    if (fault != Fault::kNone && codeBeforeFault != 0) setExitCode(codeBeforeFault);
    switch (fault) {
      case Fault::kNone:
        return true;
      case Fault::kFalse:
        return false;
      case Fault::kStd:
        throw std::runtime_error("boom");
      case Fault::kZu:
        throw zuException(1538, "The file \"$f\" failed to open.", 'f', std::string("x.bin"));
      case Fault::kForeign:
        throw 42;
    }
    return true;
  }
};

class Process : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> hold(g_linesLock);
      g_lines.clear();
    }
    zuLog::addListener(takeLine);
  }
  void TearDown() override {
    zuLog::removeListener(takeLine);
    zuLog::setLogLevel(3);
    zuLog::initFile("infoLog.log");
    zuLog::init(nullptr, zuLog::kModeConsole);
    zuPlatform::failSocketStartupForTest(false);
    zuMainThread::instance().stopEvent()->reset();
  }

  static u32 run(zuProcess& process, std::vector<std::string> args) {
    args.insert(args.begin(), "program");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return process.run(static_cast<u32>(args.size()), argv.data());
  }
};

const std::vector<std::string> kAllPhases{"preInitialize", "parseArguments", "initialize", "main",
                                          "cleanup"};

TEST_F(Process, PhasesRunOnceInOrder) {
  TestProcess process;
  EXPECT_EQ(run(process, {}), 0u);
  EXPECT_EQ(process.phases, kAllPhases);
  EXPECT_TRUE(loggedLines().empty());
}

struct FaultCase {
  const char* name;
  Fault preInit, init, main;
  bool cleanupThrows;
  u32 codeBeforeFault;
  std::vector<std::string> phases;
  std::vector<std::string> lines;
  u32 result;
};

TEST_F(Process, FailuresAreReportedAndNeverEndWithExitCodeZero) {
  const std::string internal510 =
      "An internal error occurred in \".\\shared\\loam\\threads\\zuProcess\" line \"510\".  "
      "Please notify Tarnwell Tech Support.";
  const std::string internal532 =
      "An internal error occurred in \".\\shared\\loam\\threads\\zuProcess\" line \"532\".  "
      "Please notify Tarnwell Tech Support.";
  const std::string boom =
      "An unexpected exception \"boom\" occurred.  Please notify Tarnwell Technical Support.";
  const std::vector<std::string> initOnly{"preInitialize"};
  const std::vector<std::string> noMain{"preInitialize", "parseArguments", "initialize", "cleanup"};
  const FaultCase table[] = {
      {"pre-initialise false",
       Fault::kFalse,
       Fault::kNone,
       Fault::kNone,
       false,
       0,
       initOnly,
       {},
       1},
      {"pre-initialise std",
       Fault::kStd,
       Fault::kNone,
       Fault::kNone,
       false,
       0,
       initOnly,
       {boom},
       1},
      {"pre-initialise foreign",
       Fault::kForeign,
       Fault::kNone,
       Fault::kNone,
       false,
       0,
       initOnly,
       {internal510},
       1},
      {"initialise zu",
       Fault::kNone,
       Fault::kZu,
       Fault::kNone,
       false,
       0,
       noMain,
       {"The file \"x.bin\" failed to open."},
       1},
      {"main std", Fault::kNone, Fault::kNone, Fault::kStd, false, 0, kAllPhases, {boom}, 1},
      {"main foreign",
       Fault::kNone,
       Fault::kNone,
       Fault::kForeign,
       false,
       0,
       kAllPhases,
       {internal532},
       1},
      {"main foreign, code set",
       Fault::kNone,
       Fault::kNone,
       Fault::kForeign,
       false,
       5,
       kAllPhases,
       {internal532},
       5},
      {"pre-initialise false, code set",
       Fault::kFalse,
       Fault::kNone,
       Fault::kNone,
       false,
       7,
       initOnly,
       {},
       7},
      {"cleanup throws", Fault::kNone, Fault::kNone, Fault::kNone, true, 0, kAllPhases, {}, 0},
  };
  for (const FaultCase& c : table) {
    {
      std::lock_guard<std::mutex> hold(g_linesLock);
      g_lines.clear();
    }
    TestProcess process;
    process.preInitFault = c.preInit;
    process.initFault = c.init;
    process.mainFault = c.main;
    process.cleanupThrows = c.cleanupThrows;
    process.codeBeforeFault = c.codeBeforeFault;
    EXPECT_EQ(run(process, {}), c.result) << c.name;
    EXPECT_EQ(process.phases, c.phases) << c.name;
    EXPECT_EQ(loggedLines(), c.lines) << c.name;
  }
}

struct OptionCase {
  std::vector<std::string> args;
  u32 result;
  bool mainRuns;
  std::vector<std::string> lines;
  i32 level;
  u32 mode;
  const char* file;  // the log file name afterwards, null when not looked at
};

TEST_F(Process, BaseOptions) {
  const u32 console = zuLog::kModeConsole;
  const u32 file = zuLog::kModeFile;
  const OptionCase table[] = {
      {{}, 0, true, {}, 3, console, nullptr},
      {{"-LL", "2"}, 0, true, {}, 2, console, nullptr},
      {{"-ll2"}, 0, true, {}, 2, console, nullptr},
      {{"-Ll", "5"}, 0, true, {}, 5, console, nullptr},
      {{"-ll", "7"}, 1, false, {"Incorrect argument for option \"ll\"."}, 3, console, nullptr},
      {{"-ll"}, 1, false, {"Incorrect argument for option \"ll\"."}, 3, console, nullptr},
      {{"-ll5x"}, 1, false, {"Incorrect argument for option \"ll\"."}, 3, console, nullptr},
      {{"-ll", "-x"}, 1, false, {"Incorrect argument for option \"ll\"."}, 3, console, nullptr},
      {{"-ld", "9"}, 1, false, {"Incorrect argument for option \"dl\"."}, 3, console, nullptr},
      {{"-ld", "4"}, 0, true, {}, 3, console, nullptr},
      {{"-dl"}, 1, false, {"Incorrect argument for option \"dl\"."}, 3, console, nullptr},
      {{"-DL", "3"}, 0, true, {}, 3, console, nullptr},
      {{"-dl", "3abcF"}, 0, true, {}, 3, file, "infoLog.log"},
      {{"-dl3abcf"}, 0, true, {}, 3, file, "infoLog.log"},
      {{"-dl", "3abcG"}, 0, true, {}, 3, console, nullptr},
      {{"-lf", "-debug"}, 0, true, {}, 3, file, "infoLog.log"},
      {{"-LF", "my.log"}, 0, true, {}, 3, file, "my.log"},
      {{"-lfmy.log"}, 0, true, {}, 3, file, "my.log"},
      {{"-lf", "-x"}, 1, false, {"Unknown option \"-x\"."}, 3, file, "infoLog.log"},
      {{"-l"}, 1, false, {"Unknown option \"-l\"."}, 3, console, nullptr},
      {{"-d"}, 1, false, {"Unknown option \"-d\"."}, 3, console, nullptr},
      {{"-lx"}, 1, false, {"Unknown option \"-lx\"."}, 3, console, nullptr},
      {{"-q"}, 1, false, {"Unknown option \"-q\"."}, 3, console, nullptr},
      {{"plain"}, 1, false, {"Unknown option \"plain\"."}, 3, console, nullptr},
      {{"-ll", "2", "extra"}, 1, false, {"Unknown option \"extra\"."}, 2, console, nullptr},
      {{"-DeBuG", "", "-ll", "1"}, 0, true, {}, 1, console, nullptr},
  };
  for (const OptionCase& c : table) {
    std::string name;
    for (const std::string& arg : c.args) name += "[" + arg + "]";
    {
      std::lock_guard<std::mutex> hold(g_linesLock);
      g_lines.clear();
    }
    zuLog::setLogLevel(3);
    zuLog::initFile("infoLog.log");
    zuLog::init(nullptr, console);
    TestProcess process;
    EXPECT_EQ(run(process, c.args), c.result) << name;
    EXPECT_EQ(process.phases == kAllPhases, c.mainRuns) << name;
    EXPECT_EQ(loggedLines(), c.lines) << name;
    EXPECT_EQ(zuLog::getLogLevel(), c.level) << name;
    EXPECT_EQ(zuLog::getMode(), c.mode) << name;
    if (c.file) {
      EXPECT_EQ(zuLog::getLogFileName(), c.file) << name;
    }
  }
}

std::string runCapturingStdout(zuProcess& process, const std::vector<std::string>& args,
                               u32& result) {
  std::vector<std::string> all{"program"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  ::testing::internal::CaptureStdout();
  result = process.run(static_cast<u32>(all.size()), argv.data());
  return ::testing::internal::GetCapturedStdout();
}

TEST_F(Process, HelpShowsTheBannerAndVersionTheVersionLines) {
  const std::string platform = "Platform: " + zuGetOSDescription() + "\n";
  const std::string banner =
      "\nTarnwell Update Agent, version 6.2 x64 [31019] -- Tarnwell Update Agent.\n"
      "Part of the Tarnwell Suite.\nBuild date: Jan 27 2010\n" +
      platform + "\n";
  const std::string version =
      "Tarnwell Update Agent, version 6.2 x64 [31019]\nBuild date: Jan 27 2010\n" + platform;
  const std::pair<const char*, std::string> table[] = {
      {"-h", banner}, {"-?", banner}, {"-H", banner}, {"-v", version}, {"-V", version}};
  for (const auto& [option, text] : table) {
    TestProcess process;
    u32 result = 99;
    EXPECT_EQ(runCapturingStdout(process, {option, "ignored"}, result), text) << option;
    EXPECT_EQ(result, 0u) << option;
    EXPECT_EQ(process.phases, (std::vector<std::string>{"preInitialize", "parseArguments"}));
    EXPECT_TRUE(loggedLines().empty()) << option;
  }
}

TEST_F(Process, SocketLibraryThatDoesNotStartEndsTheRun) {
  ASSERT_EQ(zuPlatform::socketStartupCount(), 0u);
  zuPlatform::failSocketStartupForTest(true);
  TestProcess process;
  EXPECT_EQ(run(process, {}), 1u);
  EXPECT_EQ(process.phases, (std::vector<std::string>{"preInitialize"}));
  EXPECT_EQ(loggedLines(), (std::vector<std::string>{"Unable to start network library."}));
  EXPECT_EQ(zuPlatform::socketStartupCount(), 0u);
}

TEST_F(Process, SocketLibraryIsGivenBackOnEveryRoadAfterItStarted) {
  const u32 before = zuPlatform::socketStartupCount();
  const std::vector<std::string> roads[] = {{}, {"-ll", "9"}, {"unknown"}, {"-v"}};
  for (const auto& args : roads) {
    TestProcess process;
    ::testing::internal::CaptureStdout();
    run(process, args);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(zuPlatform::socketStartupCount(), before) << args.size();
    if (args.empty()) {
      EXPECT_EQ(process.socketCountInMain, before + 1);
    }
  }
}

TEST_F(Process, StopSetsTheMainThreadStopEvent) {
  TestProcess process;
  EXPECT_EQ(zuProcess::current(), &process);
  EXPECT_EQ(process.stopEvent(), zuMainThread::instance().stopEvent());
  EXPECT_FALSE(process.isStopRequested());
  process.stop();
  EXPECT_TRUE(process.isStopRequested());
  EXPECT_TRUE(zuMainThread::instance().stopEvent()->isSet());
}

TEST_F(Process, ConsoleControlEventsStopTheCurrentProcess) {
  TestProcess process;
  for (const u32 event : {0u, 1u, 2u}) {
    zuMainThread::instance().stopEvent()->reset();
    EXPECT_TRUE(zuProcess::consoleCtrlHandler(event)) << event;
    EXPECT_TRUE(process.isStopRequested()) << event;
  }
  zuMainThread::instance().stopEvent()->reset();
  EXPECT_FALSE(zuProcess::consoleCtrlHandler(5));  // log-off is not ours
  EXPECT_FALSE(process.isStopRequested());
}

TEST_F(Process, CurrentProcessIsClearedByTheDestructor) {
  { TestProcess process; }
  EXPECT_EQ(zuProcess::current(), nullptr);
  EXPECT_TRUE(zuProcess::consoleCtrlHandler(0));  // handled, nothing to stop
}

TEST_F(Process, CtrlCEndsTheMainWorkAtItsNextTest) {
  zuSingleEvent ready;
  TestProcess process;
  process.mainReady = &ready;
  std::thread sender([&ready] {
    if (!zuThread::waitForObjects(kBoundMs, &ready)) ::kill(::getpid(), SIGINT);
  });
  EXPECT_EQ(run(process, {}), 0u);
  sender.join();
  EXPECT_EQ(process.phases, (std::vector<std::string>{"preInitialize", "parseArguments",
                                                      "initialize", "main", "stopped", "cleanup"}));
}

TEST_F(Process, UnhandledExceptionFilterWritesOneLine) {
  zuPlatform::ExceptionRecord record;
  record.code = 0xC0000005;
  record.address = 0x7FF61234ABCDULL;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(zuProcess::unhandledExceptionFilter(&record), 0);
  EXPECT_EQ(zuProcess::unhandledExceptionFilter(nullptr), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Caught an unhandled exception 0xC0000005 at 0x7FF61234ABCD\n"
            "Caught an unhandled exception 0x0 at 0x0\n");
}

// The frame program as a child: its own console run, ended by a signal.
std::string readUntil(zuExec& child, const std::string& marker) {
  std::string out;
  char buffer[1024];
  while (out.find(marker) == std::string::npos) {
    u32 length = sizeof buffer;
    if (!child.readOutput(buffer, length, kBoundMs, nullptr) || length == 0) break;
    out.append(buffer, length);
  }
  return out;
}

// The lines without their time stamps.
std::vector<std::string> texts(const std::string& output) {
  std::vector<std::string> out;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto blank = line.find(' ');
    out.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
  }
  return out;
}

TEST(ProcessConsoleRun, SignalsEndItCleanlyWithCleanupLogged) {
  for (const int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
    zuExec child;
    ASSERT_TRUE(child.runWithPipes(TW_FRAME_MAIN, "-debug wait")) << child.status();
    std::string output = readUntil(child, "waiting\n");
    ASSERT_NE(output.find("waiting\n"), std::string::npos) << output;
    ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), sig), 0);
    output += readUntil(child, "\n<no such marker>");
    EXPECT_TRUE(child.wait(kBoundMs, nullptr));
    EXPECT_EQ(child.status(), 0u) << sig;
    EXPECT_EQ(texts(output),
              (std::vector<std::string>{"initialize", "main", "waiting", "main ended", "cleanup"}))
        << sig << ": " << output;
  }
}

TEST(ProcessConsoleRun, FaultsReachTheFilterAndEndTheProcess) {
  const struct {
    const char* mode;
    const char* line;
    u32 code;
  } table[] = {
      {"crash", "Caught an unhandled exception 0xC000001D at 0x", 128 + SIGILL},
      {"terminate", "Caught an unhandled exception 0xE06D7363 at 0x0\n", 128 + SIGABRT},
  };
  for (const auto& c : table) {
    zuExec child;
    std::ostringstream out;
    EXPECT_TRUE(
        child.runCapture(TW_FRAME_MAIN, std::string("-debug ") + c.mode, out, kBoundMs, nullptr));
    EXPECT_EQ(child.status(), c.code) << c.mode;
    EXPECT_NE(out.str().find(c.line), std::string::npos) << c.mode << ": " << out.str();
  }
}

}  // namespace
