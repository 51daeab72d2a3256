// The agent under faults, started as its own process: peers that reset their
// connection at every stage of a session, and the agent itself killed with
// SIGKILL. After each, the agent serves others, holds no more threads or
// descriptors than before (read from /proc), leaves nothing in its temporary
// folder and has installed nothing that was not whole.
//
// TW_FAULT_ROUNDS sets how often each stage is repeated (3 here; the soak
// script runs more).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AgentProcess.h"
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
std::string waitingProgram(const AgentProcess& agent) {
  return "#!/bin/sh\n: > " + shellQuote(agent.file("started")) + "\nn=0\nwhile [ ! -e " +
         shellQuote(agent.file("release")) +
         " ] && [ $n -lt 300 ]; do sleep 0.1; n=$((n+1)); done\n: > " +
         shellQuote(agent.file("installed")) + "\n";
}

bool emptyFolder(const std::string& folder) { return tw::test::folderNames(folder).empty(); }

TEST(FaultTest, ResetAtEveryStageLeavesNothingBehind) {
  ASSERT_TRUE(tw::test::haveTool(kPython)) << "Debian's python3 is the resetting peer";
  AgentProcess agent;
  ASSERT_TRUE(agent.listening()) << agent.logText();
  const std::string program = waitingProgram(agent);
  const std::string file = agent.file("install.sh");
  writeFileBytes(file, program);
  const std::string signature = sign(agent, program);
  const bool keyed =
      std::string(TW_UPGRADE_PUBLIC_KEY_FILE).find("upgrade-test-public") != std::string::npos;
  const long long idle = agent.threads();
  Held one{};
  ASSERT_TRUE(heldWithOneClient(agent, idle, one));

  const std::string script = std::string(TW_SOURCE_DIR) + "/tests/update_agent/uaFaultPeer.py";
  for (const char* stage : {"connect", "header-part", "header", "key-block", "mid-frame",
                            "mid-chunk", "mid-upgrade", "installer"}) {
    SCOPED_TRACE(stage);
    const bool installer = std::string(stage) == "installer";
    if (installer && !keyed) continue;  // without the tests' key nothing is ever run
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
  // Idle.
  agent.kill();
  ASSERT_TRUE(agent.start()) << agent.logText();
  {
    Peer peer(agent.port());
    ASSERT_EQ(peer.status, 0);
    EXPECT_EQ(peer.connectExchange(1), 0);
  }

  // While an upgrade's installer runs.
  const std::string program = waitingProgram(agent);
  Peer peer(agent.port());
  ASSERT_EQ(peer.status, 0);
  ASSERT_EQ(peer.send(2, kUpgrade, 11,
                      upgradeHead(0, "install.sh", sign(agent, program),
                                  static_cast<u32>(program.size())) +
                          program),
            0);
  const bool keyed =
      std::string(TW_UPGRADE_PUBLIC_KEY_FILE).find("upgrade-test-public") != std::string::npos;
  if (keyed) {
    ASSERT_TRUE(eventually([&] { return fs::exists(agent.file("started")); }));
  }
  agent.kill();
  ASSERT_TRUE(agent.start()) << agent.logText();
  // The killed agent's private folder went when the new one started.
  EXPECT_EQ(tw::test::folderNames(agent.temp()), std::vector<std::string>{})
      << agent.logText();
  Peer next(agent.port());
  ASSERT_EQ(next.status, 0);
  EXPECT_EQ(next.connectExchange(1), 0);
  // The installer was its own process and finishes on its own.
  writeFileBytes(agent.file("release"), "");
  if (keyed) {
    EXPECT_TRUE(eventually([&] { return fs::exists(agent.file("installed")); }));
  }
  figure("temp_entries_left_by_the_killed_agent",
         static_cast<long long>(tw::test::folderNames(agent.temp()).size()));
  EXPECT_EQ(agent.stop(), 0) << agent.logText();
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
