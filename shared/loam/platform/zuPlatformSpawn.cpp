#include "internal/zuPlatformSpawn.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>

#include "loam/platform/zuPlatformError.h"

namespace zuPlatform::spawn {

SpawnSetup::SpawnSetup() {
  err_ = ::posix_spawnattr_init(&attr_);
  if (err_ == 0) err_ = ::posix_spawn_file_actions_init(&actions_);
  if (err_ != 0) return;
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  err_ = ::posix_spawnattr_setsigmask(&attr_, &none);
  if (err_ == 0) err_ = ::posix_spawnattr_setsigdefault(&attr_, &all);
  if (err_ == 0) {
    err_ = ::posix_spawnattr_setflags(
        &attr_,
        static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  }
}

SpawnSetup::~SpawnSetup() {
  ::posix_spawn_file_actions_destroy(&actions_);
  ::posix_spawnattr_destroy(&attr_);
}

Handle SpawnSetup::source(Handle fd) {
  if (fd >= 3) return fd;
  OwnedHandle copy(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (!copy.valid()) {
    err_ = errno;
    return fd;
  }
  const Handle raw = copy.get();
  temporaries_.push_back(std::move(copy));
  return raw;
}

void SpawnSetup::standardHandle(Handle fd, int target, int nullMode) {
  if (err_ != 0) return;
  if (isValidHandle(fd)) {
    const Handle from = source(fd);
    if (err_ == 0) err_ = ::posix_spawn_file_actions_adddup2(&actions_, from, target);
  } else {
    err_ = ::posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", nullMode, 0);
  }
}

void SpawnSetup::openStandard(int target, const char* path, int flags, mode_t mode) {
  if (err_ == 0) err_ = ::posix_spawn_file_actions_addopen(&actions_, target, path, flags, mode);
}

void SpawnSetup::copyStandard(int from, int target) {
  if (err_ == 0) err_ = ::posix_spawn_file_actions_adddup2(&actions_, from, target);
}

void SpawnSetup::workingFolder(const char* folder) {
  if (err_ == 0) err_ = ::posix_spawn_file_actions_addchdir_np(&actions_, folder);
}

int SpawnSetup::spawn(pid_t& pid, char* const* argv, char* const* envp, bool search) {
  // Everything is close-on-exec already; this also keeps out a descriptor
  // that some other code opened without the flag.
  if (err_ == 0) err_ = ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  if (err_ != 0) return err_;
  return search ? ::posix_spawnp(&pid, argv[0], &actions_, &attr_, argv, envp)
                : ::posix_spawn(&pid, argv[0], &actions_, &attr_, argv, envp);
}

u32 spawnErrorFromErrno(int err) {
  if (err == ENOEXEC || err == ELIBBAD) return kErrorBadExeFormat;
  return errorFromErrno(err);
}

}  // namespace zuPlatform::spawn
