#pragma once
// OpenSSH's sshd as the SSH client's real peer: a test user with a password,
// host keys made by ssh-keygen, and one sshd per test on a free loopback port
// with the legacy algorithms the client speaks turned on (or, for one
// combination, the only ones allowed).
#include <memory>
#include <string>
#include <vector>

#include "PeerProcess.h"
#include "loam/platform/zuTypes.h"

namespace tw::test {

inline constexpr const char* kSshUser = "tarnwelltest";
inline constexpr const char* kSshPassword = "Tw-pass 7!x";

// Host keys and a folder the test user may write to, made once per program.
struct SshdKeys {
  std::string dir;     // keys and configurations
  std::string shared;  // world-writable scratch folder for scp
  std::string rsaMd5;  // host key fingerprints as "MD5:..."
  std::string dsaMd5;
  std::string rsaSha256;
  std::string dsaSha256;
  bool ready = false;
  std::string error;
};
const SshdKeys& sshdKeys();

class Sshd {
 public:
  // Extra configuration lines replace or add to the defaults (one per entry,
  // "Keyword value"); a keyword given here drops the default one.
  explicit Sshd(const std::vector<std::string>& extra = {});
  bool ready() const { return ready_; }
  u16 port() const { return port_; }
  const std::string& failure() const { return failure_; }
  // Reads sshd's log until a line holding text arrives.
  bool logShows(const std::string& text, std::chrono::milliseconds bound = kFailBound);
  std::string log() const;

 private:
  u16 port_ = 0;
  bool ready_ = false;
  std::string failure_;
  std::string logFile_;
  std::unique_ptr<PeerProcess> process_;
};

}  // namespace tw::test
