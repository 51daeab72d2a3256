#pragma once
// Internal helpers of the stand-ins for the registry, the service control
// manager and the event log: file-name escaping, atomic
// file replacement and flock-based locks shared between processes. Not for
// use outside the platform folder.
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <span>
#include <string>
#include <string_view>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform::store {

// Calls f again while it fails with EINTR (returns -1 with errno EINTR); its
// result otherwise.
template <typename F>
auto retryOnSignal(F&& f) -> decltype(f()) {
  for (;;) {
    const auto rc = f();
    if (rc != -1 || errno != EINTR) return rc;
  }
}

inline constexpr i64 kDefaultLockWaitBoundMs = 10000;

// a + "/" + b.
std::string joinPath(const std::string& a, std::string_view b);

char lowerAscii(char c);
std::string lowerAsciiCopy(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);

// The folder or file name that stands for a name that may come from anywhere
// (the network included): ASCII letters folded to lower case, every byte
// outside [a-z0-9._-] and a leading dot written as %XX, so the result is never
// empty-looking, ".", "..", hidden or a path. Equal results mean names that are
// equal without regard to ASCII case.
std::string escapeName(std::string_view name);
// True when text could be a result of escapeName (used to check names that
// come back to us through the environment).
bool isEscapedName(std::string_view text);

// mkdir -p with the given mode for the folders it makes. 0 or errno.
[[nodiscard]] int makeFolders(const std::string& path, mode_t mode);

// Whole file into out. 0 or errno (ENOENT for a missing file).
[[nodiscard]] int readWholeFile(const std::string& path, std::string& out);
// What is left to read from fd, appended to out. 0 or errno.
[[nodiscard]] int readAll(int fd, std::string& out);

// Writes all of data (EINTR and short writes retried). False with errno.
[[nodiscard]] bool writeAll(int fd, std::string_view data);

// The one atomic replacement: data goes to a new temporary file beside
// target (created exclusively, ".tmp.<pid>.<n>" after the name), is synced
// to disk and renamed over target, and the folder is synced (syncFolderOf),
// so a reader sees the old content or the new one, never a mixture, and the
// new one survives a crash once this returns. With keepOwnerOf, the new file
// takes that file's owner where it may; with keepOwnerOf or exactMode it has
// exactly mode, whatever the umask.
// written receives the new file's stat. The temporary file never outlives a
// failure; those of writers killed before they finished (their pid is gone)
// are removed first.
struct ReplaceResult {
  int error = 0;          // 0 or errno
  bool creating = false;  // the temporary file could not be made
};
[[nodiscard]] ReplaceResult replaceFile(const std::string& target, std::string_view data,
                                        mode_t mode, const struct stat* keepOwnerOf,
                                        struct stat* written, bool exactMode = false);

// replaceFile without an owner to keep. 0 or errno.
[[nodiscard]] int writeFileAtomic(const std::string& path, std::string_view data, mode_t mode);

// Makes a rename or create in path's folder durable, where the file system can.
void syncFolderOf(const std::string& path);

// An owned file descriptor.
using Fd = OwnedHandle;

// flock() on a lock file, created when missing. flock belongs to the open
// file, so two of these in one process exclude each other as two processes
// do, and the kernel drops a dead holder's lock.
//
// A holder in another process can be stopped or hung, so every wait has a
// bound (10 s unless a test sets it): past it the lock fails with ETIMEDOUT
// and one line goes to standard error. Until someone takes that lock again,
// later lockers of it try once and do not wait, so a stuck holder costs one
// bound, not one per call.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  bool valid() const { return fd_.valid(); }
  int error() const { return error_; }
  // Takes the exclusive lock within the bound. False (errno in error(),
  // ETIMEDOUT when the bound passed) on failure.
  [[nodiscard]] bool lockExclusive();
  // One attempt, no wait: false with EWOULDBLOCK in error() when another
  // holds the lock.
  [[nodiscard]] bool tryLockExclusive();
  // The Windows error of the failure: 32 when the bound passed, else the
  // errno's (unmapped for one the table does not name).
  u32 windowsError(u32 unmapped) const;
  int fd() const { return fd_.get(); }
  // The fd, for a lock that is kept for the process's life.
  int releaseFd() { return fd_.release(); }

 private:
  std::string path_;
  Fd fd_;
  int error_ = 0;
};

// The bound on waiting for a cross-process lock.
i64 lockWaitBoundMs();

// Builds the state that locks keep across calls now: an object built after
// this call is destroyed before it, so it may still take locks while it goes.
void prepareLocks();

// True when some open file holds an exclusive flock on path (a missing file is
// not held). Takes and drops a shared lock without waiting to find out.
bool isLockHeld(const std::string& path);

// pidfd_open and pidfd_send_signal(SIGKILL) through syscall (the C library's
// header lacks C linkage in this release). -1 with errno on failure.
[[nodiscard]] int openPidfd(pid_t pid);
int killByPidfd(int pidfd);
// SIGKILL to the process group that the child behind pidfd leads. The
// caller has not reaped the child (so on kernels without group signals by
// pidfd its id still names its group). -1 with errno on failure.
int killGroupByPidfd(int pidfd, pid_t leader);
// True when nothing runs under pid any more: no process has the id, or only
// one that has ended and that its parent has not reaped yet (a zombie holds no
// file, lock or socket). A process whose first thread ended while others run
// still runs. For leftovers named after the process that made them.
bool processEnded(pid_t pid);

// One line on standard error, for faults the platform meets and cannot hand
// to a caller (a single write, safe from any thread).
void logPlatformFault(std::string_view text);

// poll() that retries EINTR with the time left: ready count, 0 when
// timeoutMs (negative: no limit) passed, -1 with errno on any other error.
[[nodiscard]] int pollFor(std::span<pollfd> fds, i64 timeoutMs);

// Waits up to timeoutMs for fd to become readable (POLLIN or hang-up).
// 1 readable, 0 time-out, -1 error.
[[nodiscard]] int waitReadable(int fd, i64 timeoutMs);

}  // namespace zuPlatform::store
