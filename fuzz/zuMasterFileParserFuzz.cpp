// The master-file parser over arbitrary zone text, without includes: every
// record is read into a collection (and the zone written back) or the parse
// ends in a zuException; nothing may crash, hang or grow without bound.
// Byte 0 picks the options; the rest is the text. The $GENERATE bound is low:
// a range near it costs every record three times (read, written, read again),
// and a larger one walks no code a smaller one does not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "loam/base/zuException.h"
#include "loam/dns/zuMasterFileParser.h"
#include "loam/dns/zuRecordCollection.h"

namespace {
constexpr u64 kMaxGenerated = 64;
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
  // Under the zone's origin, known as it was for the first read.
  reread.setOrigin(zone.origin(), (options & 1) != 0);
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
  return 0;
}
