// The agent under load, started as its own process: a full house of clients
// that each hold their connection and send Connect requests. Figures are
// printed; the assertions are correctness and stability, not speed.
//
// TW_LOAD_REQUESTS sets the requests per client (50 here; the soak script
// runs 1000), TW_LOAD_SOAK_SECONDS a soak: rounds of the same load until that
// time has passed, with the agent's threads, descriptors and resident size
// read from /proc after each round.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "AgentProcess.h"
#include "loam/threads/zuOSInfo.h"

namespace {

using namespace ua_test;

constexpr int kClients = 100;  // the agent's connection limit

long long fromEnvironment(const char* name, long long otherwise) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoll(text) > 0 ? std::atoll(text) : otherwise;
}

// The window over which the idle agent's wake-ups are counted.
long long idleWindowMs() { return fromEnvironment("TW_LOAD_IDLE_MS", 1000); }

// The Connect reply of this machine's agent.
std::string expectedConnectReply() {
  return std::string("\x01\x00\x01\x08", 4) + zuGetOSDescription() + std::string("\0\x02", 2) +
         "6.2" + std::string("\0\0", 2);
}

// One round: kClients clients connect, each sends its requests one after
// another and checks every reply; all of them hold their connection until
// the round's check (hold) has run. Returns the count of wrong replies.
// The clients block while they hold (no spinning, no time bound): a slow
// round under a sanitizer must neither lose early finishers nor starve the
// agent. The round always releases them, whatever its check did.
int round(const AgentProcess& agent, long long requests, const std::function<void()>& hold) {
  const std::string expected = expectedConnectReply();
  std::atomic<int> wrong{0};
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  bool release = false;
  std::counting_semaphore<kClients> handshakes(zuServer::kMaxHandshakesPerAddress);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      {
        // One address may have only so many handshakes unfinished at once
        // (past them a connection is closed unanswered): each client waits
        // for its turn until its first reply shows the agent has finished
        // its handshake.
        handshakes.acquire();
        bool turnHeld = true;
        const auto giveTurn = [&] {
          if (turnHeld) handshakes.release();
          turnHeld = false;
        };
        Peer peer(agent.port());
        if (peer.status != 0) {
          giveTurn();
          ++wrong;
        } else {
          for (long long i = 0; i < requests; ++i) {
            const u16 id = static_cast<u16>(i % 60000 + 1);
            Packet reply;
            const bool good = peer.send(id, kConnect, 11) == 0 && peer.receive(reply) == 0;
            giveTurn();
            if (!good || reply.header.id != id || reply.header.error != 0 ||
                reply.body != expected) {
              ++wrong;
              break;
            }
          }
          giveTurn();
        }
        // Held open until the check has run.
        std::unique_lock<std::mutex> lock(mutex);
        ++done;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
      }
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, std::chrono::minutes(10), [&] { return done == kClients; }))
      ADD_FAILURE() << done << " of " << kClients << " clients finished";
  }
  hold();
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  for (std::thread& t : clients) t.join();
  return wrong.load();
}

TEST(LoadTest, FullHouseIsServedTheNextIsRefusedAndSlotsComeBack) {
  AgentProcess agent;
  ASSERT_TRUE(agent.listening()) << agent.logText();
  const long long requests = fromEnvironment("TW_LOAD_REQUESTS", 50);
  const Held idle = heldNow(agent);
  Held one{};
  ASSERT_TRUE(heldWithOneClient(agent, idle.threads, one));

  const Clock::time_point start = Clock::now();
  Held loaded{};
  const int wrong = round(agent, requests, [&] {
    loaded = heldNow(agent);
    // Idle cost: how often the agent's threads run while the hundred
    // connections are quiet (a measuring window, not a wait for an event).
    const AgentProcess::Switches before = agent.switchesIn();
    const Clock::time_point window = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(idleWindowMs()));
    figure("idle_wakeups_per_second_100_connections",
           AgentProcess::switchesBetween(before, agent.switchesIn()) * 1000 /
               std::max<long long>(msSince(window), 1));
    // The connection past the limit: its handshake is made, then 1030.
    Peer extra(agent.port());
    ASSERT_EQ(extra.status, 0);
    const Clock::time_point asked = Clock::now();
    Packet refusal;
    ASSERT_EQ(extra.receive(refusal), 0);
    figure("refusal_ms_after_handshake", msSince(asked));
    EXPECT_EQ(refusal.header.type, 5);
    EXPECT_EQ(refusal.header.error, zuErrTooManyConnections);
  });
  const long long took = msSince(start);
  EXPECT_EQ(wrong, 0);
  figure("load_clients", kClients);
  figure("load_requests_per_client", requests);
  figure("load_ms", took);
  figure("load_requests_per_second", took > 0 ? kClients * requests * 1000 / took : 0);
  figure("threads_idle", idle.threads);
  figure("threads_one_client", one.threads);
  figure("threads_loaded", loaded.threads);
  figure("descriptors_idle", idle.descriptors);
  figure("descriptors_one_client", one.descriptors);
  figure("descriptors_loaded", loaded.descriptors);

  // The clients have left and nobody else connects: the hundred
  // connections' threads and descriptors come back by themselves.
  const Clock::time_point left = Clock::now();
  EXPECT_TRUE(backToIdle(agent, idle))
      << agent.threads() << " threads, " << agent.descriptors() << " descriptors";
  figure("ms_back_to_idle_after_the_clients_left", msSince(left));
  // And the slots: a new client is served, at the same cost as before.
  Held after{};
  ASSERT_TRUE(heldWithOneClient(agent, idle.threads, after));
  EXPECT_EQ(after.threads, one.threads);
  EXPECT_EQ(after.descriptors, one.descriptors);
  EXPECT_EQ(agent.stop(), 0);
}

TEST(LoadTest, SoakKeepsThreadsDescriptorsAndMemoryStable) {
  const long long seconds = fromEnvironment("TW_LOAD_SOAK_SECONDS", 0);
  if (seconds == 0) GTEST_SKIP() << "a soak runs from scripts/soak.sh";
  AgentProcess agent;
  ASSERT_TRUE(agent.listening()) << agent.logText();
  const long long requests = fromEnvironment("TW_LOAD_REQUESTS", 1000);
  const Held idle = heldNow(agent);
  Held one{};
  ASSERT_TRUE(heldWithOneClient(agent, idle.threads, one));
  const Clock::time_point start = Clock::now();
  std::vector<Held> after;
  long long served = 0;
  while (msSince(start) < seconds * 1000) {
    ASSERT_EQ(round(agent, requests, [] {}), 0);
    served += kClients * requests;
    EXPECT_TRUE(backToIdle(agent, idle)) << "round " << after.size() + 1 << ": " << agent.threads()
                                         << " threads, " << agent.descriptors() << " descriptors";
    Held now{};
    ASSERT_TRUE(heldWithOneClient(agent, idle.threads, now));
    EXPECT_EQ(now.threads, one.threads) << "round " << after.size() + 1;
    EXPECT_EQ(now.descriptors, one.descriptors) << "round " << after.size() + 1;
    after.push_back(now);
    std::printf("[ soak     ] round %zu: %lld s, %lld threads, %lld descriptors, %lld KiB\n",
                after.size(), msSince(start) / 1000, after.back().threads,
                after.back().descriptors, after.back().rssKiB);
  }
  figure("soak_seconds", msSince(start) / 1000);
  figure("soak_rounds", static_cast<long long>(after.size()));
  figure("soak_requests", served);
  figure("soak_rss_before_KiB", one.rssKiB);
  figure("soak_rss_first_round_KiB", after.front().rssKiB);
  figure("soak_rss_last_round_KiB", after.back().rssKiB);
  // The first round sizes the allocator's pools; later rounds reuse them.
  EXPECT_LE(after.back().rssKiB - after.front().rssKiB, 16 * 1024);
  EXPECT_EQ(agent.stop(), 0);
}

}  // namespace
