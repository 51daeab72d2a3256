#pragma once
// Descriptors for driving console code in tests: pipes and a
// pseudo-terminal, with bounded reads of what the code wrote.
#include <termios.h>

#include <chrono>
#include <string>

#include "support/TestSupport.h"

namespace tw::test {

// A pipe; either end may be closed early to signal end of input.
class Pipe {
 public:
  Pipe();
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int readEnd() const { return fds_[0]; }
  int writeEnd() const { return fds_[1]; }
  void write(const std::string& bytes) const;
  void closeWrite();

 private:
  int fds_[2] = {-1, -1};
};

// A pseudo-terminal in its default (cooked, echoing) settings. The code under
// test uses the slave side; the test types and reads on the master side.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  int master() const { return master_; }
  int slave() const { return slave_; }
  void type(const std::string& bytes) const;
  // Unblocks a reader of the slave side for good.
  void hangUp();

 private:
  int master_ = -1;
  int slave_ = -1;
};

// Reads from fd until what was read ends with suffix or the bound passes;
// returns everything read.
std::string readUntil(int fd, const std::string& suffix,
                      std::chrono::milliseconds bound = kFailBound);
// Everything that can be read from fd without waiting.
std::string readAvailable(int fd);

// True when two terminal settings agree in every mode flag and control byte.
bool sameSettings(const termios& a, const termios& b);

}  // namespace tw::test
