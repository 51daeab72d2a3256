#include "SshdPeer.h"

#include <stdlib.h>

#include <fstream>
#include <map>

#include "support/ExternalTool.h"

namespace tw::test {

namespace {

std::string fingerprint(const std::string& key, const char* hash) {
  std::string out;
  if (runTool(std::string("ssh-keygen -l -E ") + hash + " -f " + shellQuote(key), &out) != 0)
    return "";
  // "2048 MD5:aa:bb... comment (RSA)"
  const std::size_t start = out.find(' ') + 1;
  return out.substr(start, out.find(' ', start) - start);
}

SshdKeys makeKeys() {
  SshdKeys keys;
  char folder[] = "/tmp/tw-sshd-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    keys.error = "mkdtemp";
    return keys;
  }
  keys.dir = folder;
  keys.shared = keys.dir + "/shared";
  const std::string user = kSshUser;
  const std::string steps =
      // Test programs run side by side: one at a time edits the user database.
      "flock /tmp/tw-sshd-user.lock sh -c " +
      shellQuote("(id " + user + " >/dev/null 2>&1 || useradd -m -s /bin/sh " + user +
                 ") && echo " + shellQuote(user + ":" + kSshPassword) + " | chpasswd") +
      " && mkdir -p /run/sshd && " + "chmod 0755 " + shellQuote(keys.dir) + " && mkdir -m 0777 " +
      shellQuote(keys.shared) + " && chmod 0777 " + shellQuote(keys.shared) +
      " && ssh-keygen -q -t rsa -b 2048 -N '' -f " + shellQuote(keys.dir + "/rsa") +
      " && ssh-keygen -q -t dsa -N '' -f " + shellQuote(keys.dir + "/dsa") + " </dev/null";
  std::string output;
  if (runTool(steps + " 2>&1", &output) != 0) {
    keys.error =
        "setting up the test user and host keys failed (root, openssh-server and "
        "passwd are needed): " +
        output;
    return keys;
  }
  keys.rsaMd5 = fingerprint(keys.dir + "/rsa.pub", "md5");
  keys.dsaMd5 = fingerprint(keys.dir + "/dsa.pub", "md5");
  keys.rsaSha256 = fingerprint(keys.dir + "/rsa.pub", "sha256");
  keys.dsaSha256 = fingerprint(keys.dir + "/dsa.pub", "sha256");
  keys.ready = !keys.rsaMd5.empty() && !keys.dsaMd5.empty();
  if (!keys.ready) keys.error = "ssh-keygen -l failed";
  return keys;
}

}  // namespace

// Removes the keys' folder when the test program ends.
struct FolderRemover {
  std::string dir;
  ~FolderRemover() {
    if (!dir.empty()) runTool("rm -rf " + shellQuote(dir));
  }
};

const SshdKeys& sshdKeys() {
  static const SshdKeys keys = makeKeys();
  static const FolderRemover remover{keys.dir};
  return keys;
}

Sshd::Sshd(const std::vector<std::string>& extra) {
  const SshdKeys& keys = sshdKeys();
  if (!keys.ready) {
    failure_ = keys.error;
    return;
  }
  std::map<std::string, std::string> settings = {
      {"ListenAddress", "127.0.0.1"},
      {"HostKey", keys.dir + "/rsa\nHostKey " + keys.dir + "/dsa"},
      {"PidFile", "none"},
      {"UsePAM", "no"},
      {"PasswordAuthentication", "yes"},
      {"KbdInteractiveAuthentication", "no"},
      {"PubkeyAuthentication", "no"},
      {"PermitRootLogin", "no"},
      {"StrictModes", "no"},
      {"LogLevel", "DEBUG1"},
      {"KexAlgorithms", "+diffie-hellman-group1-sha1"},
      {"HostKeyAlgorithms", "+ssh-rsa,ssh-dss"},
      {"PubkeyAcceptedAlgorithms", "+ssh-rsa,ssh-dss"},
      {"Ciphers", "+aes256-cbc,3des-cbc"},
      {"MACs", "+hmac-sha1-96,hmac-md5,hmac-md5-96"},
  };
  for (const std::string& line : extra) {
    const std::size_t blank = line.find(' ');
    settings[line.substr(0, blank)] = line.substr(blank + 1);
  }
  for (int attempt = 0; attempt < 5 && !ready_; ++attempt) {
    port_ = static_cast<u16>(freeLoopbackPort());
    const std::string config = keys.dir + "/sshd_config." + std::to_string(port_);
    {
      std::ofstream out(config);
      out << "Port " << port_ << "\n";
      for (const auto& [keyword, value] : settings) out << keyword << " " << value << "\n";
    }
    logFile_ = config + ".log";
    // The log goes to a file: sshd's per-connection processes write there too.
    process_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{"/usr/sbin/sshd", "-D", "-E", logFile_, "-f", config});
    ready_ = eventually([&] { return log().find("Server listening on") != std::string::npos; });
    if (!ready_) failure_ = log();
  }
}

bool Sshd::logShows(const std::string& text, std::chrono::milliseconds bound) {
  return eventually([&] { return log().find(text) != std::string::npos; }, bound);
}

std::string Sshd::log() const { return logFile_.empty() ? "" : readFile(logFile_); }

}  // namespace tw::test
