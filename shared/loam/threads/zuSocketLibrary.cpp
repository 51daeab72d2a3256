#include "loam/threads/zuSocketLibrary.h"

#include <atomic>

namespace {

bool succeed() { return true; }

constinit std::atomic<zuSocketLibrary::Function> g_startup{succeed};
constinit std::atomic<zuSocketLibrary::Function> g_cleanup{succeed};

}  // namespace

void zuSocketLibrary::install(Function startup, Function cleanup) {
  g_startup.store(startup ? startup : succeed);
  g_cleanup.store(cleanup ? cleanup : succeed);
}

bool zuSocketLibrary::startup() { return g_startup.load()(); }

bool zuSocketLibrary::cleanup() { return g_cleanup.load()(); }
