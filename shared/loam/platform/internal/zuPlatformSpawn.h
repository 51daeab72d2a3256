#pragma once
// Internal: the one way the platform starts a program (posix_spawn, never a
// shell). Every child starts clean: a session of its own (so a Ctrl-C at the
// console does not reach it), default signal dispositions, an empty signal
// mask, only the standard handles set up here, and nothing else inherited
// even from code that opened a descriptor without close-on-exec.
#include <spawn.h>
#include <sys/types.h>

#include <vector>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform::spawn {

// posix_spawn's attributes and file actions, destroyed on every path. The
// first failure is kept in error() and later steps do nothing.
class SpawnSetup {
 public:
  SpawnSetup();
  ~SpawnSetup();
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The child's standard handle target (0, 1 or 2) is a copy of fd, or
  // /dev/null opened with nullMode when fd is invalid.
  void standardHandle(Handle fd, int target, int nullMode);
  // The child's target is path, opened with flags and mode.
  void openStandard(int target, const char* path, int flags, mode_t mode);
  // The child's target is a copy of its own from (after the steps before).
  void copyStandard(int from, int target);
  // The child starts in folder.
  void workingFolder(const char* folder);

  // Starts argv[0] (looked up on PATH when search is set) with envp; 0 or
  // the errno of the failure.
  [[nodiscard]] int spawn(pid_t& pid, char* const* argv, char* const* envp, bool search);

  int error() const { return err_; }

 private:
  // A source below 3 could be overwritten by an earlier dup2 onto 0, 1 or 2;
  // such a source is copied above them first.
  Handle source(Handle fd);

  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
  std::vector<OwnedHandle> temporaries_;
  int err_ = 0;
};

// The Windows error for a failed start: 193 for a file that is no program,
// otherwise as zuPlatformError.h maps the errno.
[[nodiscard]] u32 spawnErrorFromErrno(int err);

}  // namespace zuPlatform::spawn
