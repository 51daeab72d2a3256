#pragma once
// Runs another program as a child process, optionally with its standard
// output (and error) going to a file or to a pipe the parent reads, or its
// standard input fed through a pipe, and waits for it with a time limit and a
// stop event. Failed steps leave their Windows error number in status and
// make the call return false; nothing throws. A zuExec belongs to one thread.
#include <ostream>
#include <string>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

class zuEvent;

class zuExec {
 public:
  // Exit code read while the child still runs.
  static constexpr u32 kStillActive = 259;
  static constexpr u32 kDefaultPipeSize = 10240;
  static constexpr u32 kMinPipeSize = 64;
  static constexpr u32 kReadBlockSize = 10240;
  static constexpr u32 kRunAndWaitMs = 300000;

  zuExec() = default;
  zuExec(const zuExec&) = delete;
  zuExec& operator=(const zuExec&) = delete;
  // Closes the four pipe and file handles; a child still held is handed to
  // the reaper (it keeps running).
  virtual ~zuExec();

  // Starts the command line: program, and when arguments are given, one
  // blank and the arguments, split as a Windows program splits its command
  // line (never run through a shell). Standard input is the child input
  // handle, output and error the child output handle, /dev/null where none.
  bool start(const std::string& program, const std::string& arguments);
  // Waits until the child ends, stop is set, or ms pass (0xFFFFFFFF: no
  // limit). Then status := the exit code (259 while it still runs) and the
  // child is let go, still running if it runs. False only when the time ran
  // out; a stop event set already at the call gives true at once.
  bool wait(u32 ms, zuEvent* stop);
  // start, then wait up to five minutes.
  bool runAndWait(const std::string& program, const std::string& arguments, zuEvent* stop);
  // The child's output and error go to a new (or emptied) file.
  bool runToFile(const std::string& program, const std::string& arguments,
                 const std::string& outputPath, u32 ms, zuEvent* stop);
  // Appends the child's output, line ends normalised, and then one zero byte
  // to out. The time limit covers the whole call, reading included; a set
  // stop event ends the reading too. The result is that of the final wait.
  bool runCapture(const std::string& program, const std::string& arguments, std::ostream& out,
                  u32 ms, zuEvent* stop);
  // Starts the child with both pipes; talk to it with write and readOutput.
  bool runWithPipes(const std::string& program, const std::string& arguments);

  // True only when every byte was written; a child that has gone gives false
  // with status 232.
  bool write(const void* data, u32 length);
  // length: the buffer's room on entry, the bytes delivered on return. Every
  // CR or LF becomes one LF, a CR LF or LF CR pair (also split between two
  // reads) a single LF. Waits up to ms (0: not at all) for output, the
  // child's end or stop. True with length 0 when nothing came in that time or
  // stop is set; false at the end of the output (the child has ended and all
  // it wrote has been read) or on failure.
  bool readOutput(void* buffer, u32& length, u32 ms = 0, zuEvent* stop = nullptr);
  // True while the child's exit code reads 259; otherwise status := the exit
  // code and false. False when no child is held.
  bool isRunning();

  void closeHandle(zuPlatform::Handle& handle);
  // The four pipe and file handles.
  void closeHandles();
  // Closing the input pipe is how the child sees the end of its input.
  void closeInputHandles();

  u32 status() const { return status_; }
  const std::string& commandLine() const { return commandLine_; }
  zuPlatform::Handle processHandle() const { return process_; }
  u32 processId() const { return processId_; }
  u32 threadId() const { return threadId_; }
  u32 outputPipeSize() const { return outputPipeSize_; }
  u32 inputPipeSize() const { return inputPipeSize_; }
  void setOutputPipeSize(u32 size) { outputPipeSize_ = size < kMinPipeSize ? kMinPipeSize : size; }
  void setInputPipeSize(u32 size) { inputPipeSize_ = size < kMinPipeSize ? kMinPipeSize : size; }

 private:
  bool createOutputPipe();
  bool createInputPipe();
  // Closes the process handle (the reaper takes a running child) and clears the fields.
  void releaseProcess();
  // Line-end normalisation in place; returns the new count.
  u32 normalise(char* bytes, u32 count);

  u32 status_ = 0;
  std::string commandLine_;
  zuPlatform::Handle childOutput_ = zuPlatform::kInvalidHandle;
  zuPlatform::Handle childInput_ = zuPlatform::kInvalidHandle;
  zuPlatform::Handle parentInput_ = zuPlatform::kInvalidHandle;
  zuPlatform::Handle parentOutput_ = zuPlatform::kInvalidHandle;
  u32 outputPipeSize_ = kDefaultPipeSize;
  u32 inputPipeSize_ = kDefaultPipeSize;
  // Linux has no separate thread handle; the first thread's id is kept.
  zuPlatform::Handle process_ = zuPlatform::kInvalidHandle;
  u32 processId_ = 0;
  u32 threadId_ = 0;
  // Reading state of the output pipe: every writer has gone, and the CR or
  // LF that ended the last block (its partner may start the next one).
  bool outputClosed_ = false;
  char pendingLineEnd_ = 0;
};
