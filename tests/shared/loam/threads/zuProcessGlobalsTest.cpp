#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "loam/base/zuFile.h"
#include "loam/base/zuMessageCatalog.h"
#include "loam/base/zuRandom.h"
#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/platform/zuPlatformRandom.h"
#include "loam/threads/zuAlloc.h"
#include "loam/threads/zuAllocGuard.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuMessages.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TW_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TW_SANITIZED_ALLOCATOR 1
#endif
#endif

namespace {

// Probes built between the library's slots: each notes itself in the trace
// and checks that the globals of the slots before it are already usable.
bool g_guardBeforeEverything = false;
bool g_logUsableAfterItsSlots = false;
bool g_catalogUsableAfterItsSlot = false;
bool g_mainThreadUsableAfterItsSlot = false;
bool g_mainThreadSeeded = false;
bool g_messageQueueUsableAfterItsSlot = false;

bool g_probeSawLine = false;
bool probeWatcher(u32, const char* text) {
  g_probeSawLine = std::strcmp(text, "probe") == 0;
  return true;
}

struct GuardProbe {
  GuardProbe() {
    zuPlatform::noteBuilt(ZU_INIT_ALLOC_GUARD + 1);
    g_guardBeforeEverything = std::get_new_handler() == &zuThrowBadAlloc;
  }
};
ZU_INIT_ORDER(ZU_INIT_ALLOC_GUARD + 1) GuardProbe g_guardProbe;

struct LogProbe {
  LogProbe() {
    zuPlatform::noteBuilt(ZU_INIT_LOG_LOCK + 1);
    zuLog::addListener(&probeWatcher);
    zuLog::write(0, "probe");
    zuLog::removeListener(&probeWatcher);
    g_logUsableAfterItsSlots = g_probeSawLine && zuLog::getLogFileName() == "infoLog.log" &&
                               zuLog::getMode() == zuLog::kModeConsole && zuLog::getLogLevel() == 3;
  }
};
ZU_INIT_ORDER(ZU_INIT_LOG_LOCK + 1) LogProbe g_logProbe;

struct CatalogProbe {
  CatalogProbe() {
    zuPlatform::noteBuilt(ZU_INIT_MESSAGE_CATALOG + 1);
    zuMessageCatalog::set(4242, "probe");
    g_catalogUsableAfterItsSlot = std::strcmp(zuMessageCatalog::text(4242), "probe") == 0;
    zuMessageCatalog::clear();
  }
};
ZU_INIT_ORDER(ZU_INIT_MESSAGE_CATALOG + 1) CatalogProbe g_catalogProbe;

struct MainThreadProbe {
  MainThreadProbe() {
    zuPlatform::noteBuilt(ZU_INIT_MAIN_THREAD + 1);
    zuMainThread& m = zuMainThread::instance();
    g_mainThreadUsableAfterItsSlot = m.state() == zuThread::kStateRunning && !m.isBound() &&
                                     m.parent() == nullptr && !m.stopEvent()->isSet() &&
                                     zuThread::threadCount() == 0;
    // It seeded this thread's C generator: not the unseeded 41, 18467, 6334.
    const u32 first[3] = {zuPlatform::crtRand(), zuPlatform::crtRand(), zuPlatform::crtRand()};
    g_mainThreadSeeded = !(first[0] == 41 && first[1] == 18467 && first[2] == 6334);
  }
};
ZU_INIT_ORDER(ZU_INIT_MAIN_THREAD + 1) MainThreadProbe g_mainThreadProbe;

struct MessageQueueProbe {
  MessageQueueProbe() {
    zuPlatform::noteBuilt(ZU_INIT_MESSAGE_QUEUE + 1);
    zuMessages::post(zuMessage("probe"));
    u32 tag = 1;
    zuMessage taken;
    g_messageQueueUsableAfterItsSlot =
        zuMessages::next(tag, taken) && tag == 0 && taken.text() == "probe";
  }
};
ZU_INIT_ORDER(ZU_INIT_MESSAGE_QUEUE + 1) MessageQueueProbe g_messageQueueProbe;

TEST(ProcessGlobals, AreBuiltInTheirSlotOrder) {
  // Keeps every owner's file in this program.
  (void)zuRandomDefaultSeed();
  (void)zuLogLock.isLocked();
  (void)zuGetModulePath();
  (void)zuThread::threadCount();
  const std::vector<u32> built = zuPlatform::builtSlots();
  EXPECT_TRUE(std::is_sorted(built.begin(), built.end()));
  EXPECT_EQ(std::adjacent_find(built.begin(), built.end()), built.end()) << "a slot noted twice";
  const std::vector<u32> expected = {
      ZU_INIT_ALLOC_GUARD,   ZU_INIT_ALLOC_GUARD + 1,   ZU_INIT_LOG_NAME,
      ZU_INIT_LOG_LISTENERS, ZU_INIT_LOG_FILE_NAME,     ZU_INIT_LOG_LOCK,
      ZU_INIT_LOG_LOCK + 1,  ZU_INIT_MESSAGE_CATALOG,   ZU_INIT_MESSAGE_CATALOG + 1,
      ZU_INIT_EVENT_LOCK,    ZU_INIT_THREAD_REGISTRY,   ZU_INIT_REGISTRY_LOCK,
      ZU_INIT_MAIN_THREAD,   ZU_INIT_MAIN_THREAD + 1,   ZU_INIT_MESSAGE_QUEUE_LOCK,
      ZU_INIT_MESSAGE_QUEUE, ZU_INIT_MESSAGE_QUEUE + 1, ZU_INIT_DEFAULT_RANDOM_SEED,
      ZU_INIT_MODULE_PATH,   ZU_INIT_MODULE_FOLDER,     ZU_INIT_MODULE_FILE_NAME,
  };
  for (const u32 slot : expected) {
    EXPECT_NE(std::find(built.begin(), built.end(), slot), built.end()) << "slot " << slot;
  }
}

TEST(ProcessGlobals, EachIsUsableFromTheNextSlot) {
  EXPECT_TRUE(g_guardBeforeEverything);
  EXPECT_TRUE(g_logUsableAfterItsSlots);
  EXPECT_TRUE(g_catalogUsableAfterItsSlot);
  EXPECT_TRUE(g_mainThreadUsableAfterItsSlot);
  EXPECT_TRUE(g_mainThreadSeeded);
  EXPECT_TRUE(g_messageQueueUsableAfterItsSlot);
}

TEST(AllocGuard, TheNewHandlerThrowsBadAllocation) {
  EXPECT_EQ(std::get_new_handler(), &zuThrowBadAlloc);
  try {
    zuThrowBadAlloc();
    FAIL() << "no exception";
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "bad allocation");
  }
}

#ifndef TW_SANITIZED_ALLOCATOR
// Keeps the allocations below from being optimised away.
char* volatile g_sink = nullptr;

// In a child with its address space capped, each allocation must fail with
// the guard's exception. Exit code: 0 all good, else the first failing step.
int allocateInCappedChild() {
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = rlim_t{1} << 30;
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 10;
  constexpr std::size_t kHuge = std::size_t{2} << 30;
  int step = 0;
  auto expectBadAllocation = [&step](auto&& allocate) {
    ++step;
    try {
      allocate();
    } catch (const std::bad_alloc& e) {
      return std::strcmp(e.what(), "bad allocation") == 0;
    } catch (...) {
    }
    return false;
  };
  if (!expectBadAllocation([] {
        g_sink = new char[kHuge];
        delete[] g_sink;
      }))
    return step;
  if (!expectBadAllocation([] {
        std::vector<char> v(kHuge);
        g_sink = v.data();
      }))
    return step;
  if (!expectBadAllocation([] {
        std::string s(kHuge, 'x');
        g_sink = s.data();
      }))
    return step;
  if (!expectBadAllocation([] {
        zuAlloc block(0xF0000000u);
        g_sink = block.chars();
      }))
    return step;
  if (!expectBadAllocation([] {
        zuAlloc block(16);
        block.grow(0xF0000000u);
      }))
    return step;
  return 0;
}
#endif

TEST(AllocGuard, AllocationFailureThrowsBadAllocation) {
#ifdef TW_SANITIZED_ALLOCATOR
  GTEST_SKIP() << "the sanitizer's allocator reports exhaustion itself and never calls the "
                  "new-handler";
#else
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(allocateInCappedChild());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failing step";
#endif
}

}  // namespace
