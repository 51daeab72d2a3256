// Round trips judged by three independent zone tools (BIND's named-compilezone,
// ldns-read-zone, knot's kzonecheck): a zone file F, and the zone our parser
// reads from F and our writer writes back, must look the same to each tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/dns/zuMasterFileParser.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using tw::test::readFileBytes;
using tw::test::runTool;
using tw::test::shellQuote;
using tw::test::writeFileBytes;

enum class Peer { Bind, Ldns, Knot };

const char* peerName(Peer peer) {
  switch (peer) {
    case Peer::Bind:
      return "named-compilezone";
    case Peer::Ldns:
      return "ldns-read-zone";
    case Peer::Knot:
      return "kzonecheck";
  }
  return "";
}

// A peer's view of a zone file: its exit status and, for the tools that print
// the zone, the records as sorted lines.
struct Verdict {
  int status = -1;
  std::vector<std::string> lines;
  std::string messages;  // kzonecheck's, shown on failure only
  bool operator==(const Verdict& other) const {
    return status == other.status && lines == other.lines;
  }
};

std::ostream& operator<<(std::ostream& out, const Verdict& v) {
  out << "status " << v.status << "\n" << v.messages;
  for (const std::string& line : v.lines) out << line << "\n";
  return out;
}

Verdict judge(Peer peer, const std::string& file, const std::string& origin) {
  Verdict verdict;
  std::string output;
  if (peer == Peer::Bind) {
    verdict.status = runTool(
        "named-compilezone -q -i none -k ignore -n ignore -m ignore -M ignore -S ignore -s full "
        "-o - " +
            shellQuote(origin) + " " + shellQuote(file) + " 2>/dev/null",
        &output);
    // -q keeps BIND quiet; a refusal is asked again for its reasons.
    if (verdict.status != 0)
      runTool("named-checkzone -i none -k ignore -n ignore -m ignore -M ignore -S ignore " +
                  shellQuote(origin) + " " + shellQuote(file) + " 2>&1",
              &verdict.messages);
  } else if (peer == Peer::Ldns) {
    // ldns has no origin option: the file starts with one.
    const std::string withOrigin = file + ".ldns";
    writeFileBytes(withOrigin, "$ORIGIN " + origin + "\n" + readFileBytes(file));
    verdict.status =
        runTool("ldns-read-zone -z " + shellQuote(withOrigin) + " 2>/dev/null", &output);
  } else {
    verdict.status =
        runTool("kzonecheck -v -o " + shellQuote(origin) + " " + shellQuote(file) + " 2>&1",
                &verdict.messages);
    return verdict;  // a verdict only; its messages name the file
  }
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != ';') verdict.lines.push_back(line);
  std::sort(verdict.lines.begin(), verdict.lines.end());
  return verdict;
}

// Parses F into a collection and writes it back to F + ".ours".
std::string ourRoundTrip(const std::string& file, const std::string& origin, bool keepDirectives) {
  zuMasterFileParser parser(file, origin, true, false);
  parser.setKeepDirectives(keepDirectives);
  zuRecordCollection zone(origin);
  parser.parse(zone, true);
  std::ostringstream out;
  zone.writeZone(out, true);
  const std::string ours = file + ".ours";
  writeFileBytes(ours, out.str());
  return ours;
}

class zuZonePeerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The peers are part of the test command; a missing one is a failure.
    for (Peer peer : {Peer::Bind, Peer::Ldns, Peer::Knot})
      ASSERT_TRUE(tw::test::haveTool(peerName(peer))) << peerName(peer) << " is not installed";
  }

  std::string write(const std::string& name, const std::string& text) {
    const std::string path = scratch_.file(name);
    writeFileBytes(path, text);
    return path;
  }

  // F against our round trip of F, for each peer asked.
  void expectSameToPeers(const std::string& file, const std::string& origin,
                         const std::vector<Peer>& peers, bool keepDirectives) {
    const std::string ours = ourRoundTrip(file, origin, keepDirectives);
    for (Peer peer : peers) {
      const Verdict before = judge(peer, file, origin);
      const Verdict after = judge(peer, ours, origin);
      EXPECT_EQ(before.status, 0) << peerName(peer) << " refuses " << file << "\n"
                                  << before.messages << readFileBytes(file);
      EXPECT_EQ(after, before) << peerName(peer) << " on " << file << " (keep directives "
                               << keepDirectives << "); ours:\n"
                               << readFileBytes(ours);
    }
  }

  tw::test::ScratchDir scratch_;
};

const std::vector<Peer> kAllPeers = {Peer::Bind, Peer::Ldns, Peer::Knot};

// RFC 1035 section 5.3, with its include of mailboxes made a real file.
const char* kRfc1035 =
    "@   IN  SOA     VENERA      Action\\.domains (\n"
    "                                 20     ; SERIAL\n"
    "                                 7200   ; REFRESH\n"
    "                                 600    ; RETRY\n"
    "                                 3600000; EXPIRE\n"
    "                                 60)    ; MINIMUM\n"
    "\n"
    "        NS      A.ISI.EDU.\n"
    "        NS      VENERA\n"
    "        NS      VAXA\n"
    "        MX      10      VENERA\n"
    "        MX      20      VAXA\n"
    "\n"
    "A       A       26.3.0.103\n"
    "\n"
    "VENERA  A       10.1.0.52\n"
    "        A       128.9.0.32\n"
    "\n"
    "VAXA    A       10.2.0.27\n"
    "        A       128.9.0.33\n"
    "\n"
    "\n"
    "$INCLUDE MAILBOXES\n";

TEST_F(zuZonePeerTest, Rfc1035ExampleZone) {
  // MB is not a type of this model: the example's mailboxes become address records.
  const std::string mailboxLines = "MOE A 10.0.0.7\nLARRY A 10.0.0.8\n";
  const std::string mailboxes = write("MAILBOXES", mailboxLines);
  std::string text = kRfc1035;
  text.replace(text.find("MAILBOXES"), 9, mailboxes);
  const std::string file = write("isi.edu", text);
  expectSameToPeers(file, "ISI.EDU.", {Peer::Bind, Peer::Knot}, false);
  expectSameToPeers(file, "ISI.EDU.", {Peer::Bind, Peer::Knot}, true);
  // ldns knows no "$INCLUDE", and without "$TTL" takes its own default TTL
  // where BIND takes the SOA minimum (our writer always writes "$TTL").
  text.replace(text.find("$INCLUDE"), std::string::npos, mailboxLines);
  expectSameToPeers(write("isi.edu.ldns", "$TTL 60\n" + text), "ISI.EDU.", kAllPeers, false);
}

const char* kEveryType =
    "$TTL 3600\n"
    "@ IN SOA ns hostmaster 2024010101 3600 600 86400 300\n"
    "@ NS ns\n"
    "ns A 10.0.0.1\n"
    "v6 AAAA 2001:db8::1\n"
    "afs AFSDB 1 afsdb.example.\n"
    "c CNAME ns\n"
    "d DNAME other.example.\n"
    "k 60 DNSKEY 257 3 8 ( "
    "AwEAAagAIKlVZrpC6Ia7gEzahOR+9W29euxhJhVVLOyQbSEW0O8gcCjFFVQUTf6v58fLjwBd0YI0EzrAcQqBGCzh\n"
    "   /RStIoO8g0NfnfL2MTJRkxoXbfDaUeVPQuYEhg37NZWAJQ9VnMVDxP/VHL496M/QZxkjf5/Efucp2gaDX6RS6CXp\n"
    "   oY68LsvPVjR0ZSwzz1apAzvN9dlzEheX7ICJBBtuA6G3LQpzW5hOA2hzCTMjJPJ8LbqF6dsV6DoBQzgul0sGIcGO\n"
    "   Yl7OyQdXfZ57relSQageu+ipAdTTJ25AsRTAoub8ONGcLmqrAmRLKBP1dfwhYB4N7knNnulqQxA+Uk1ihz0= )\n"
    "ds DS 60485 5 1 2BB183AF5F22588179A53B0A98631FAD1A292118\n"
    "h HINFO \"PC\" \"Linux 6\"\n"
    "l LOC 52 22 23.000 N 4 53 32.000 E -2.00m 0.00m 10000m 10m\n"
    "@ MX 10 mail\n"
    "mail 1h30m IN A 10.0.0.2\n"
    "n NAPTR 100 10 \"u\" \"E2U+sip\" \"!^.*$!sip:info@example.com!\" .\n"
    "nsec NSEC host.example. A NS SOA RRSIG NSEC\n"
    "p PTR host.example.\n"
    "rp RP mbox.example. txt\n"
    "sig RRSIG A 5 3 86400 20300101000000 20000101000000 2642 example. (\n"
    "   oJB1W6WNGv+ldvQ3WDG0MQkg5IEhjRip8WTrPYGv07h108dUKGMeDPKijVCHX3DDKdfb+v6oB9wfuh3DTJXUAfI/\n"
    "   M0zmO/zz8bW0Rznl8O3tGNazPwQKkRN20XPXV6nwwfoXmJQbsLNrLfkGJ5D6fwFm8nN+6pBzeDQfsS3Ap3o= )\n"
    "srv SRV 0 5 5060 sip\n"
    "t TXT \"a b\" \"c\\\"d\" semi\\;colon \"tab\there\" \"\\065\\\\\"\n"
    "w WKS 10.0.0.1 tcp smtp ftp\n";

TEST_F(zuZonePeerTest, EveryStandardType) {
  const std::string file = write("every.zone", kEveryType);
  expectSameToPeers(file, "example.", {Peer::Bind, Peer::Ldns}, false);
  // knot refuses WKS.
  std::string noWks = kEveryType;
  noWks.erase(noWks.find("w WKS"));
  expectSameToPeers(write("every-knot.zone", noWks), "example.", {Peer::Knot}, false);
}

TEST_F(zuZonePeerTest, OriginTTLIncludeAndGenerate) {
  const std::string sub = write("sub.zone",
                                "www A 10.1.0.1\n"
                                "mail 120 MX 5 www\n");
  const std::string file = write("dirs.zone",
                                 "$TTL 300\n"
                                 "@ SOA ns hm 7 3600 600 86400 300\n"
                                 "@ NS ns\n"
                                 "ns A 10.0.0.1\n"
                                 "$INCLUDE " +
                                     sub +
                                     " sub.example.\n"
                                     "$TTL 60\n"
                                     "late A 10.0.0.2\n"
                                     "$ORIGIN deep.example.\n"
                                     "x CNAME y\n"
                                     "@ TXT \"at deep\"\n"
                                     "$TTL 300\n"
                                     "back A 10.0.0.3\n"
                                     "$INCLUDE " +
                                     sub +
                                     "\n"
                                     "$ORIGIN example.\n"
                                     "$GENERATE 1-20/3 host-${10,3,d} A 10.2.0.$\n"
                                     "$GENERATE 0-3 ${0,2,x}.rev PTR host-$\n");
  expectSameToPeers(file, "example.", {Peer::Bind}, false);
  expectSameToPeers(file, "example.", {Peer::Bind}, true);
  // knot knows no "$GENERATE", ldns neither that nor "$INCLUDE": they judge
  // the zone without them.
  std::string text = readFileBytes(file);
  text.erase(text.find("$GENERATE"));
  const std::string noGenerate = write("dirs-knot.zone", text);
  expectSameToPeers(noGenerate, "example.", {Peer::Knot}, false);
  expectSameToPeers(noGenerate, "example.", {Peer::Knot}, true);
  for (std::size_t at = text.find("$INCLUDE"); at != std::string::npos; at = text.find("$INCLUDE"))
    text.erase(at, text.find('\n', at) + 1 - at);
  const std::string plain = write("dirs-ldns.zone", text);
  expectSameToPeers(plain, "example.", {Peer::Ldns}, false);
  expectSameToPeers(plain, "example.", {Peer::Ldns}, true);
}

// A seeded generator of zones over the standard types.
class ZoneGenerator {
 public:
  explicit ZoneGenerator(u32 seed) : random_(seed) {}

  std::string zone(bool withWks) {
    withEightBit_ = withWks;
    std::string text = "$TTL " + std::to_string(60 + pick(3600)) + "\n";
    text += "@ IN SOA ns hostmaster " + std::to_string(pick(4000000000u)) + " 3600 600 86400 300\n";
    text += "@ NS ns\nns A 10.0.0.1\n";
    const u32 count = 20 + pick(40);
    for (u32 i = 0; i < count; ++i) {
      // Now and then the TTL or the origin changes for the lines that follow.
      if (pick(10) == 0) text += "$TTL " + std::to_string(pick(100000)) + "\n";
      if (pick(12) == 0) text += "$ORIGIN o" + std::to_string(i) + ".example.\n";
      if (pick(12) == 0) text += "$ORIGIN example.\n";
      text += record(i, withWks) + "\n";
    }
    return text;
  }

 private:
  u32 pick(u32 n) { return static_cast<u32>(random_() % n); }

  std::string label() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string out(1, kChars[pick(26)]);
    const u32 length = pick(8);
    for (u32 i = 0; i < length; ++i) out.push_back(kChars[pick(36)]);
    return out;
  }
  std::string name() {
    switch (pick(6)) {
      case 4:
        return label() + "\\." + label();  // an escaped dot inside a label
      case 5:
        // Case is kept, except that an origin suffix in another case takes the
        // zone's (names are stored relative to the origin, matched without case).
        return "Up" + label() + ".example.";
      case 0:
        return label() + ".example.";
      case 1:
        return label() + ".other.test.";
      case 2:
        return "@";
      default:
        return label();
    }
  }
  std::string ttl() {
    switch (pick(4)) {
      case 0:
        return std::to_string(pick(86400)) + " ";
      case 1:
        return std::to_string(1 + pick(5)) + "h" + std::to_string(pick(60)) + "m ";
      case 2:
        return "1w" + std::to_string(pick(7)) + "D ";
      default:
        return "";
    }
  }
  std::string ipv4() {
    return std::to_string(pick(256)) + "." + std::to_string(pick(256)) + "." +
           std::to_string(pick(256)) + "." + std::to_string(pick(256));
  }
  std::string hex(u32 bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (u32 i = 0; i < bytes * 2; ++i) out.push_back(kHex[pick(16)]);
    return out;
  }
  std::string base64(u32 groups) {
    static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (u32 i = 0; i < groups * 4; ++i) {
      out.push_back(kB64[pick(64)]);
      if (i % 32 == 31 && i + 1 < groups * 4) out.push_back(' ');
    }
    return out;
  }
  std::string text() {
    // knot takes no raw 8-bit bytes in text: only the BIND and ldns zones carry them.
    const std::size_t pieces = (withEightBit_ ? 20 : 19);
    // Printable bytes, quotes, backslash escapes, comment and group characters.
    static const char* kPieces[] = {"a",    "Z",     " ",     ";",     "(",   ")",       "\\\"",
                                    "\\\\", "\\065", "\\009", "$",     "@",   "<!dis:",  ">",
                                    "x y",  "\t",    "\\200", "\\255", "\\;", "\xc3\xa9"};
    std::string out = "\"";
    const u32 length = pick(6);
    for (u32 i = 0; i < length; ++i) out += kPieces[pick(static_cast<u32>(pieces))];
    return out + "\"";
  }

  std::string record(u32 index, bool withWks) {
    std::string owner = label() + std::to_string(index);
    if (pick(8) == 0) owner = "*." + owner;  // a wildcard
    std::string head = owner + " " + ttl() + (pick(2) ? "IN " : "");
    switch (pick(withWks ? 20 : 19)) {
      case 0:
        return head + "A " + ipv4();
      case 1:
        return head + "AAAA 2001:db8:" + std::to_string(pick(9999)) +
               "::" + std::to_string(pick(9999));
      case 2:
        return head + "AFSDB " + std::to_string(1 + pick(2)) + " " + name();
      case 3:
        return head + "CNAME " + name();
      case 4:
        return head + "DNAME " + name();
      case 5:
        return head + "DNSKEY 256 3 8 ( " + base64(8 + pick(8)) + " )";
      case 6:
        return head + "DS " + std::to_string(pick(65536)) + " 8 2 " + hex(32);
      case 7:
        return head + "HINFO " + text() + " " + text();
      case 8:
        return head + "LOC " + std::to_string(pick(90)) + " " + std::to_string(pick(60)) + " " +
               std::to_string(pick(60)) + ".5 " + (pick(2) ? "N " : "S ") +
               std::to_string(pick(180)) + " " + std::to_string(pick(60)) + " 1.000 " +
               (pick(2) ? "E " : "W ") + std::to_string(pick(1000)) + ".00m 1m 10000m 10m";
      case 9:
        return head + "MX " + std::to_string(pick(100)) + " " + name();
      case 10:
        return head + "NAPTR " + std::to_string(pick(100)) + " " + std::to_string(pick(100)) +
               " \"U\" \"E2U+sip\" \"!^.*$!sip:x@y.test!\" " + (pick(2) ? "." : name());
      case 11:
        // A delegation: never a wildcard, and its server outside the zone.
        return label() + std::to_string(index) + ".sub NS " + label() + ".other.test.";
      case 12:
        return head + "NSEC " + name() + " A MX RRSIG NSEC";
      case 13:
        return head + "PTR " + name();
      case 14:
        return head + "RP " + name() + " " + name();
      case 15:
        // Its own TTL: without one, ldns takes the signature's original TTL.
        return owner + " " + std::to_string(1 + pick(86400)) +
               " RRSIG A 8 2 3600 20300101000000 20200101000000 " + std::to_string(pick(65536)) +
               " example. ( " + base64(16) + " )";
      case 16:
        return head + "SRV " + std::to_string(pick(100)) + " " + std::to_string(pick(100)) + " " +
               std::to_string(pick(65536)) + " " + name();
      case 17:
        return head + "TXT " + text() + (pick(2) ? " " + text() : "") + " ; note " +
               std::to_string(index);
      case 18:
        return "; a comment line " + std::to_string(index) + "\n" + head + "A " + ipv4();
      default:
        return head + "WKS " + ipv4() + " tcp smtp domain";
    }
  }

  std::mt19937 random_;
  bool withEightBit_ = true;
};

// Edits of a parsed zone reach the written zone as the peers read it: a
// record assigned from a zone of another origin keeps its names, and the
// serial that advances is the live SOA's, not the disabled one stored first.
TEST_F(zuZonePeerTest, EditsInPlaceAsThePeersReadThem) {
  const std::string text =
      "$TTL 300\n"
      ";<!dis:@ SOA ns hm 1 3600 600 86400 300>old\n"
      "@ SOA ns hm 5 3600 600 86400 300\n"
      "@ NS ns\n"
      "ns A 10.0.0.1\n"
      "www A 10.0.0.2\n";
  zuMasterFileParser parser("b.zone", "b.example.");
  parser.setOrigin("b.example.", true);
  std::istringstream in(text);
  parser.setStream(in, "b.zone");
  zuRecordCollection zone("b.example.");
  parser.parse(zone, true);
  zuRecordCollection sub("a.b.example.");
  sub.addRecord("www", "60", zuRRType::kMX, "20\tmx", "", "", true);
  zuResourceRecord* www = zone.recordAt(1, zuRRType::kA, 0);
  ASSERT_NE(www, nullptr);
  *www = *sub.recordAt(0, zuRRType::kMX, 0);
  EXPECT_EQ(zone.incrementSerial(), 6u);
  std::ostringstream out;
  zone.writeZone(out, true);
  const std::string ours = write("edited.zone", out.str());
  const std::string expected = write("expected.zone",
                                     "$TTL 300\n"
                                     "@ SOA ns hm 6 3600 600 86400 300\n"
                                     "@ NS ns\n"
                                     "ns A 10.0.0.1\n"
                                     "www.a 60 MX 20 mx.a\n");
  for (Peer peer : {Peer::Bind, Peer::Ldns}) {
    const Verdict want = judge(peer, expected, "b.example.");
    EXPECT_EQ(want.status, 0) << peerName(peer);
    EXPECT_EQ(judge(peer, ours, "b.example."), want) << peerName(peer) << "; ours:\n" << out.str();
  }
}

TEST_F(zuZonePeerTest, SeededRandomZones) {
  for (u32 seed = 1; seed <= 60; ++seed) {
    ZoneGenerator bindAndLdns(seed);
    const std::string file =
        write("random" + std::to_string(seed) + ".zone", bindAndLdns.zone(true));
    expectSameToPeers(file, "example.", {Peer::Bind, Peer::Ldns}, false);
    ZoneGenerator knot(seed);
    const std::string knotFile =
        write("random-knot" + std::to_string(seed) + ".zone", knot.zone(false));
    expectSameToPeers(knotFile, "example.", {Peer::Knot}, false);
  }
}

}  // namespace

namespace {

// One malformed line after a sound zone head: our error (0 when we accept
// it) and line, and whether each peer refuses the zone.
struct Snippet {
  const char* line;
  u16 code;
  u32 errorLine;
  bool bindRefuses;
  bool ldnsRefuses;
  bool knotRefuses;
  const char* divergence;
};

const Snippet kSnippets[] = {
    {"x CH A 1.2.3.4", 1829, 5, true, false, true, "ldns takes any class"},
    {"x 60 60 A 1.2.3.4", 1825, 5, true, true, true, nullptr},
    {"x IN IN A 1.2.3.4", 1825, 5, true, true, true, nullptr},
    {"x IN BOGUS 1", 1826, 5, true, true, true, nullptr},
    {"x A ( 1.2.3.4", 1795, 5, true, false, true,
     "ldns closes an open group at the end; BIND names the line after the last, we the "
     "line where the group began"},
    {"x A 1.2.3.4 )", 1795, 5, true, false, true, "ldns ignores a stray ')'"},
    {"x TXT \"open", 1795, 5, true, false, true, "ldns ends an open quote at the line end"},
    {"x TXT \\999", 1812, 5, true, true, true, nullptr},
    {"x TXT \"a\\", 1812, 5, true, true, true, nullptr},
    {"@ SOA ns hm 4294967296 1 2 3 4", 1810, 5, true, false, true,
     "ldns drops the record silently"},
    {"@ SOA ns hm 1 2 3 4", 1811, 5, true, true, true, nullptr},
    {"$TTL 1y", 1824, 5, true, false, true, "ldns ignores the directive"},
    {"$TTL 60 extra", 1808, 5, true, false, true, "ldns ignores the rest of the line"},
    {"$BOGUS 1", 1795, 5, true, true, true, nullptr},
    {"x 6x A 1.2.3.4", 1824, 5, true, false, true, "ldns reads the leading digits"},
    {"x 2147483648 A 1.2.3.4", 1824, 5, false, false, false,
     "our TTLs stop at 2147483647; the peers take larger values"},
    {"x IN", 1795, 5, true, true, true, nullptr},
    {"$GENERATE 3-1 h$ A 1.2.3.4", 1813, 5, true, true, true,
     "ldns and knot refuse every $GENERATE"},
    {"$GENERATE 1-3 h$ MX 10 m", 1813, 5, true, true, true,
     "BIND generates MX; we generate A, NS, CNAME, PTR, AAAA and DNAME only"},
    {"x WINS 1 2 3", 0, 0, true, true, true, "WINS and WINSR are this system's own"},
    {"x N/A foo", 0, 0, true, true, true, "N/A (a record without type) is this system's own"},
    {"x [AGE:5] A 1.2.3.4", 0, 0, true, true, true, "aging values are this system's own"},
    {"x A 1.2.3.4 5.6.7.8", 0, 0, true, true, true, "rdata is kept as text, not checked"},
    {"x A 999.1.1.1", 0, 0, true, true, true, "rdata is kept as text, not checked"},
};

TEST_F(zuZonePeerTest, MalformedLinesAgainstEachPeersVerdict) {
  for (const Snippet& s : kSnippets) {
    const std::string file =
        write("bad.zone", std::string("$TTL 300\n@ SOA ns hm 1 3600 600 86400 300\n"
                                      "@ NS ns\nns A 10.0.0.1\n") +
                              s.line + "\n");
    u16 code = 0;
    u32 line = 0;
    try {
      zuMasterFileParser parser(file, "example.", true, false);
      zuRecordCollection zone("example.");
      parser.parse(zone, true);
    } catch (const zuException& e) {
      code = e.code();
      line = e.message().paramUInt('l');
    }
    EXPECT_EQ(code, s.code) << s.line;
    EXPECT_EQ(line, s.errorLine) << s.line;
    EXPECT_EQ(judge(Peer::Bind, file, "example.").status != 0, s.bindRefuses) << s.line;
    EXPECT_EQ(judge(Peer::Ldns, file, "example.").status != 0, s.ldnsRefuses) << s.line;
    EXPECT_EQ(judge(Peer::Knot, file, "example.").status != 0, s.knotRefuses) << s.line;
  }
}

}  // namespace

namespace {

// Legal zones that once came back with changed records: each is parsed,
// written and judged by the peers next to the original. "FILE" in a zone
// stands for the path of its included file.
struct RoundTripCase {
  const char* what;
  std::string zone;
  std::string include;
  bool ldns;  // whether ldns-read-zone reads the construct as BIND does
};

const char* const kHead = "$TTL 300\n@ SOA ns hm 1 3600 600 86400 300\n@ NS ns\nns A 10.0.0.1\n";

std::vector<RoundTripCase> roundTripCases() {
  const std::string s255(255, 'a');
  return {
      {"two strings without a blank", std::string(kHead) + "t TXT \"a\"\"b\"\n", "", true},
      {"a word after a string", std::string(kHead) + "t TXT \"abc\"def\n", "", true},
      // ldns keeps the quotes inside the word: "a\"b" "c\"d".
      {"strings inside a word", std::string(kHead) + "x TXT a\"b c\"d\n", "", false},
      {"a full string then an empty one",
       std::string(kHead) + "t TXT \"" + s255 + "\"\"\" \"x\"\n", "", true},
      {"an included file's first line without owner",
       std::string(kHead) + "q A 10.0.0.5\n$INCLUDE FILE\n\tA 10.0.0.7\n",
       "\tA 10.0.0.6\nw A 10.0.0.8\n", false},
      {"the last stated TTL without $TTL",
       "@ 60 SOA ns hm 1 3600 600 86400 300\n@ NS ns\nns 120 A 10.0.0.1\nb A 10.0.0.2\n", "",
       true},
      {"the last stated TTL into an included file",
       "@ 60 SOA ns hm 1 3600 600 86400 300\n@ NS ns\nns 120 A 10.0.0.1\n$INCLUDE FILE\n"
       "b A 10.0.0.2\n",
       "c A 10.0.0.3\n", false},
      {"a $TTL before an $INCLUDE",
       std::string(kHead) + "$TTL 60\n$INCLUDE FILE\n$TTL 300\nz A 10.0.0.4\n",
       "i A 10.0.0.9\n\tTXT \"in\"\n", false},
      {"NUL inside quotes", std::string(kHead) + std::string("t TXT \"a\0b\"\n", 12), "", false},
      {"a marker that holds no record", std::string(kHead) + ";<!dis: just a note\n", "", true},
      {"escaped control bytes",
       std::string(kHead) + "t TXT \"x\\\x03y\"\nq\\\x03r A 10.0.0.3\nm MX 5 q\\\x03r\n", "",
       true},
  };
}

TEST_F(zuZonePeerTest, LegalZonesComeBackWithTheSameRecords) {
  u32 n = 0;
  for (const RoundTripCase& c : roundTripCases()) {
    SCOPED_TRACE(c.what);
    const std::string tag = std::to_string(++n);
    std::string zone = c.zone;
    if (!c.include.empty()) {
      const std::string inc = write("inc" + tag, c.include);
      zone.replace(zone.find("FILE"), 4, inc);
    }
    const std::string file = write("legal" + tag + ".zone", zone);
    std::vector<Peer> peers = {Peer::Bind};
    if (c.ldns && c.include.empty()) peers.push_back(Peer::Ldns);
    try {
      expectSameToPeers(file, "example.", peers, false);
      expectSameToPeers(file, "example.", peers, true);
    } catch (const zuException& e) {
      ADD_FAILURE() << e.message().toString();
    }
  }
}

}  // namespace
