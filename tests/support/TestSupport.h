#pragma once
// Helpers for tests: a private scratch folder per test, and bounded waits that
// never order events with sleeps.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tw::test {

// Generous bound for waits that only limit a failing test.
inline constexpr std::chrono::milliseconds kFailBound{10000};

// Creates a fresh folder under $TMPDIR (or /tmp) and removes it with its
// contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Points ZU_PLATFORM_ROOT at a fresh folder for the test's length, so each
// test has its own registry, service database and event log.
class PlatformRootTest : public ::testing::Test {
 protected:
  const std::string& root() const { return root_.path(); }

 private:
  ScratchDir root_;
  ScopedEnv rootVariable_{"ZU_PLATFORM_ROOT", root_.path()};
};

// Writes text to path in binary, replacing what was there; a file that cannot
// be opened fails the test.
void writeFile(const std::string& path, const std::string& text);

// The file's bytes; empty when it cannot be read.
std::string readFile(const std::string& path);

// The names of the entries in dir, sorted.
std::vector<std::string> folderNames(const std::string& dir);

// The open flags (O_CLOEXEC among them) of this process's descriptor for
// path, from /proc/self/fdinfo; -1 when none is open.
long openFlagsOf(const std::string& path);

// The id of a process that was started and is gone (reaped).
int goneProcessId();

// A child that has ended and is not reaped yet (a zombie) while this lives;
// reaped when it goes.
class UnreapedChild {
 public:
  UnreapedChild();
  ~UnreapedChild();
  UnreapedChild(const UnreapedChild&) = delete;
  UnreapedChild& operator=(const UnreapedChild&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Waits (bounded) until the process has ended; true when it did. A pid that
// is already gone counts as ended.
bool waitForExit(pid_t pid, std::chrono::milliseconds bound = kFailBound);

// Kills the process of the named stand-in service, if one runs, and waits for
// it: no service process outlives its test's root.
void killServiceProcess(const char* name);

// Lowers the file-size limit for one scope, so writes past it fail (EFBIG)
// as they would on a full disk; the signal that comes with it is ignored.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes);
  ~ScopedFileSizeLimit();
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t oldSignal_ = SIG_DFL;
};

// Polls pred until it is true or the bound passes; returns pred's last value.
// For state that has no event of its own to wait on.
bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds bound = kFailBound);

// A measured figure: a "[ figure ]" line on stdout and a property of the test.
void figure(const std::string& name, long long value);

}  // namespace tw::test
