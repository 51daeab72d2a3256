// The agent under faults, started as its own process: peers that reset their
// connection at every stage of a session, and the agent itself killed with
// SIGKILL, from the console and as a service. After each, the agent serves
// others, holds no more threads or descriptors than before (read from
// /proc), leaves nothing in its temporary folder and has installed nothing
// that was not whole.
//
// TW_FAULT_ROUNDS sets how often each stage is repeated (3 here; the soak
// script runs more).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AgentProcess.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformService.h"
#include "loam/service/zuServiceManager.h"
#include "loam/threads/zuPreferences.h"

namespace {

using namespace ua_test;

int rounds() {
  const char* text = std::getenv("TW_FAULT_ROUNDS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

const std::string kPython = "/usr/bin/python3";

// A program that marks its start, waits for the test's release and marks
// its end.
template <typename Agent>
std::string waitingProgram(const Agent& agent) {
  return "#!/bin/sh\n: > " + shellQuote(agent.file("started")) + "\nn=0\nwhile [ ! -e " +
         shellQuote(agent.file("release")) +
         " ] && [ $n -lt 300 ]; do sleep 0.1; n=$((n+1)); done\n: > " +
         shellQuote(agent.file("installed")) + "\n";
}

// The agent was built with the tests' upgrade key: signed programs run.
bool keyed() {
  return std::string(TW_UPGRADE_PUBLIC_KEY_FILE).find("upgrade-test-public") != std::string::npos;
}

// An Upgrade of the waiting program over a connection that stays open while
// this lives, so its private folder stays in use. The program is released
// when this goes at the latest.
template <typename Agent>
class WaitingUpgrade {
 public:
  explicit WaitingUpgrade(const Agent& agent) : agent_(agent), peer_(agent.port()) {
    for (const char* name : {"started", "release", "installed"}) fs::remove(agent.file(name));
    const std::string program = waitingProgram(agent);
    sent_ = peer_.status == 0 && peer_.send(2, kUpgrade, 11,
                                            upgradeHead(0, "install.sh", sign(agent, program),
                                                        static_cast<u32>(program.size())) +
                                                program) == 0;
  }
  ~WaitingUpgrade() { release(); }
  WaitingUpgrade(const WaitingUpgrade&) = delete;
  WaitingUpgrade& operator=(const WaitingUpgrade&) = delete;

  // Sent, and its program started (without the tests' key nothing runs).
  bool running() const {
    return sent_ && (!keyed() || eventually([&] { return fs::exists(agent_.file("started")); }));
  }
  void release() const { writeFileBytes(agent_.file("release"), ""); }
  // Released, the program (its own process) ends by itself.
  bool finishes() const {
    release();
    return !keyed() || eventually([&] { return fs::exists(agent_.file("installed")); });
  }

 private:
  const Agent& agent_;
  Peer peer_;
  bool sent_ = false;
};

// What the agent is doing when it is killed with SIGKILL.
struct KillMoment {
  const char* name;
  const char* key;  // in figure names
  bool upgrading;   // an Upgrade's program runs, its private folder in use
};
constexpr KillMoment kKillMoments[] = {{"idle", "idle", false},
                                       {"while the installer runs", "installing", true}};

bool emptyFolder(const std::string& folder) { return tw::test::folderNames(folder).empty(); }

TEST(FaultTest, ResetAtEveryStageLeavesNothingBehind) {
  ASSERT_TRUE(tw::test::haveTool(kPython)) << "Debian's python3 is the resetting peer";
  AgentProcess agent;
  ASSERT_TRUE(agent.listening()) << agent.logText();
  const std::string program = waitingProgram(agent);
  const std::string file = agent.file("install.sh");
  writeFileBytes(file, program);
  const std::string signature = sign(agent, program);
  const long long idle = agent.threads();
  Held one{};
  ASSERT_TRUE(heldWithOneClient(agent, idle, one));

  const std::string script = std::string(TW_SOURCE_DIR) + "/tests/update_agent/uaFaultPeer.py";
  for (const char* stage : {"connect", "header-part", "header", "key-block", "mid-frame",
                            "mid-chunk", "mid-upgrade", "installer"}) {
    SCOPED_TRACE(stage);
    const bool installer = std::string(stage) == "installer";
    if (installer && !keyed()) continue;  // without the tests' key nothing is ever run
    std::string out;
    ASSERT_EQ(runTool(kPython + " " + shellQuote(script) + " 127.0.0.1 " +
                          std::to_string(agent.port()) + " " + stage + " " +
                          std::to_string(installer ? 1 : rounds()) + " " + signature + " " +
                          shellQuote(file) + " " + shellQuote(agent.file("started")),
                      &out),
              0)
        << out;
    // Others are served meanwhile, even while the installer still runs.
    {
      Peer other(agent.port());
      ASSERT_EQ(other.status, 0);
      EXPECT_EQ(other.connectExchange(1), 0);
    }
    if (installer) {
      writeFileBytes(agent.file("release"), "");
      EXPECT_TRUE(eventually([&] { return fs::exists(agent.file("installed")); }));
    } else {
      // An upgrade cut short never reaches its installer.
      EXPECT_FALSE(fs::exists(agent.file("started")));
    }
    EXPECT_TRUE(eventually([&] { return emptyFolder(agent.temp()); }))
        << tw::test::folderNames(agent.temp()).size() << " entries left";
    // A child whose response was dropped is handed to the process's one
    // reaper thread (with its event), started once and kept.
    const long long reaper = installer ? 1 : 0;
    Held now{};
    ASSERT_TRUE(heldWithOneClient(agent, idle + reaper, now)) << agent.threads() << " threads";
    EXPECT_LE(now.threads, one.threads + reaper);
    EXPECT_LE(now.descriptors, one.descriptors + reaper);
  }
  EXPECT_EQ(agent.stop(), 0) << agent.logText();
}

TEST(FaultTest, KilledAgentStartsAgainCleanly) {
  AgentProcess agent;
  ASSERT_TRUE(agent.listening()) << agent.logText();
  {
    Peer peer(agent.port());
    ASSERT_EQ(peer.connectExchange(1), 0);
  }
  for (const KillMoment& moment : kKillMoments) {
    SCOPED_TRACE(moment.name);
    std::optional<WaitingUpgrade<AgentProcess>> upgrade;
    if (moment.upgrading) {
      upgrade.emplace(agent);
      ASSERT_TRUE(upgrade->running()) << agent.logText();
    }
    agent.kill();
    ASSERT_TRUE(agent.start()) << agent.logText();
    // The killed agent's private folder went when the new one started.
    EXPECT_EQ(tw::test::folderNames(agent.temp()), std::vector<std::string>{}) << agent.logText();
    Peer next(agent.port());
    ASSERT_EQ(next.status, 0);
    EXPECT_EQ(next.connectExchange(1), 0);
    if (upgrade) {
      EXPECT_TRUE(upgrade->finishes());
    }
  }
  figure("temp_entries_left_by_the_killed_agent",
         static_cast<long long>(tw::test::folderNames(agent.temp()).size()));
  EXPECT_EQ(agent.stop(), 0) << agent.logText();
}

// The agent run as a service and killed is started again with -start
// through the service database: the database reads the killed process as
// stopped by a crash (1067), not as running under its stale pid, and the new
// process takes the port back and removes the killed upgrade's private
// folder, though the killed one may not be reaped yet.
TEST(FaultTest, KilledServiceStartsAgainThroughTheServiceDatabase) {
  // A service's environment has no TMPDIR: its temporary folder is /tmp.
  const std::string temp = "/tmp";
  for (const KillMoment& moment : kKillMoments) {
    SCOPED_TRACE(moment.name);
    ServiceAgent agent;
    std::string out;
    ASSERT_EQ(agent.command("-install", out), 0) << out;
    ASSERT_EQ(agent.command("-start", out), 0) << out;
    ASSERT_TRUE(agent.serving()) << agent.output();
    const u32 killed = agent.status().processId;
    ASSERT_NE(killed, 0u);
    // The private folders of the process that is killed.
    const std::string prefix =
        std::string(uaNResUpgrade::kFolderPrefix) + std::to_string(killed) + "-";
    const auto killedFolders = [&] {
      std::vector<std::string> names;
      for (const std::string& name : tw::test::folderNames(temp))
        if (name.starts_with(prefix)) names.push_back(name);
      return names;
    };
    std::optional<WaitingUpgrade<ServiceAgent>> upgrade;
    if (moment.upgrading) {
      upgrade.emplace(agent);
      ASSERT_TRUE(upgrade->running()) << agent.output();
      if (keyed()) {
        ASSERT_EQ(killedFolders().size(), 1u);
      }
    }
    ASSERT_TRUE(agent.kill());

    // Stopped by a crash, without a process; -stop answers at once.
    const zuPlatform::ServiceStatusProcess dead = agent.status();
    EXPECT_EQ(dead.currentState, zuPlatform::kServiceStopped);
    EXPECT_EQ(dead.win32ExitCode, zuPlatform::kErrorProcessAborted);
    EXPECT_EQ(dead.processId, 0u);
    EXPECT_EQ(agent.command("-stop", out), 0) << out;
    EXPECT_EQ(out, std::string(ServiceAgent::kName) + " is not running.\n");

    const Clock::time_point restart = Clock::now();
    ASSERT_EQ(agent.command("-start", out), 0) << out;
    EXPECT_NE(out.find(" Service started."), std::string::npos) << out;
    ASSERT_TRUE(agent.serving()) << agent.output();
    figure((std::string("service_restart_to_connect_ms_") + moment.key).c_str(), msSince(restart));
    const zuPlatform::ServiceStatusProcess again = agent.status();
    EXPECT_EQ(again.currentState, zuPlatform::kServiceRunning);
    EXPECT_NE(again.processId, killed);
    // The killed upgrade's folder went when the new process started.
    EXPECT_EQ(killedFolders(), std::vector<std::string>{});
    if (upgrade) {
      EXPECT_TRUE(upgrade->finishes());
    }

    EXPECT_EQ(agent.command("-stop", out), 0) << out;
    EXPECT_NE(out.find(" Service stopped."), std::string::npos) << out;
    EXPECT_EQ(agent.command("-u", out), 0) << out;
    EXPECT_FALSE(zuServiceManager().isInstalled(ServiceAgent::kName));
  }
}

// Starts the writer, lets it run a random while (up to 40 ms: before its
// first write, within one, between two) and kills it with SIGKILL.
void killWriterAtRandom(const std::string& arguments, std::mt19937& random) {
  zuExec writer;
  ASSERT_TRUE(writer.start(TW_FAULT_WRITER, arguments));
  std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
  runTool("kill -KILL " + std::to_string(writer.processId()));
  ASSERT_TRUE(writer.wait(kWait, nullptr));
}

int killRounds() { return rounds() * 10; }

TEST(FaultTest, PreferenceFileIsWholeAfterAWriterIsKilledAnywhere) {
  tw::test::ScratchDir scratch;
  tw::test::ScopedEnv root("ZU_PLATFORM_ROOT", scratch.file("root"));
  const std::string file = scratch.file("preferences.cfg");
  std::mt19937 random(std::random_device{}());
  int written = 0;
  for (int round = 0; round < killRounds(); ++round) {
    SCOPED_TRACE(round);
    killWriterAtRandom("preferences \"" + file + "\"", random);
    if (!fs::exists(file)) continue;  // killed before its first write
    ++written;
    zuPreferences preferences;
    preferences.setFileName(file);
    ASSERT_TRUE(preferences.load());
    // One generation in all 200 values.
    std::string first;
    ASSERT_TRUE(preferences.values().get("key0", first));
    for (int k = 1; k < 200; ++k) {
      std::string value;
      ASSERT_TRUE(preferences.values().get("key" + std::to_string(k), value)) << k;
      ASSERT_EQ(value, first) << k;
    }
  }
  figure("preference_writer_kills", killRounds());
  figure("preference_kills_after_a_write", written);
  // Each save removes what killed writers left; only the last one's can stay.
  long long left = 0;
  for (const std::string& name : tw::test::folderNames(scratch.path()))
    left += name.starts_with("preferences.cfg.tmp.") ? 1 : 0;
  figure("preference_temp_files_left", left);
  EXPECT_LE(left, 1);
}

TEST(FaultTest, ServiceDatabaseIsWholeAfterAWriterIsKilledAnywhere) {
  tw::test::ScratchDir scratch;
  tw::test::ScopedEnv root("ZU_PLATFORM_ROOT", scratch.file("root"));
  std::mt19937 random(std::random_device{}());
  int installed = 0;
  for (int round = 0; round < killRounds(); ++round) {
    SCOPED_TRACE(round);
    killWriterAtRandom("services", random);
    zuServiceManager services;
    if (!services.isInstalled("TwFaultWriter")) continue;
    ++installed;
    // Installed means installed whole: name, path and display name of one
    // generation.
    const zuPlatform::QueryServiceConfig* config = services.queryConfig("TwFaultWriter");
    ASSERT_NE(config, nullptr) << services.lastError();
    ASSERT_NE(config->binaryPathName, nullptr);
    ASSERT_NE(config->displayName, nullptr);
    const std::string path = config->binaryPathName;
    const std::string display = config->displayName;
    ASSERT_EQ(path.rfind("/opt/writer/", 0), 0u) << path;
    EXPECT_EQ(display, "Fault writer " + path.substr(12));
    // And it can be removed, so the next writer can install it again.
    ASSERT_TRUE(services.remove("TwFaultWriter")) << services.lastError();
  }
  figure("service_writer_kills", killRounds());
  figure("service_kills_with_the_service_installed", installed);
}

}  // namespace
