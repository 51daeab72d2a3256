#include "loam/platform/zuPlatformProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "internal/zuPlatformSpawn.h"
#include "internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformSignals.h"

namespace zuPlatform {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

u32 exitCodeOf(const siginfo_t& info) {
  const auto status = static_cast<u32>(info.si_status);
  if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) return kSignalExitBase + status;
  return status & 0xFF;
}

// waitid on one pidfd; EINTR is retried.
int waitChild(Handle process, siginfo_t& info, int flags) {
  std::memset(&info, 0, sizeof info);
  return store::retryOnSignal(
      [&] { return ::waitid(P_PIDFD, static_cast<id_t>(process), &info, flags); });
}

// Reaps the child when it has ended. True when nothing is left to wait for
// (reaped now, or no longer a child of ours).
bool tryReap(Handle process) {
  siginfo_t info;
  if (waitChild(process, info, WEXITED | WNOHANG) == 0) return info.si_pid != 0;
  return errno == ECHILD || errno == EBADF;
}

// Holds the handles of children nobody waits for any more and reaps each one
// when it ends. It is built on first use and joins its thread at exit.
class Reaper {
 public:
  static Reaper& instance() {
    static Reaper reaper;
    return reaper;
  }
  static bool gone() { return gone_.load(std::memory_order_acquire); }

  void adopt(Handle process) {
    std::lock_guard<std::mutex> hold(mutex_);
    // Without a thread (it could not be created) each adoption sweeps instead.
    sweep(nullptr);
    children_.emplace_back(process);
    if (!started_) startThread();
    if (started_) setEvent(wake_.get());
  }

  ~Reaper() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      quit_ = true;
    }
    if (started_) {
      setEvent(wake_.get());
      thread_.join();
    }
    // Children still running are taken over by init when the process ends.
    children_.clear();
    wake_.reset();
    gone_.store(true, std::memory_order_release);
  }

 private:
  Reaper() = default;

  void startThread() {
    wake_.reset(createEvent());
    if (!wake_.valid()) return;
    try {
      thread_ = std::thread([this] {
        prepareCrashStack();
        loop();
      });
      started_ = true;
    } catch (const std::system_error&) {
      wake_.reset();
    }
  }

  // Under the lock: reaps the ended children (all of them, or those whose
  // poll entry shows an event).
  void sweep(const std::vector<pollfd>* polled) {
    for (std::size_t i = children_.size(); i-- > 0;) {
      if (polled) {
        bool ready = false;
        for (const pollfd& entry : *polled)
          if (entry.fd == children_[i].get() && entry.revents != 0) ready = true;
        if (!ready) continue;
      }
      if (tryReap(children_[i].get())) {
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }

  void loop() {
    constexpr auto kFirstBackoff = std::chrono::milliseconds(10);
    constexpr auto kLastBackoff = std::chrono::milliseconds(1000);
    auto backoff = std::chrono::milliseconds(0);
    std::vector<pollfd> entries;
    for (;;) {
      entries.clear();
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (quit_) return;
        entries.push_back(pollfd{wake_.get(), POLLIN, 0});
        for (const OwnedHandle& child : children_) {
          entries.push_back(pollfd{child.get(), POLLIN, 0});
        }
      }
      if (store::pollFor(entries, -1) < 0) {
        // Not a signal (pollFor retries those): a lasting error such as
        // ENOMEM or too many descriptors. Said once, then tried again
        // less and less often rather than in a tight loop.
        if (backoff == std::chrono::milliseconds(0)) {
          store::logPlatformFault(std::string("Child reaper: poll failed, ") +
                                  std::strerror(errno) + "; retrying");
          backoff = kFirstBackoff;
        } else {
          backoff = std::min(backoff * 2, kLastBackoff);
        }
        std::this_thread::sleep_for(backoff);
        continue;
      }
      backoff = std::chrono::milliseconds(0);
      if (entries[0].revents != 0) resetEvent(wake_.get());
      std::lock_guard<std::mutex> hold(mutex_);
      sweep(&entries);
    }
  }

  static inline std::atomic<bool> gone_{false};
  std::mutex mutex_;
  std::vector<OwnedHandle> children_;
  OwnedHandle wake_;
  bool quit_ = false;
  bool started_ = false;
  std::thread thread_;
};

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  const std::size_t n = commandLine.size();
  std::size_t i = 0;
  // Blanks before the program, as CreateProcess skips them.
  while (i < n && isBlank(commandLine[i])) ++i;
  if (i == n) return words;

  // The program name: quotes toggle, nothing is escaped.
  std::string program;
  bool quoted = false;
  while (i < n && (quoted || !isBlank(commandLine[i]))) {
    if (commandLine[i] == '"')
      quoted = !quoted;
    else
      program += commandLine[i];
    ++i;
  }
  words.push_back(program);

  for (;;) {
    while (i < n && isBlank(commandLine[i])) ++i;
    if (i >= n) break;
    std::string word;
    quoted = false;
    while (i < n) {
      std::size_t backslashes = 0;
      while (i < n && commandLine[i] == '\\') {
        ++backslashes;
        ++i;
      }
      bool copy = true;
      if (i < n && commandLine[i] == '"') {
        if (backslashes % 2 == 0) {
          if (quoted && i + 1 < n && commandLine[i + 1] == '"')
            ++i;  // "" inside quotes: one literal quote
          else {
            copy = false;
            quoted = !quoted;
          }
        }
        backslashes /= 2;
      }
      word.append(backslashes, '\\');
      if (i >= n || (!quoted && isBlank(commandLine[i]))) break;
      if (copy) word += commandLine[i];
      ++i;
    }
    words.push_back(word);
  }
  return words;
}

void ignoreBrokenPipeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
  });
}

u32 startProcess(const std::string& commandLine, Handle input, Handle output, ProcessInfo& out) {
  ignoreBrokenPipeSignal();
  std::vector<std::string> words = splitCommandLine(commandLine);
  if (words.empty() || words[0].empty()) return kFileErrorFileNotFound;
  words[0] = nativePath(words[0]);
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  spawn::SpawnSetup setup;
  setup.standardHandle(input, 0, O_RDONLY);
  setup.standardHandle(output, 1, O_WRONLY);
  setup.standardHandle(output, 2, O_WRONLY);
  pid_t pid = 0;
  if (const int err = setup.spawn(pid, argv.data(), environ, true); err != 0) {
    return spawn::spawnErrorFromErrno(err);
  }

  const int pidfd = store::openPidfd(pid);
  if (pidfd < 0) {
    // Signals go through a pidfd only, so a child without one is left to
    // run; it stays a zombie of ours once it ends.
    const int err = errno;
    store::logPlatformFault("Process " + std::to_string(pid) + " started without a pidfd (" +
                            std::strerror(err) + "); it is not signalled or waited for");
    return spawn::spawnErrorFromErrno(err);
  }
  out.process = pidfd;
  out.processId = static_cast<u32>(pid);
  out.threadId = static_cast<u32>(pid);
  return kFileErrorNone;
}

bool processExitCode(Handle process, u32& code, u32& error) {
  siginfo_t info;
  if (!isValidHandle(process) || waitChild(process, info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    error = kErrorInvalidHandle;
    return false;
  }
  code = info.si_pid == 0 ? kStillActive : exitCodeOf(info);
  return true;
}

void closeProcess(Handle process) {
  if (!isValidHandle(process)) return;
  if (tryReap(process) || Reaper::gone()) {
    closeHandle(process);
    return;
  }
  Reaper::instance().adopt(process);
}

}  // namespace zuPlatform
