#pragma once
// The frame of a program's life: its name and version text, the command line
// as a vector of options, and the phases pre-initialise, initialise, main
// work and clean-up, run once each in a fixed order with every exception
// caught and reported. The process's stop signal is the stop event of the
// global zuMainThread; Ctrl-C (SIGINT), Ctrl-Break (SIGQUIT), a closed console
// (SIGHUP) and SIGTERM set it.
#include <exception>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformSignals.h"
#include "loam/platform/zuTypes.h"

class zuEvent;

struct zuOption {
  explicit zuOption(const std::string& optionText) : text(optionText) {}
  std::string text;
  bool consumed = false;
};

class zuProcess {
 public:
  static constexpr const char* kDefaultName = "Tarnwell Update Agent";
  static constexpr const char* kBuildDate = "Jan 27 2010";

  // Takes the main thread's stop event and becomes the current process.
  zuProcess();
  zuProcess(const zuProcess&) = delete;
  zuProcess& operator=(const zuProcess&) = delete;
  virtual ~zuProcess();

  // The whole life; the result is the program's exit code.
  virtual u32 run(u32 argc, char** argv);
  // The base takes "-?", "-h", "-v", "-ll", "-lf", "-ld" and "-dl". False
  // ends the run: help or version shown, or a bad value (exit code 1 then).
  virtual bool parseArguments(std::vector<zuOption>& options);
  // The banner.
  virtual void printVersion();
  virtual bool preInitialize();
  virtual void initialize();
  virtual void main() = 0;
  virtual void cleanup();
  // Logs the exception's error message at level 0.
  virtual void reportException(const std::exception& e);
  // Sets the stop event.
  virtual void stop();
  // The stop event is set (tested without waiting).
  virtual bool isStopRequested();

  // Log-level option values: one digit 0 to 5 ("-ll5x" is as wrong as "-ll9"),
  // and a value that only starts with one ("-dl" and "-ld" carry more after it).
  static bool isLogLevel(const std::string& value);
  static bool startsWithLogLevel(const std::string& value);

  // preInitialize, guarded: an exception is reported and gives false.
  bool callInit();
  // initialize and main in one guarded block, then cleanup in any case (its
  // exceptions are swallowed).
  void callMain();

  // Marks the option at position consumed and takes its value: the rest of
  // its text after nameLength characters, else the next option when it is
  // there, not empty and does not start with '-' (position then moves to it
  // and it is consumed too). False when there is no value.
  bool findOption(u32 nameLength, std::vector<zuOption>& options, u32& position,
                  std::string& value);

  // Ctrl-C, Ctrl-Break and close (0, 1, 2) stop the current process and are
  // handled; other events are not.
  static bool consoleCtrlHandler(u32 event);
  // Writes "Caught an unhandled exception 0x%lX at 0x%lX" (code and address,
  // 0 and 0 without a record) to standard error and lets the process end.
  // Runs in signal context, so the line is put together without allocating.
  static i32 unhandledExceptionFilter(const zuPlatform::ExceptionRecord* record);

  // The process object alive now; null when there is none.
  static zuProcess* current();

  const std::string& name() const { return name_; }
  const std::string& displayName() const { return displayName_; }
  const std::string& versionText() const { return versionText_; }
  u32 exitCode() const { return exitCode_; }
  void setExitCode(u32 code) { exitCode_ = code; }
  zuEvent* stopEvent() const { return stopEvent_; }
  std::vector<zuOption>& options() { return options_; }

 protected:
  // The version lines of "-v".
  void printVersionLines();
  // A failed run ends with exit code 1 unless a code was set already.
  void markFailed();

  std::string name_{kDefaultName};
  std::string displayName_{kDefaultName};
  std::string versionText_;
  zuEvent* stopEvent_ = nullptr;
  u32 exitCode_ = 0;
  // Kept for subclasses; the base class does not read them.
  std::string text1_;
  std::string text2_;
  std::string text3_;
  u8 flag_ = 0;
  std::vector<zuOption> options_;
};
