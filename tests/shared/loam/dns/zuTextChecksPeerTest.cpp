// The text checks judged by independent peers: time spans against
// dns.ttl.from_text of python3-dnspython, IPv4 address texts against the
// platform's inet_pton, and LOC fields against BIND's named-checkzone
// (bind9-utils) on whole records. Every intended difference is listed here.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "loam/dns/zuTextChecks.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using tw::test::runTool;
using tw::test::shellQuote;

using tw::test::kPython;

u32 len(const std::string& s) { return static_cast<u32>(s.size()); }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// ---- Time spans ------------------------------------------------------------

std::vector<std::string> timeSpanCorpus() {
  std::mt19937 rng(20240315);
  const auto pick = [&rng](u32 n) { return static_cast<u32>(rng() % n); };
  const std::vector<std::string> numbers = {
      "0",        "1",          "7",          "59",         "60",         "3550",
      "3551",     "24855",      "24856",      "596523",     "596524",     "35791394",
      "35791395", "2147483647", "2147483648", "4294967295", "4294967296", "007"};
  const std::string units = "wWdDhHmMsS";
  std::vector<std::string> corpus = {"1h1h",       "24855d",     "24856d", "3550w", "3551w",
                                     "2147483647", "2147483648", "1h0",    "1h00",  "0",
                                     "1W2D",       "h",          "1x"};
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const u32 shape = pick(10);
    if (shape == 0) {
      for (u32 d = 0, n = 1 + pick(12); d < n; ++d) text += static_cast<char>('0' + pick(10));
    } else {
      for (u32 k = 0, n = 1 + pick(4); k < n; ++k) {
        if (pick(20) != 0)
          text += pick(3) == 0 ? std::to_string(pick(100000))
                               : numbers[pick(static_cast<u32>(numbers.size()))];
        text += pick(30) == 0 ? 'x' : units[pick(static_cast<u32>(units.size()))];
      }
      if (pick(8) == 0) text += pick(2) == 0 ? "0" : std::to_string(1 + pick(99));
    }
    corpus.push_back(text);
  }
  return corpus;
}

bool trailingZerosAfterAUnit(const std::string& text) {
  const auto unit = text.find_last_not_of("0123456789");
  return unit != std::string::npos && unit + 1 < text.size() &&
         text.find_first_not_of('0', unit + 1) == std::string::npos;
}

TEST(zuTextChecksPeer, TimeSpansAgreeWithDnspython) {
  ASSERT_EQ(runTool(std::string(kPython) + " -c 'import dns.ttl' 2>/dev/null"), 0)
      << "python3-dnspython is needed as the independent peer";
  tw::test::ScratchDir dir;
  const std::vector<std::string> corpus = timeSpanCorpus();
  std::string input;
  for (const std::string& t : corpus) input += t + "\n";
  tw::test::writeFile(dir.file("spans.txt"), input);
  const std::string script =
      "import sys, dns.ttl\n"
      "for line in open(sys.argv[1]):\n"
      "    try:\n"
      "        print(dns.ttl.from_text(line.rstrip('\\n')))\n"
      "    except Exception:\n"
      "        print('bad')\n";
  tw::test::writeFile(dir.file("spans.py"), script);
  std::string output;
  ASSERT_EQ(runTool(std::string(kPython) + " " + shellQuote(dir.file("spans.py")) + " " +
                        shellQuote(dir.file("spans.txt")),
                    &output),
            0);
  const std::vector<std::string> theirs = lines(output);
  ASSERT_EQ(theirs.size(), corpus.size());

  u32 bothAccept = 0;
  u32 bothRefuse = 0;
  for (std::size_t i = 0; i < corpus.size(); ++i) {
    const std::string& text = corpus[i];
    u32 ours = 0;
    const bool ourOk = zuParseTimeSpan(text.data(), len(text), ours);
    const bool theirOk = theirs[i] != "bad";
    if (ourOk) {
      ASSERT_TRUE(theirOk) << '"' << text << '"';
      ASSERT_EQ(std::to_string(ours), theirs[i]) << '"' << text << '"';
      ++bothAccept;
      continue;
    }
    ASSERT_EQ(ours, 0xFFFFFFFFu) << text;
    if (!theirOk) {
      ++bothRefuse;
      continue;
    }
    // Intended differences: dnspython takes totals up to 2^32-1 where TTL
    // texts here stop at 2^31-1, and it lets zero digits trail the last unit
    // ("1h0"), which are digits without a unit here.
    const unsigned long long value = std::stoull(theirs[i]);
    EXPECT_TRUE(value > 2147483647ull || trailingZerosAfterAUnit(text))
        << '"' << text << "\" is " << value << " for dnspython";
  }
  // The corpus exercises both sides.
  EXPECT_GT(bothAccept, 500u);
  EXPECT_GT(bothRefuse, 100u);
}

// ---- IPv4 address text -----------------------------------------------------

std::vector<std::string> addressCorpus() {
  std::mt19937 rng(1918);
  const auto pick = [&rng](u32 n) { return static_cast<u32>(rng() % n); };
  std::vector<std::string> corpus = {
      "0.0.0.0", "255.255.255.255", "01.2.3.4",  "1.2.3.04", "*",
      "10.*",    "1.2.3.*",         "1.2.3.4.*", "",         "1.2.3.4."};
  const std::string odd = "x -+:/*";
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const u32 parts = 1 + pick(5);
    for (u32 p = 0; p < parts; ++p) {
      if (p > 0) text += '.';
      const u32 kind = pick(40);
      if (kind == 0) continue;  // empty octet
      if (kind == 1) {
        text += odd[pick(static_cast<u32>(odd.size()))];
        continue;
      }
      for (u32 z = pick(6) == 0 ? 1 + pick(2) : 0; z > 0; --z) text += '0';
      text += std::to_string(pick(6) == 0 ? 250 + pick(60) : pick(256));
    }
    if (pick(20) == 0) text += '.';
    if (pick(10) == 0) text = text.substr(0, text.rfind('.') + 1) + "*";
    corpus.push_back(text);
  }
  return corpus;
}

std::vector<std::string> splitDots(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (;;) {
    const auto dot = text.find('.', pos);
    parts.push_back(text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos));
    if (dot == std::string::npos) return parts;
    pos = dot + 1;
  }
}

std::string withoutLeadingZeros(const std::string& text) {
  std::string out;
  for (std::string part : splitDots(text)) {
    while (part.size() > 1 && part[0] == '0') part.erase(0, 1);
    out += part + ".";
  }
  out.pop_back();
  return out;
}

bool inetPton4(const std::string& text) {
  unsigned char out[4];
  return inet_pton(AF_INET, text.c_str(), out) == 1;
}

// One to three digits worth at most 255, leading zeros allowed.
bool isOctetText(const std::string& s) {
  if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  return std::stoi(s) <= 255;
}

TEST(zuTextChecksPeer, IPv4TextAgreesWithInetPton) {
  u32 accepted = 0;
  u32 leadingZeros = 0;
  u32 wildcards = 0;
  for (const std::string& text : addressCorpus()) {
    const bool ours = zuIsValidIPAddressText(text.data(), len(text));
    const bool loose = zuIsValidIPAddressTextLoose(text.data(), len(text));
    const bool theirs = inetPton4(text);
    if (theirs) {
      ASSERT_TRUE(ours) << '"' << text << '"';
    }
    if (ours) {
      ASSERT_TRUE(loose) << '"' << text << '"';
    }
    accepted += ours ? 1 : 0;
    if (ours && !theirs) {
      // Intended difference: octets with leading zeros pass here (inet_pton
      // refuses them, as the address parser does).
      ASSERT_NE(withoutLeadingZeros(text), text) << '"' << text << '"';
      ASSERT_TRUE(inetPton4(withoutLeadingZeros(text))) << '"' << text << '"';
      ++leadingZeros;
    }
    if (loose && !ours) {
      // Intended difference of the loose form: a final "*" after at most
      // two octets ("*", "10.*", "10.1.2.*").
      std::vector<std::string> parts = splitDots(text);
      ASSERT_EQ(parts.back(), "*") << '"' << text << '"';
      parts.pop_back();
      ASSERT_LE(parts.size(), 3u) << '"' << text << '"';
      for (const std::string& p : parts) ASSERT_TRUE(isOctetText(p)) << '"' << text << '"';
      ++wildcards;
    }
  }
  EXPECT_GT(accepted, 500u);
  EXPECT_GT(leadingZeros, 100u);
  EXPECT_GT(wildcards, 50u);
}

// ---- LOC fields ------------------------------------------------------------

struct LocRecord {
  std::vector<std::pair<u32, std::string>> fields;  // kind, text
  bool bindAccepts;                                 // what named-checkzone is expected to say
  const char* why;                                  // for an intended difference: why ours differs
};

std::string recordText(const LocRecord& r) {
  std::string text;
  for (const auto& f : r.fields) text += " " + f.second;
  return text;
}

bool oursAccepts(const LocRecord& r) {
  for (const auto& f : r.fields) {
    if (!zuIsValidLocText(f.first, f.second.data(), len(f.second), false)) return false;
  }
  return true;
}

LocRecord record(const std::string& lat, const std::string& lon, const std::string& alt,
                 std::vector<std::string> sizes = {}) {
  LocRecord r;
  r.fields = {{kZuLocLatitude, lat}, {kZuLocLongitude, lon}, {kZuLocAltitude, alt}};
  for (std::size_t i = 0; i < sizes.size(); ++i)
    r.fields.emplace_back(static_cast<u32>(kZuLocSize + i), sizes[i]);
  r.bindAccepts = oursAccepts(r);
  r.why = nullptr;
  return r;
}

LocRecord differs(LocRecord r, const char* why) {
  r.bindAccepts = !r.bindAccepts;
  r.why = why;
  return r;
}

std::vector<LocRecord> locCorpus() {
  std::vector<LocRecord> corpus;
  const std::vector<std::string> minutes = {"", "0", "7", "59", "60"};
  const std::vector<std::string> seconds = {"", "0", "30.5", "59.999", "60", "0.001"};
  const auto angles = [&](std::vector<std::string> degrees, const char* hemispheres) {
    std::vector<std::string> out;
    for (const std::string& d : degrees)
      for (const std::string& m : minutes)
        for (const std::string& s : seconds) {
          if (m.empty() && !s.empty()) continue;
          for (const char* h = hemispheres; *h; ++h) {
            std::string t = d;
            if (!m.empty()) t += " " + m;
            if (!s.empty()) t += " " + s;
            out.push_back(t + " " + *h);
          }
        }
    return out;
  };
  for (const std::string& lat : angles({"0", "1", "45", "89", "90", "91"}, "NS"))
    corpus.push_back(record(lat, "71 06 18 W", "-24m"));
  for (const std::string& lon : angles({"0", "179", "180", "181"}, "EW"))
    corpus.push_back(record("42 21 54 N", lon, "0"));
  for (const char* alt : {"0", "-24m", "-100000", "-100000m", "-100000.01", "42849672.95m",
                          "42849672.96", "10.5", "12.25m", ".5", "-.5m", "5.", "1000000"})
    corpus.push_back(record("42 N", "71 W", alt));
  for (const char* size : {"0", "1m", "30m", ".5m", "0.01", "90000000", "90000000m", "10000000m",
                           "1.5", "-1", "99999999"}) {
    corpus.push_back(record("42 N", "71 W", "0", {size}));
    corpus.push_back(record("42 N", "71 W", "0", {"1m", size}));
    corpus.push_back(record("42 N", "71 W", "0", {"1m", "10000m", size}));
  }

  // Intended differences.
  corpus.push_back(differs(record("42 21 54 n", "71 06 18 w", "0"),
                           "hemisphere letters pass in either case here; BIND wants capitals"));
  corpus.push_back(
      differs(record("42 N", "71 W", "0M"), "the metre unit passes as M too here; BIND wants m"));
  corpus.push_back(differs(record("42 21 54.1234 N", "71 W", "0"),
                           "seconds take any decimals here; BIND at most three"));
  corpus.push_back(differs(record("42 N", "71 W", "-24.123m"),
                           "metres take any decimals here; BIND at most two"));
  corpus.push_back(
      differs(record("42 +21 N", "71 W", "0"), "stream extraction takes a + sign; BIND does not"));
  corpus.push_back(differs(record("42 21 1e1 N", "71 W", "0"),
                           "stream extraction takes an exponent; BIND does not"));
  corpus.push_back(differs(record("42 N", "71 W", "0", {"1e3"}),
                           "stream extraction takes an exponent; BIND does not"));
  corpus.push_back(differs(record("42 N", "71 W", "0", {"90000000.01m"}),
                           "sizes stop at 90000000 m here; BIND takes a little more"));
  return corpus;
}

TEST(zuTextChecksPeer, LocFieldsAgreeWithNamedCheckzone) {
  ASSERT_EQ(runTool("command -v named-checkzone >/dev/null 2>&1"), 0)
      << "named-checkzone (bind9-utils) is needed as the independent peer";
  const std::vector<LocRecord> corpus = locCorpus();
  std::string zone =
      "$TTL 3600\n"
      "@ IN SOA ns hostmaster 1 3600 900 604800 300\n"
      "@ IN NS ns\n"
      "ns IN A 192.0.2.1\n";
  const u32 firstLine = 5;
  for (std::size_t i = 0; i < corpus.size(); ++i)
    zone += "r" + std::to_string(i) + " IN LOC" + recordText(corpus[i]) + "\n";
  tw::test::ScratchDir dir;
  tw::test::writeFile(dir.file("loc.db"), zone);
  std::string output;
  runTool("named-checkzone example.com " + shellQuote(dir.file("loc.db")) + " 2>&1", &output);

  // Errors name the line: "loc.db:<line>: ...".
  std::map<u32, std::string> refused;
  for (const std::string& line : lines(output)) {
    const auto at = line.find("loc.db:");
    if (at == std::string::npos) continue;
    refused[static_cast<u32>(std::stoul(line.substr(at + 7)))] = line;
  }
  ASSERT_FALSE(refused.empty()) << output;  // the corpus has refused records
  u32 accepted = 0;
  for (std::size_t i = 0; i < corpus.size(); ++i) {
    const LocRecord& r = corpus[i];
    const u32 lineNo = firstLine + static_cast<u32>(i);
    const bool bind = refused.count(lineNo) == 0;
    EXPECT_EQ(bind, r.bindAccepts)
        << "LOC" << recordText(r) << (r.why ? std::string(" (") + r.why + ")" : "")
        << (bind ? "" : "\n" + refused[lineNo]);
    accepted += bind ? 1 : 0;
  }
  EXPECT_GT(accepted, 100u);
}

}  // namespace
