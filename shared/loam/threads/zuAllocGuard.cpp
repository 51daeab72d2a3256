#include "loam/threads/zuAllocGuard.h"

#include <cstdlib>

#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"

const char zuAllocGuardLinked = 0;

namespace {

class zuBadAllocation : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};

constinit std::new_handler g_previousHandler = nullptr;
constinit bool g_installed = false;

void restoreGuard() { std::set_new_handler(g_previousHandler); }

void installGuard() {
  if (g_installed) return;
  g_installed = true;
  g_previousHandler = std::set_new_handler(&zuThrowBadAlloc);
  // The first exit handler of the process runs last.
  std::atexit(&restoreGuard);
}

// Run by the C library before any initializer of the program or of the
// shared libraries it was linked with.
[[gnu::used, gnu::section(".preinit_array")]] void (*g_preinitGuard)() = &installGuard;

struct AllocGuard {
  AllocGuard() { installGuard(); }
};

ZU_INIT_ORDER(ZU_INIT_ALLOC_GUARD) AllocGuard g_allocGuard;
ZU_INIT_ORDER(ZU_INIT_ALLOC_GUARD) zuPlatform::InitNote g_allocGuardNote{ZU_INIT_ALLOC_GUARD};

}  // namespace

void zuThrowBadAlloc() { throw zuBadAllocation(); }
