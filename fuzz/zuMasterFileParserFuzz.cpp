// The master-file parser over arbitrary zone text, without includes: every
// record is read into a collection (and the zone written back) or the parse
// ends in a zuException; nothing may crash, hang or grow without bound. The
// written zone must read again into the same records (in any order: the
// writer puts the SOA first).
// Byte 0 picks the options; the rest is the text. The $GENERATE bound is low:
// a range near it costs every record three times (read, written, read again),
// and a larger one walks no code a smaller one does not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/dns/zuMasterFileParser.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"

namespace {
constexpr u64 kMaxGenerated = 64;

using Fields = std::tuple<std::string, u32, std::string, std::string, std::string, std::string, bool>;

std::vector<Fields> recordsOf(const zuRecordCollection& zone) {
  std::vector<Fields> out;
  for (u32 i = 0; i < zone.count(255, 0); ++i) {
    const zuResourceRecord& r = *zone.recordAt(i, 255, 0);
    out.emplace_back(r.name(), r.type(), r.TTL(), r.data(), r.comment(), r.aging(), r.enabled());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Every byte shown: non-printable ones as \xHH.
std::string shown(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 32 && b < 127) {
      out.push_back(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    }
  }
  return out;
}

void printRecords(const char* title, const std::vector<Fields>& records) {
  std::fprintf(stderr, "%s\n", title);
  for (const Fields& f : records)
    std::fprintf(stderr, "  [%s] %u [%s] [%s] ;[%s] age[%s] %s\n", shown(std::get<0>(f)).c_str(),
                 std::get<1>(f), shown(std::get<2>(f)).c_str(), shown(std::get<3>(f)).c_str(),
                 shown(std::get<4>(f)).c_str(), shown(std::get<5>(f)).c_str(),
                 std::get<6>(f) ? "on" : "off");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const u8 options = data[0];
  std::istringstream in(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  zuMasterFileParser parser("fuzz", (options & 1) != 0 ? "example." : "");
  parser.setOrigin((options & 1) != 0 ? "example." : "", (options & 1) != 0);
  parser.setStream(in, "fuzz");
  parser.setIncludesNotAllowed(true);
  parser.setKeepDirectives((options & 2) != 0);
  parser.setKeepComments((options & 4) != 0);
  parser.setParseDisabled((options & 8) != 0);
  parser.setMaxGenerated(kMaxGenerated);
  parser.setMaxLineLength(4096);
  zuRecordCollection zone("");
  try {
    parser.parse(zone, (options & 16) != 0);
  } catch (const zuException&) {
  }
  std::ostringstream out;
  zone.writeZone(out, true);
  // Whatever the parser read, the writer writes text that parses again.
  std::istringstream again(out.str());
  zuMasterFileParser reread("again", zone.origin());
  // Under the zone's origin when the first read knew one; else, as there,
  // under none, so that "@" stands for the same (empty) text in both reads.
  reread.setOrigin((options & 1) != 0 ? zone.origin() : std::string(), (options & 1) != 0);
  reread.setStream(again, "again");
  reread.setIncludesNotAllowed(true);
  reread.setParseDisabled((options & 8) != 0);
  reread.setMaxGenerated(kMaxGenerated);
  zuRecordCollection copy("");
  try {
    reread.parse(copy, false);
  } catch (const zuException& e) {
    std::fprintf(stderr, "%s\n%s\n", e.message().toString().c_str(), out.str().c_str());
    std::abort();
  }
  const std::vector<Fields> first = recordsOf(zone);
  const std::vector<Fields> second = recordsOf(copy);
  if (first != second) {
    std::fprintf(stderr, "written:\n%s\n", shown(out.str()).c_str());
    std::vector<Fields> onlyFirst;
    std::vector<Fields> onlySecond;
    std::set_difference(first.begin(), first.end(), second.begin(), second.end(),
                        std::back_inserter(onlyFirst));
    std::set_difference(second.begin(), second.end(), first.begin(), first.end(),
                        std::back_inserter(onlySecond));
    printRecords("first read only:", onlyFirst);
    printRecords("second read only:", onlySecond);
    std::abort();
  }
  return 0;
}
