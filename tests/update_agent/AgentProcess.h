// The agent started as its own process on a free port, or as a service of a
// platform root of its own, and a client that speaks packets to it over the
// secure layer: shared by the tests that approach the agent from outside
// (attack, load, faults).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/net/zuIPAddress.h"
#include "loam/net/zuNetStatus.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuTCPEndpoint.h"
#include "loam/netobjects/zuNetBuffer.h"
#include "loam/netobjects/zuNetMessageHeader.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetPacketLayer.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/platform/zuPlatformService.h"
#include "loam/service/zuServer.h"
#include "loam/threads/zuExec.h"
#include "support/ExternalTool.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"
#include "update_agent/uaNResUpgrade.h"

namespace ua_test {

namespace fs = std::filesystem;

using tw::test::eventually;
using tw::test::figure;
using tw::test::readFileBytes;
using tw::test::runTool;
using tw::test::shellQuote;
using tw::test::writeFileBytes;

inline constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
inline const zuIPAddress kLoopback("127.0.0.1");
inline const zuIPAddress kLoopback6("::1");
inline constexpr u8 kConnect = 2;
inline constexpr u8 kUpgrade = 1;
inline constexpr u32 kMiB = 1024 * 1024;

using Clock = std::chrono::steady_clock;

// ThreadSanitizer's shadow memory is part of the resident size: memory
// figures are only reported there, not held to their bounds.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kMemoryBounds = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kMemoryBounds = false;
#else
inline constexpr bool kMemoryBounds = true;
#endif
#else
inline constexpr bool kMemoryBounds = true;
#endif

inline long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}


// A port nobody listens on just now.
inline u16 freePort() {
  zuTCPEndpoint probe(nullptr, kWait);
  if (probe.listen(0, kLoopback) != 0) return 0;
  const u16 port = probe.localPort();
  probe.close();
  return port;
}

// One agent process with its own data, temporary and machine folders.
class AgentProcess {
 public:
  // fileLimit: the agent's limit on open descriptors (0: as inherited).
  explicit AgentProcess(std::vector<std::pair<const char*, std::string>> environment = {},
                        int fileLimit = 0)
      : fileLimit_(fileLimit) {
    fs::create_directory(temp());
    fs::create_directory(data());
    env_.emplace_back("ZU_PLATFORM_ROOT", scratch_.file("root"));
    env_.emplace_back("TMPDIR", temp());
    for (const auto& [name, value] : environment) env_.emplace_back(name, value);
    port_ = freePort();
    start();
  }
  ~AgentProcess() { stop(); }
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  // Starts the agent again on the same port and folders, after it ended;
  // each run writes its own log.
  bool start() {
    if (started_) return false;
    ++runs_;
    exec_ = std::make_unique<zuExec>();
    const std::string limit =
        fileLimit_ > 0 ? "ulimit -n " + std::to_string(fileLimit_) + "; " : "";
    const std::string command = limit + "exec " + shellQuote(TW_ATTACK_AGENT) + " -debug -ll5 -D " +
                                shellQuote(data()) + " -P " + std::to_string(port_) + " > " +
                                shellQuote(log()) + " 2>&1";
    started_ = port_ != 0 && exec_->start("/bin/sh", "-c \"" + command + "\"");
    const std::string ready = "Listening started on port [" + std::to_string(port_) + "].";
    listening_ = started_ && eventually([&] { return logText().find(ready) != std::string::npos; });
    return listening_;
  }

  bool listening() const { return listening_; }
  u16 port() const { return port_; }
  std::string temp() const { return scratch_.file("tmp"); }
  std::string data() const { return scratch_.file("data"); }
  std::string log() const {
    return scratch_.file(runs_ <= 1 ? "agent.log" : "agent-" + std::to_string(runs_) + ".log");
  }
  std::string logText() const { return tw::test::readFile(log()); }
  std::string file(const std::string& name) const { return scratch_.file(name); }
  std::string proc() const { return "/proc/" + std::to_string(exec_->processId()); }

  // A field of /proc/<pid>/status in KiB (VmRSS, VmHWM); -1 when unreadable.
  long long memoryKiB(const std::string& field) const {
    std::ifstream in(proc() + "/status");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    }
    return -1;
  }
  // Threads and open descriptors of the agent, from /proc.
  long long threads() const { return entries(proc() + "/task"); }
  long long descriptors() const { return entries(proc() + "/fd"); }

  // Times each of the agent's threads was switched in (the third field of
  // its schedstat), by thread id.
  using Switches = std::map<std::string, long long>;
  Switches switchesIn() const {
    Switches counts;
    std::error_code error;
    for (fs::directory_iterator it(proc() + "/task", error), last; !error && it != last;
         it.increment(error)) {
      std::ifstream in(it->path() / "schedstat");
      long long run = 0, wait = 0, slices = 0;
      if (in >> run >> wait >> slices) counts[it->path().filename().string()] = slices;
    }
    return counts;
  }
  // Switches between two reads. Each thread counts its own difference: a
  // thread that ended in between takes its whole count with it, so totals
  // subtracted could come out below zero. Its switches after the first read
  // are lost, which can only undercount.
  static long long switchesBetween(const Switches& before, const Switches& after) {
    long long total = 0;
    for (const auto& [thread, slices] : after) {
      const auto earlier = before.find(thread);
      // A smaller count than before is a new thread with a reused id.
      const bool same = earlier != before.end() && earlier->second <= slices;
      total += same ? slices - earlier->second : slices;
    }
    return total;
  }

  // Ctrl-C, as in the console; the exit status (-1 when it did not end).
  int stop() { return end("INT"); }
  // SIGKILL: nothing of the agent runs after it.
  int kill() { return end("KILL"); }

 private:
  static long long entries(const std::string& folder) {
    std::error_code error;
    long long n = 0;
    for (fs::directory_iterator it(folder, error), last; !error && it != last; it.increment(error))
      ++n;
    return error ? -1 : n;
  }
  int end(const char* signal) {
    if (!started_) return status_;
    started_ = false;
    listening_ = false;
    runTool(std::string("kill -") + signal + " " + std::to_string(exec_->processId()));
    status_ = exec_->wait(kWait, nullptr) ? static_cast<int>(exec_->status()) : -1;
    return status_;
  }

  tw::test::ScratchDir scratch_;
  std::list<tw::test::ScopedEnv> env_;
  int fileLimit_ = 0;
  u16 port_ = 0;
  int runs_ = 0;
  std::unique_ptr<zuExec> exec_;
  bool started_ = false;
  bool listening_ = false;
  int status_ = -1;
};

struct Packet {
  zuNetMessageHeader header;
  std::string body;
};

// A client that speaks packets over the secure layer.
class Peer {
 public:
  explicit Peer(u16 port, u32 timeout = kWait, const zuIPAddress& address = kLoopback) {
    auto endpoint = std::make_unique<zuSecureTCPEndpoint>(nullptr, timeout, false);
    status = endpoint->connect(address, port);
    layer_ = std::make_unique<zuNetPacketLayer>(std::move(endpoint), false);
  }

  u16 send(u16 id, u8 type, u8 flags, const std::string& body = "", u16 error = 0) {
    return tw::test::sendPacket(*layer_, buffer_, id, type, flags, error, body);
  }
  // The next packet that is not a keep-alive.
  u16 receive(Packet& packet, u32 wait = kWait) {
    for (;;) {
      u32 length = 0;
      const u16 result = layer_->receive(buffer_, length, wait);
      if (result != 0) return result;
      if (packet.header.read(buffer_.payload(), length) != 6) return zuErrNetwork;
      packet.body.assign(reinterpret_cast<const char*>(buffer_.payload()) + 6, length - 6);
      if (packet.header.type != 0) return 0;
    }
  }
  // A whole Connect exchange: its reply's error code. Replies to earlier
  // exchanges that come first are passed over.
  u16 connectExchange(u16 id) {
    if (send(id, kConnect, 11) != 0) return zuErrNetwork;
    for (int others = 0; others < 100; ++others) {
      Packet p;
      if (receive(p) != 0) return zuErrNetwork;
      if (p.header.id == id) return p.header.error;
    }
    return zuErrNetwork;
  }

  u16 status = 0;

 private:
  std::unique_ptr<zuNetPacketLayer> layer_;
  zuNetBuffer buffer_{40000};
};

// The agent as a service: installed with -install into a platform root of
// its own, on a free port (the arguments of the preference file in its data
// folder), started with -start through the service database and stopped with
// -stop. Whatever of it still runs when this goes is killed, so a failing
// test leaves no agent behind.
class ServiceAgent {
 public:
  static constexpr const char* kName = uaNResUpgrade::kAgentServiceName;
  // -start and -stop poll the state for up to 20 s before they give up.
  static constexpr u32 kCommandWait = 60000;

  ServiceAgent() : port_(freePort()) {
    std::string common;
    if (zuPlatform::commonAppDataFolder(common, true) != 0) return;
    const fs::path data = fs::path(common) / zuServer::kCompanyFolder / zuServer::kProductFolder;
    std::error_code error;
    fs::create_directories(data, error);
    writeFileBytes((data / zuServer::kPreferenceFileName).string(),
                   std::string("<") + zuServer::kArgumentsEntry + " value=\"-P " +
                       std::to_string(port_) + "\"/>\n");
  }
  ~ServiceAgent() { tw::test::killServiceProcess(kName); }
  ServiceAgent(const ServiceAgent&) = delete;
  ServiceAgent& operator=(const ServiceAgent&) = delete;

  // Runs the agent program with one action (-install, -start, -stop, -u,
  // -v): its exit code (-1 when it did not end in time), its output in out.
  int command(const std::string& action, std::string& out) const {
    zuExec child;
    std::ostringstream text;
    const bool ended = child.runCapture(TW_UPDATE_AGENT, action, text, kCommandWait, nullptr);
    out = text.str();
    if (!out.empty() && out.back() == '\0') out.pop_back();
    return ended ? static_cast<int>(child.status()) : -1;
  }

  // The service's status as the database gives it (state 0 when the query fails).
  zuPlatform::ServiceStatusProcess status() const {
    zuPlatform::ServiceStatusProcess s{};
    const zuPlatform::ScHandle manager = zuPlatform::openScManager(zuPlatform::kScManagerConnect);
    const zuPlatform::ScHandle service =
        zuPlatform::openService(manager, kName, zuPlatform::kServiceQueryStatus);
    if (!zuPlatform::queryServiceStatusEx(service, &s)) s = {};
    zuPlatform::closeServiceHandle(service);
    zuPlatform::closeServiceHandle(manager);
    return s;
  }

  // A Connect is served on the port, within the bound.
  bool serving() const {
    return eventually([&] {
      Peer peer(port_);
      return peer.status == 0 && peer.connectExchange(1) == 0;
    });
  }

  // SIGKILL to the service's process, found from its status; true once it
  // has ended.
  bool kill() {
    const u32 pid = status().processId;
    return pid != 0 && runTool("kill -KILL " + std::to_string(pid)) == 0 &&
           tw::test::waitForExit(static_cast<pid_t>(pid));
  }

  u16 port() const { return port_; }
  std::string file(const std::string& name) const { return scratch_.file(name); }
  // The service's own output (standard output and error), for failure reports.
  std::string output() const {
    const std::string services = scratch_.file("root/services");
    std::error_code error;
    if (!fs::is_directory(services, error)) return "";
    std::string text;
    for (const std::string& name : tw::test::folderNames(services))
      text += tw::test::readFile(services + "/" + name + "/output.log");
    return text;
  }

 private:
  tw::test::ScratchDir scratch_;
  tw::test::ScopedEnv root_{"ZU_PLATFORM_ROOT", scratch_.file("root")};
  u16 port_ = 0;
};

inline std::string errorText(const Packet& p) {
  zuErrorMessage m;
  zuNetReader reader(p.body.data(), static_cast<u32>(p.body.size()));
  reader.getErrorMessage(m);
  return m.toString();
}

inline std::string upgradeHead(u8 kind, const std::string& name, const std::string& signature, u32 size) {
  std::string p(1, static_cast<char>(kind));
  p += name + '\0' + '\0' + signature + '\0';
  for (int shift = 24; shift >= 0; shift -= 8) p += static_cast<char>((size >> shift) & 0xFF);
  return p;
}

// What the agent holds now.
struct Held {
  long long threads;
  long long descriptors;
  long long rssKiB;
};
inline Held heldNow(const AgentProcess& agent) {
  return {agent.threads(), agent.descriptors(), agent.memoryKiB("VmRSS")};
}

// True once the agent is back to idle's threads and descriptors with no
// client connecting: an ended connection gives back its thread and its
// descriptors by itself.
inline bool backToIdle(const AgentProcess& agent, const Held& idle) {
  return eventually(
      [&] { return agent.threads() == idle.threads && agent.descriptors() == idle.descriptors; });
}

// What the agent holds while one client is connected and served, once
// every connection before it has ended (the agent is back to at most its
// idle threads; an ended connection is reaped by then, or at the latest when
// this client is accepted). The same before and after any number of clients
// came and went.
inline bool heldWithOneClient(const AgentProcess& agent, long long idleThreads, Held& got) {
  if (!eventually([&] { return agent.threads() <= idleThreads; })) return false;
  Peer peer(agent.port());
  if (peer.status != 0 || peer.connectExchange(1) != 0) return false;
  got = heldNow(agent);
  return true;
}

// Signature text of bytes under the tests' own upgrade key (the agent lends
// its scratch folder).
template <typename Agent>
std::string sign(const Agent& agent, const std::string& bytes) {
  const std::string file = agent.file("to-sign");
  writeFileBytes(file, bytes);
  const std::string sig = file + ".sig";
  EXPECT_EQ(runTool("openssl dgst -sha1 -sign " + shellQuote(TW_TEST_UPGRADE_PRIVATE_KEY) +
                    " -out " + shellQuote(sig) + " " + shellQuote(file)),
            0);
  std::string text;
  for (char c : readFileBytes(sig)) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(static_cast<u8>(c)));
    text += two;
  }
  return text;
}

// Sends a message of total bytes in 30000-byte chunks, the first with the
// given head, none of them the last; stops early when a send fails.
inline u16 sendWithoutLast(Peer& peer, u16 id, u8 type, const std::string& head, u64 total) {
  const std::string filler(30000, 'x');
  std::string chunk = head + filler.substr(0, 30000 - head.size());
  u16 status = peer.send(id, type, 3, chunk);
  for (u64 sent = chunk.size(); status == 0 && sent < total; sent += filler.size())
    status = peer.send(id, type, 1, filler);
  return status;
}

}  // namespace ua_test
