#pragma once
// The agent program as its own process for the benchmarks that measure it end
// to end: its own port, data, temporary and platform folders, started in the
// console and stopped with SIGINT.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "loam/net/zuIPAddress.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/threads/zuExec.h"

namespace bench {

namespace fs = std::filesystem;

inline constexpr u32 kAgentWait = 60000;
inline const zuIPAddress kLoopback("127.0.0.1");

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One agent process on its own port and folders; empty port when it failed.
class Agent {
 public:
  Agent() {
    folder_ = fs::temp_directory_path() / ("tw-agent-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_ / "tmp");
    fs::create_directories(folder_ / "data");
    zuTCPEndpoint probe(nullptr, kAgentWait);  // a port nobody listens on just now
    if (probe.listen(0, kLoopback) != 0) return;
    const u16 port = probe.localPort();
    probe.close();
    const std::string command = "ZU_PLATFORM_ROOT='" + (folder_ / "root").string() +
                                "' TMPDIR='" + (folder_ / "tmp").string() + "' exec '" +
                                TW_UPDATE_AGENT + "' -debug -ll1 -D '" +
                                (folder_ / "data").string() + "' -P " + std::to_string(port) +
                                " > '" + (folder_ / "agent.log").string() + "' 2>&1";
    if (!exec_.start("/bin/sh", "-c \"" + command + "\"")) return;
    pid_ = exec_.processId();
    for (int tries = 0; tries < 1000 && port_ == 0; ++tries) {
      if (readFile(folder_ / "agent.log").find("Listening started") != std::string::npos)
        port_ = port;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Agent() {
    if (pid_ != 0) {
      zuExec kill;
      kill.start("/bin/kill", "-INT " + std::to_string(pid_));
      kill.wait(kAgentWait, nullptr);
      exec_.wait(kAgentWait, nullptr);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  u16 port() const { return port_; }
  const fs::path& folder() const { return folder_; }
  // VmHWM of the agent in KiB; -1 when unreadable.
  long long peakKiB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
  }

 private:
  fs::path folder_;
  zuExec exec_;
  u32 pid_ = 0;
  u16 port_ = 0;
};

}  // namespace bench
