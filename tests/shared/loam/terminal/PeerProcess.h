#pragma once
// Real servers for the terminal clients' tests: a program started in its own
// process group with its output (stdout and stderr) on a pipe that the test
// reads line by line, and stopped with its group when the test ends. The
// pipe is read only when the test asks: a peer that writes much (sshd's debug
// log) blocks once the pipe is full, so such a peer logs to a file instead.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace tw::test {

class PeerProcess {
 public:
  // argv[0] is looked up on PATH; extra environment entries are added to the
  // test's own. running() is false when the program could not be started.
  explicit PeerProcess(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& environment = {});
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool running();
  // Reads output until a line holding text has arrived (returned whole) or
  // the bound passes (nullopt). Lines read before it are kept in output().
  std::optional<std::string> waitForLine(const std::string& text,
                                         std::chrono::milliseconds bound = kFailBound);
  // Everything read so far, after taking in what has arrived meanwhile.
  const std::string& output() {
    while (readSome(0) && hasMore()) {
    }
    return output_;
  }
  // Ends the group (TERM, then KILL after a bound) and reaps the leader.
  void stop();

 private:
  // Reads what is there within ms; false at the end of the output.
  bool readSome(int ms);
  // Output is waiting on the pipe.
  bool hasMore() const;

  pid_t pid_ = -1;
  int output_fd_ = -1;
  std::string output_;
  std::size_t scanned_ = 0;
};

// A TCP port on 127.0.0.1 that was free a moment ago (bound, then released).
int freeLoopbackPort();

// The folder of this test's source files (scripts for the peers).
std::string peerScriptDir();

}  // namespace tw::test
