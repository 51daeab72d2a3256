#pragma once
// Child processes in the shape of CreateProcess and the process handle it
// returns. The handle is a pidfd: it becomes readable when the child ends, so
// a child, events and sockets can be waited on together, and the child stays
// a zombie (its exit code readable) until the handle is closed. A child whose
// handle is closed while it still runs is reaped by a reaper thread when it
// ends; nothing here ever waits for "any child", which would steal the exit
// codes of children started elsewhere.
#include <string>
#include <vector>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// The exit code read while the child still runs (STILL_ACTIVE).
inline constexpr u32 kStillActive = 259;
// A child ended by signal n reads exit code kSignalExitBase + n, as a shell reports it.
inline constexpr u32 kSignalExitBase = 128;

// Splits a command line the way a Windows program's C runtime builds its argv
// (nothing for a line of blanks only): after any leading blanks and tabs,
// the program name runs to the first blank or tab outside double quotes
// (quotes dropped, backslashes literal); each further argument is split at
// blanks and tabs outside quotes, where 2n backslashes before a quote give n
// backslashes and the quote opens or closes a quoted part, 2n+1 give n
// backslashes and a literal quote, two quotes inside a quoted part give one
// literal quote, and other backslashes are literal.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

struct ProcessInfo {
  Handle process = kInvalidHandle;  // readable once the child has ended
  u32 processId = 0;
  u32 threadId = 0;  // the child's first thread; on Linux its number is the process id
};

// Starts the program named by the command line's first word ('\' read as
// '/'; looked up on PATH when it holds no separator) with the words as its
// arguments, never through a shell. The child gets a session of its own (it is
// detached from the console, so a Ctrl-C there does not reach it), default
// signal dispositions, an empty signal mask, the parent's environment and
// current folder, input as its standard input and output as its standard
// output and error, /dev/null for either when it is invalid; no other
// descriptor reaches it. Returns a Windows error number (0 on success;
// a missing program gives 2); out is filled on success only.
u32 startProcess(const std::string& commandLine, Handle input, Handle output, ProcessInfo& out);

// The exit code of the child behind the handle, kStillActive while it runs,
// kSignalExitBase + n after death by signal n. Reading does not reap it.
// False (with a Windows error number in error) when the handle is no child's.
bool processExitCode(Handle process, u32& code, u32& error);

// Closes a process handle. A child that has ended is reaped now; one that
// still runs is handed to the reaper, which reaps it when it ends.
void closeProcess(Handle process);

// Ignores SIGPIPE for the whole process (once): writing to a pipe or socket
// whose reader is gone then fails with EPIPE instead of ending the process.
void ignoreBrokenPipeSignal();

}  // namespace zuPlatform
