// The DNS-name recogniser in its strict and relaxed modes and with each option.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "loam/dns/zuDNSStateMachine.h"

namespace {

const u8* bytesOf(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }
u32 sizeOf(const std::string& s) { return static_cast<u32>(s.size()); }

struct Config {
  u8 underscore;
  bool relaxed;
  bool leadingHyphen;
};

bool accepts(const std::string& text, Config c) {
  zuDNSStateMachine m(0, c.relaxed);
  m.configure(c.underscore, c.relaxed, c.leadingHyphen);
  return m.feed(bytesOf(text), sizeOf(text));
}

TEST(zuDNSStateMachine, StrictRelaxedAndOptionsTable) {
  const Config strict{1, false, false};
  const Config noUnderscore{0, false, false};
  const Config leadingHyphen{1, false, true};
  const Config relaxed{1, true, false};
  struct Case {
    const char* text;
    bool strict, noUnderscore, leadingHyphen, relaxed;
  };
  const Case cases[] = {
      {"a-b.c.", true, true, true, true},
      {"example.com", true, true, true, true},
      {"www.example.com.", true, true, true, true},
      {"0.1.2", true, true, true, true},
      {"a--b", true, true, true, true},
      {"a/b", true, true, true, true},  // '/' is a hyphen (classless reverse zones)
      {"a-.c", false, false, false, true},
      {"a-", false, false, false, true},
      {"-a", false, false, true, true},
      {"b.-a", false, false, true, true},
      {"-", false, false, true, true},
      {"*.b.c", true, true, true, true},
      {"*", true, true, true, true},
      {"*.", true, true, true, true},
      {"a.*", true, true, true, true},
      {"a*.b", false, false, false, false},
      {"*a", false, false, false, false},
      {"**", false, false, false, false},
      {"a..b", false, false, false, false},
      {"a b", false, false, false, false},
      {"a_b", true, false, true, true},
      {"_a", false, false, true, true},  // '_' is a hyphen in strict mode
      {"a_", false, false, false, true},
      {"a_b/c", true, false, true, true},
      {"_srv._tcp", false, false, true, true},
      {"", false, false, false, false},
      {".", false, false, false, false},
      {".a", false, false, false, false},
      {"a\tb", false, false, false, false},
      {"a\xc3\xa9", false, false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(accepts(c.text, strict), c.strict) << '"' << c.text << "\" strict";
    EXPECT_EQ(accepts(c.text, noUnderscore), c.noUnderscore) << '"' << c.text << "\" no '_'";
    EXPECT_EQ(accepts(c.text, leadingHyphen), c.leadingHyphen) << '"' << c.text << "\" lead '-'";
    EXPECT_EQ(accepts(c.text, relaxed), c.relaxed) << '"' << c.text << "\" relaxed";
  }
}

TEST(zuDNSStateMachine, ConstructorIsStrictWithUnderscoreOrRelaxed) {
  const std::string text = "a_b";
  zuDNSStateMachine strict(0, false);
  EXPECT_TRUE(strict.feed(bytesOf(text), sizeOf(text)));
  const std::string trailing = "a-";
  zuDNSStateMachine strict2;
  EXPECT_FALSE(strict2.feed(bytesOf(trailing), sizeOf(trailing)));
  zuDNSStateMachine relaxed(0, true);
  EXPECT_TRUE(relaxed.feed(bytesOf(trailing), sizeOf(trailing)));
}

TEST(zuDNSStateMachine, RejectionIsStickyAndCounted) {
  zuDNSStateMachine m;
  EXPECT_FALSE(m.feed(nullptr, 0));  // the start state does not accept
  EXPECT_TRUE(m.step('a'));
  EXPECT_FALSE(m.step(' '));
  EXPECT_EQ(m.charCount(), 2u);  // the rejecting byte counts
  EXPECT_FALSE(m.step('a'));
  EXPECT_EQ(m.charCount(), 2u);
  EXPECT_FALSE(m.isAccepting());
}

TEST(zuDNSStateMachine, MachinesAreIndependent) {
  // A relaxed machine configured next to a strict one leaves the strict one alone.
  zuDNSStateMachine strict(0, false);
  zuDNSStateMachine relaxed(0, true);
  relaxed.configure(0, true, true);
  const std::string text = "-a";
  EXPECT_FALSE(strict.feed(bytesOf(text), sizeOf(text)));
  EXPECT_TRUE(relaxed.feed(bytesOf(text), sizeOf(text)));

  // A copy steps on its own tables, configured as the original was.
  zuDNSStateMachine original(0, false);
  original.configure(1, false, true);
  zuDNSStateMachine copy(original);
  original.configure(1, false, false);
  EXPECT_TRUE(copy.feed(bytesOf(text), sizeOf(text)));
  zuDNSStateMachine assigned;
  assigned = copy;
  EXPECT_TRUE(assigned.isAccepting());

  // Several threads, each with its own machines.
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &ok] {
      const std::string name = t % 2 ? "a-" : "a-b";
      int good = 0;
      for (int i = 0; i < 2000; ++i) {
        zuDNSStateMachine m(0, t % 2 == 1);
        good += m.feed(bytesOf(name), sizeOf(name)) ? 1 : 0;
      }
      ok[static_cast<std::size_t>(t)] = good;
    });
  }
  for (auto& th : threads) th.join();
  for (int good : ok) EXPECT_EQ(good, 2000);
}

}  // namespace
