#pragma once
// The console control handler and the unhandled-exception filter, in the
// shape of SetConsoleCtrlHandler and SetUnhandledExceptionFilter.
//
// Console signals are never handled in signal context (a handler would take
// the event lock there): SIGINT, SIGQUIT, SIGHUP and SIGTERM are blocked in
// the thread that installs the first handler, and so in every thread it starts
// later, and one thread of their own takes them with sigwait and calls the
// handlers. A thread started before that which still receives one passes it
// on to that thread.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Console control events, numbered as Windows numbers them.
inline constexpr u32 kCtrlCEvent = 0;      // SIGINT
inline constexpr u32 kCtrlBreakEvent = 1;  // SIGQUIT
inline constexpr u32 kCtrlCloseEvent = 2;  // SIGHUP; SIGTERM too while no stop handler is set

using ConsoleCtrlHandler = bool (*)(u32 event);

// Adds or removes a handler (a handler added twice is called twice). Handlers
// run on the signal thread, the last added first, until one returns true;
// when none does, the signal takes its default action and the process ends,
// as Windows ends a console process nobody handled. False when the signal
// thread cannot be started or there is no room for another handler.
bool setConsoleCtrlHandler(ConsoleCtrlHandler handler, bool add);

// SIGTERM stands for a stop from the service manager: with a stop handler
// set it is called instead of the console handlers. Null clears it.
using StopRequestHandler = void (*)();
void setStopRequestHandler(StopRequestHandler handler);

// What a fault or an uncaught C++ exception hands to the filter; the code is
// the Windows exception code, the address that of the faulting instruction.
struct ExceptionRecord {
  u32 code = 0;
  u64 address = 0;
};

inline constexpr u32 kExceptionAccessViolation = 0xC0000005;  // SIGSEGV
inline constexpr u32 kExceptionInPageError = 0xC0000006;      // SIGBUS
inline constexpr u32 kExceptionIllegalInstruction = 0xC000001D;
inline constexpr u32 kExceptionFloatInvalid = 0xC0000090;
inline constexpr u32 kExceptionIntDivideByZero = 0xC0000094;
inline constexpr u32 kExceptionIntOverflow = 0xC0000095;
inline constexpr u32 kExceptionCpp = 0xE06D7363;  // a C++ exception nobody caught

// The filter's result is kept for its shape only: afterwards the process
// always ends with the signal's default action (abort for a C++ exception).
using ExceptionFilter = i32 (*)(const ExceptionRecord* record);

// Sets the filter and returns the one before. It is called for SIGSEGV,
// SIGBUS, SIGILL and SIGFPE in signal context, on an alternate stack where the
// thread has one (the installing thread gets one), and for std::terminate. It
// must do only what is safe in a signal handler, such as writeCrashText.
ExceptionFilter setUnhandledExceptionFilter(ExceptionFilter filter);

// Gives the calling thread an alternate signal stack, so that even a stack
// overflow reaches the filter. False when it cannot.
bool prepareCrashStack();

// Writes text and a line end to standard error with write(2) alone; safe in a
// signal handler.
void writeCrashText(const char* text, u32 length);

}  // namespace zuPlatform
