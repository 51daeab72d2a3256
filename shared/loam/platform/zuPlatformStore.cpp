#include "internal/zuPlatformStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRoot.h"

namespace zuPlatform::store {

namespace {

bool isPlainNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::atomic<u64> g_tempCounter{0};

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".")
         : slash == 0               ? std::string("/")
                                    : path.substr(0, slash);
}

// The writer's pid when entry is one of replaceFile's temporary files for a
// file called name ("<name>.tmp.<pid>.<n>"), else 0.
pid_t tempFileWriter(std::string_view entry, std::string_view name) {
  if (!entry.starts_with(name) || !entry.substr(name.size()).starts_with(".tmp.")) return 0;
  entry.remove_prefix(name.size() + 5);
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 20 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const size_t dot = entry.find('.');
  if (dot == std::string_view::npos || !digits(entry.substr(0, dot)) ||
      !digits(entry.substr(dot + 1)))
    return 0;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(entry.data(), entry.data() + dot, pid);
  return ec == std::errc() && end == entry.data() + dot && pid > 0 ? pid : 0;
}

// Removes the temporary files that writers killed in the middle of a
// replacement of target left beside it. Only a writer whose process has
// ended (reaped or not) is known to be done with its file: the name carries
// its pid, and the pid is checked rather than the file's age, since a live
// writer can take any time over a big or slow write. A pid used again by
// another process keeps the leftover until that one is gone too. Our own pid
// is skipped: another thread of ours may be writing. Writers of one file
// share a machine, and so a pid space. Links and anything but regular files
// are left alone.
void removeDeadWritersTempFiles(const std::string& target) {
  const std::string folder = folderOf(target);
  const std::string name = target.substr(target.rfind('/') + 1);
  Fd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.valid()) return;
  DIR* dir = ::fdopendir(dirFd.get());
  if (!dir) return;
  const int fd = dirFd.release();  // closedir closes it
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t pid = tempFileWriter(entry->d_name, name);
    if (pid == 0 || pid == self) continue;
    if (!processEnded(pid)) continue;
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    ::unlinkat(fd, entry->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace

std::string joinPath(const std::string& a, std::string_view b) {
  std::string out = a;
  if (out.empty() || out.back() != '/') out += '/';
  out += b;
  return out;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAsciiCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

std::string escapeName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = lowerAscii(name[i]);
    if (isPlainNameByte(c) && !(i == 0 && c == '.')) {
      out += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

bool isEscapedName(std::string_view text) {
  if (text.empty() || text[0] == '.') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      if (!isUpperHex(text[i + 1]) || !isUpperHex(text[i + 2])) return false;
      i += 2;
    } else if (!isPlainNameByte(text[i])) {
      return false;
    }
  }
  return true;
}

int makeFolders(const std::string& path, mode_t mode) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), mode) == 0 || errno == EEXIST) continue;
    return errno;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int readWholeFile(const std::string& path, std::string& out) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  return readAll(fd.get(), out);
}

int readAll(int fd, std::string& out) {
  char buffer[8192];
  for (;;) {
    const ssize_t n = retryOnSignal([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n < 0) return errno;
    if (n == 0) return 0;
    out.append(buffer, static_cast<size_t>(n));
  }
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = retryOnSignal([&] { return ::write(fd, data.data(), data.size()); });
    if (n < 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

ReplaceResult replaceFile(const std::string& target, std::string_view data, mode_t mode,
                          const struct stat* keepOwnerOf, struct stat* written, bool exactMode) {
  removeDeadWritersTempFiles(target);
  // Unique per process and call, so writers in several processes never share
  // a temporary file; beside the target, so the rename stays on one file system.
  std::string temp;
  Fd fd;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temp = target + ".tmp." + std::to_string(::getpid()) + "." +
           std::to_string(g_tempCounter.fetch_add(1));
    fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
    if (!fd.valid() && errno != EEXIST) return {errno, true};
  }
  if (!fd.valid()) return {EEXIST, true};
  int err = 0;
  if (keepOwnerOf) {
    // Owner before mode, as a change of owner clears set-id bits.
    const bool sameOwner = ::fchown(fd.get(), keepOwnerOf->st_uid, keepOwnerOf->st_gid) == 0;
    static_cast<void>(sameOwner);
  }
  // The umask must not narrow the old mode, nor change an exact one.
  if ((keepOwnerOf || exactMode) && ::fchmod(fd.get(), mode) != 0) err = errno;
  if (err == 0 && !writeAll(fd.get(), data)) err = errno;
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  if (err == 0 && written && ::fstat(fd.get(), written) != 0) err = errno;
  if (::close(fd.release()) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return {err, false};
  }
  syncFolderOf(target);
  return {};
}

int writeFileAtomic(const std::string& path, std::string_view data, mode_t mode) {
  return replaceFile(path, data, mode, nullptr, nullptr).error;
}

void syncFolderOf(const std::string& path) {
  // The rename itself is durable only once the folder is; some file systems
  // cannot sync a folder, and the new contents are safe on disk already.
  Fd fd(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

FileLock::FileLock(const std::string& path)
    : path_(path), fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  if (!fd_.valid()) error_ = errno;
}

namespace {

std::atomic<i64> g_lockWaitBoundMs{kDefaultLockWaitBoundMs};

// Lock files whose last wait ran out, so the next lockers do not wait again.
struct StuckLocks {
  std::mutex mutex;
  std::unordered_set<std::string> paths;
};

StuckLocks& stuckLocks() {
  static StuckLocks stuck;
  return stuck;
}

bool isStuck(const std::string& path) {
  StuckLocks& stuck = stuckLocks();
  std::lock_guard<std::mutex> hold(stuck.mutex);
  return stuck.paths.contains(path);
}

// True when path was not marked before.
bool markStuck(const std::string& path, bool stuckNow) {
  StuckLocks& stuck = stuckLocks();
  std::lock_guard<std::mutex> hold(stuck.mutex);
  if (!stuckNow) return stuck.paths.erase(path) == 1;
  return stuck.paths.insert(path).second;
}

}  // namespace

i64 lockWaitBoundMs() { return g_lockWaitBoundMs.load(); }

void prepareLocks() { (void)stuckLocks(); }

u32 FileLock::windowsError(u32 unmapped) const {
  return error_ == ETIMEDOUT ? kErrorSharingViolation : errorFromErrno(error_, unmapped);
}

bool FileLock::tryLockExclusive() {
  if (!fd_.valid()) return false;
  if (retryOnSignal([&] { return ::flock(fd_.get(), LOCK_EX | LOCK_NB); }) == 0) return true;
  error_ = errno;
  return false;
}

bool FileLock::lockExclusive() {
  if (!fd_.valid()) return false;
  using Clock = std::chrono::steady_clock;
  const bool waitAllowed = !isStuck(path_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(lockWaitBoundMs());
  // Short naps that grow: flock has no time-out of its own.
  auto nap = std::chrono::milliseconds(1);
  for (;;) {
    if (retryOnSignal([&] { return ::flock(fd_.get(), LOCK_EX | LOCK_NB); }) == 0) {
      if (!waitAllowed) markStuck(path_, false);
      return true;
    }
    if (errno != EWOULDBLOCK) {
      error_ = errno;
      return false;
    }
    const auto now = Clock::now();
    if (!waitAllowed || now >= deadline) break;
    std::this_thread::sleep_for(std::min<Clock::duration>(nap, deadline - now));
    nap = std::min(nap * 2, std::chrono::milliseconds(50));
  }
  error_ = ETIMEDOUT;
  if (markStuck(path_, true)) {
    logPlatformFault("Lock " + path_ + " held by another process for more than " +
                     std::to_string(lockWaitBoundMs()) + " ms; gave up waiting");
  }
  return false;
}

bool isLockHeld(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;  // dropped when fd closes
  return errno == EWOULDBLOCK;
}

int openPidfd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));  // always close-on-exec
}

bool processEnded(pid_t pid) {
  const Fd pidfd(openPidfd(pid));
  if (!pidfd.valid()) {
    if (errno == ESRCH) return true;
    // No pidfd for the id (a thread's, or a kernel without them): only a
    // missing process counts as ended.
    return ::kill(pid, 0) != 0 && errno == ESRCH;
  }
  // Readable once every thread of the process has ended, reaped or not.
  return waitReadable(pidfd.get(), 0) == 1;
}

int killByPidfd(int pidfd) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0u));
}

int killGroupByPidfd(int pidfd, pid_t leader) {
  constexpr unsigned kSignalProcessGroup = 4;  // PIDFD_SIGNAL_PROCESS_GROUP, Linux 6.9
  const int rc = static_cast<int>(
      ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, kSignalProcessGroup));
  if (rc == 0 || errno != EINVAL) return rc;
  // An older kernel: the leader is our child and not reaped, so its id (the
  // group's) cannot have been reused.
  const int groupRc = ::kill(-leader, SIGKILL);
  return killByPidfd(pidfd) == 0 ? 0 : groupRc;
}

void logPlatformFault(std::string_view text) {
  std::string line(text);
  line += '\n';
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

int pollFor(std::span<pollfd> fds, i64 timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int slice = -1;
    if (timeoutMs >= 0) {
      const i64 left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      slice = static_cast<int>(std::clamp<i64>(left, 0, std::numeric_limits<int>::max()));
    }
    const int rc = ::poll(fds.data(), fds.size(), slice);
    if (rc >= 0) {
      if (rc > 0 || slice <= 0 || Clock::now() >= end) return rc;
      continue;  // a slice shorter than the wait ran out
    }
    if (errno != EINTR) return -1;
  }
}

int waitReadable(int fd, i64 timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  const int rc = pollFor(std::span<pollfd>(&p, 1), timeoutMs < 0 ? 0 : timeoutMs);
  return rc > 0 ? 1 : rc;
}

}  // namespace zuPlatform::store

namespace zuPlatform {

void setLockWaitBoundForTest(std::optional<std::chrono::milliseconds> bound) {
  store::g_lockWaitBoundMs = bound ? bound->count() : store::kDefaultLockWaitBoundMs;
}

}  // namespace zuPlatform
