#pragma once
// Console input and output for prompts: whole lines, and single key presses
// without echo for passwords. Input and output are descriptors (0 and 1 by
// default) that a test can point elsewhere.
#include <cstddef>
#include <memory>
#include <string>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Writes all of text to the console output. Anything already buffered in
// std::cout or stdout goes first, so prompts keep their place after earlier
// output.
void writeConsole(const std::string& text);

// Reads one line from the console input, without its line end (LF, or CR LF).
// Keeps the first maxChars bytes and drops the rest of an over-long line, so
// its tail never reads as the next answer. False when the input ended (or
// failed) before a single byte was read; a last line without a line end
// still counts as a line.
bool readConsoleLine(std::string& out, std::size_t maxChars);

// Reads key presses one at a time. On a terminal it turns off echo, line
// editing and the signal keys (so Ctrl-C arrives as byte 3) for its lifetime
// and restores the settings it found when destroyed; other input is read as
// plain bytes.
class ConsoleKeyReader {
 public:
  static constexpr int kEnd = -1;      // end of input, or a read error
  static constexpr int kDropped = -2;  // a key that has no one-byte form

  ConsoleKeyReader();
  ~ConsoleKeyReader();
  ConsoleKeyReader(const ConsoleKeyReader&) = delete;
  ConsoleKeyReader& operator=(const ConsoleKeyReader&) = delete;

  // The next key press: a byte 0 to 255, with DEL (127) given as backspace
  // (8); kDropped for an escape sequence (cursor and function keys), which is
  // consumed whole, for a lone Escape and for NUL; kEnd at end of input.
  int next();

  // True while terminal settings are changed (the input is a terminal).
  bool isTerminal() const;

 private:
  struct Saved;
  int readByte(int timeoutMs);
  int skipEscapeSequence();

  Handle fd_;
  std::unique_ptr<Saved> saved_;
  int pending_ = -1;  // a byte read ahead that belongs to the next key
};

// Test seam: points console input and output at other descriptors (pipes, a
// pseudo-terminal) until destroyed, then puts back the previous ones. The
// descriptors stay owned by the caller.
class ConsoleRedirect {
 public:
  ConsoleRedirect(Handle input, Handle output);
  ~ConsoleRedirect();
  ConsoleRedirect(const ConsoleRedirect&) = delete;
  ConsoleRedirect& operator=(const ConsoleRedirect&) = delete;

 private:
  Handle previousInput_;
  Handle previousOutput_;
};

}  // namespace zuPlatform
