#include "loam/platform/zuPlatformSignals.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace zuPlatform {

namespace {

// Everything here is trivially destructible: the signal thread runs until
// the process ends, past the destruction of ordinary globals.
constexpr u32 kMaxHandlers = 32;
std::mutex g_lock;
ConsoleCtrlHandler g_handlers[kMaxHandlers] = {};
u32 g_handlerCount = 0;
bool g_threadStarted = false;
pthread_t g_signalThread;
std::atomic<StopRequestHandler> g_stopHandler{nullptr};

std::atomic<ExceptionFilter> g_filter{nullptr};
std::terminate_handler g_previousTerminate = nullptr;
std::once_flag g_crashInstalled;

constexpr int kConsoleSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

sigset_t consoleSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kConsoleSignals) sigaddset(&set, sig);
  return set;
}

// Nobody handled it: the default action ends the process.
void defaultAction(int sig) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(sig, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(sig);
}

void dispatch(int sig) {
  if (sig == SIGTERM) {
    if (const StopRequestHandler stop = g_stopHandler.load()) {
      stop();
      return;
    }
  }
  const u32 event = sig == SIGINT    ? kCtrlCEvent
                    : sig == SIGQUIT ? kCtrlBreakEvent
                                     : kCtrlCloseEvent;
  ConsoleCtrlHandler handlers[kMaxHandlers];
  u32 count = 0;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    count = g_handlerCount;
    std::copy(g_handlers, g_handlers + count, handlers);
  }
  for (u32 i = count; i-- > 0;)
    if (handlers[i](event)) return;
  defaultAction(sig);
}

void* signalThread(void*) {
  const sigset_t set = consoleSignalSet();
  for (;;) {
    int sig = 0;
    if (::sigwait(&set, &sig) == 0) dispatch(sig);
  }
  return nullptr;
}

// Runs in a thread that was started before the signals were blocked.
void forwardSignal(int sig) { ::pthread_kill(g_signalThread, sig); }

// Under g_lock.
bool startSignalThread() {
  if (g_threadStarted) return true;
  const sigset_t set = consoleSignalSet();
  // Blocked here first, so the new thread and every later one inherit it.
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return false;
  ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  const int rc = ::pthread_create(&g_signalThread, &attr, signalThread, nullptr);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) return false;
  g_threadStarted = true;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = forwardSignal;
  action.sa_flags = SA_RESTART;
  sigfillset(&action.sa_mask);
  for (const int sig : kConsoleSignals) ::sigaction(sig, &action, nullptr);
  return true;
}

u32 exceptionCode(int sig, const siginfo_t* info) {
  switch (sig) {
    case SIGSEGV:
      return kExceptionAccessViolation;
    case SIGBUS:
      return kExceptionInPageError;
    case SIGILL:
      return kExceptionIllegalInstruction;
    default:
      if (info && info->si_code == FPE_INTDIV) return kExceptionIntDivideByZero;
      if (info && info->si_code == FPE_INTOVF) return kExceptionIntOverflow;
      return kExceptionFloatInvalid;
  }
}

u64 faultAddress(const siginfo_t* info, void* context) {
#if defined(__x86_64__)
  if (context)
    return static_cast<u64>(static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  if (context) return static_cast<u64>(static_cast<const ucontext_t*>(context)->uc_mcontext.pc);
#endif
  return info ? reinterpret_cast<u64>(info->si_addr) : 0;
}

void crashHandler(int sig, siginfo_t* info, void* context) {
  const ExceptionRecord record{exceptionCode(sig, info), faultAddress(info, context)};
  if (const ExceptionFilter filter = g_filter.load()) filter(&record);
  // SA_RESETHAND has put the default back; the raised signal is delivered
  // when the handler returns (a real fault would also strike again).
  ::raise(sig);
}

[[noreturn]] void onTerminate() {
  const ExceptionRecord record{kExceptionCpp, 0};
  if (const ExceptionFilter filter = g_filter.load()) filter(&record);
  if (g_previousTerminate) g_previousTerminate();
  std::abort();
}

void installCrashHandlers() {
  prepareCrashStack();
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = crashHandler;
  action.sa_flags = static_cast<int>(SA_SIGINFO | SA_ONSTACK | SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  for (const int sig : kCrashSignals) ::sigaction(sig, &action, nullptr);
  g_previousTerminate = std::set_terminate(onTerminate);
}

}  // namespace

bool setConsoleCtrlHandler(ConsoleCtrlHandler handler, bool add) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!startSignalThread()) return false;
  if (!handler) return true;
  if (add) {
    if (g_handlerCount == kMaxHandlers) return false;
    g_handlers[g_handlerCount++] = handler;
    return true;
  }
  for (u32 i = g_handlerCount; i-- > 0;) {
    if (g_handlers[i] == handler) {
      std::copy(g_handlers + i + 1, g_handlers + g_handlerCount, g_handlers + i);
      --g_handlerCount;
      return true;
    }
  }
  return false;
}

void setStopRequestHandler(StopRequestHandler handler) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    startSignalThread();
  }
  g_stopHandler.store(handler);
}

ExceptionFilter setUnhandledExceptionFilter(ExceptionFilter filter) {
  std::call_once(g_crashInstalled, installCrashHandlers);
  return g_filter.exchange(filter);
}

bool prepareCrashStack() {
  // The stack is given back to the system before its memory is freed when
  // the thread ends.
  struct CrashStack {
    std::unique_ptr<char[]> memory;
    ~CrashStack() {
      if (!memory) return;
      stack_t off;
      std::memset(&off, 0, sizeof off);
      off.ss_flags = SS_DISABLE;
      ::sigaltstack(&off, nullptr);
    }
  };
  constexpr std::size_t kStackSize = 64 * 1024;
  thread_local CrashStack stack;
  if (stack.memory) return true;
  std::unique_ptr<char[]> memory(new (std::nothrow) char[kStackSize]);
  if (!memory) return false;
  stack_t alternate;
  std::memset(&alternate, 0, sizeof alternate);
  alternate.ss_sp = memory.get();
  alternate.ss_size = kStackSize;
  if (::sigaltstack(&alternate, nullptr) != 0) return false;
  stack.memory = std::move(memory);
  return true;
}

void writeCrashText(const char* text, u32 length) {
  char line[512];
  const u32 n = length < sizeof line - 1 ? length : static_cast<u32>(sizeof line - 1);
  std::memcpy(line, text, n);
  line[n] = '\n';
  ssize_t ignored = ::write(STDERR_FILENO, line, n + 1);
  (void)ignored;
}

}  // namespace zuPlatform
