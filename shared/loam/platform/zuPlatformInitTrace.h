#pragma once
// A record of the process-wide objects in the order they were built, so a
// test can see that every global sits at its construction slot. Each owner
// puts an InitNote at its global's slot, right after the global in the same
// file: objects of one slot in one file are built in the order written, so
// the note is built just after the global it stands for.
//
//   ZU_INIT_ORDER(ZU_INIT_LOG_LOCK) zuMemMutex zuLogLock;
//   ZU_INIT_ORDER(ZU_INIT_LOG_LOCK) zuPlatform::InitNote g_logLockNote{ZU_INIT_LOG_LOCK};
#include <vector>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Appends a slot; usable before any other global is built. Past its capacity
// (far more slots than the library has) further notes are dropped.
void noteBuilt(u32 slot);
// The slots noted so far, in order.
std::vector<u32> builtSlots();

class InitNote {
 public:
  explicit InitNote(u32 slot) { noteBuilt(slot); }
};

}  // namespace zuPlatform
