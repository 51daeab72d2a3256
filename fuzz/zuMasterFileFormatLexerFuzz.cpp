// The zone-file lexers over arbitrary bytes: every token is read to the end of
// the input or to a zuException; nothing may crash, hang or read outside the
// line buffer. Byte 0 picks the options; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "loam/base/zuException.h"
#include "loam/dns/zuMasterFileFormatLexer.h"
#include "loam/dns/zuStreamLexer.h"

namespace {
void drain(zuCustomStreamLexer& lexer, std::size_t size) {
  // Every token consumes input or ends the line, so tokens are bounded by the
  // input's size; more means the lexer stopped moving.
  const std::size_t limit = 4 * size + 16;
  for (std::size_t i = 0; i < limit; ++i) {
    const u32 kind = lexer.nextToken();
    lexer.tokenText();
    lexer.tokenName(kind);
    if (kind == zuTokenKind::EndOfInput) return;
  }
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const u8 options = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    zuMasterFileFormatLexer lexer;
    lexer.setStream(std::make_unique<std::istringstream>(text), "fuzz");
    lexer.setReturnEOL((options & 1) != 0);
    if ((options & 2) != 0) lexer.disableEscapes();
    lexer.setMaxLineLength(4096);
    drain(lexer, size);
  } catch (const zuException&) {
  }
  try {
    zuStreamLexer plain(text);
    plain.setSlashComments((options & 4) != 0);
    plain.setReturnComments((options & 8) != 0);
    plain.setStripQuotes((options & 16) != 0);
    plain.setReturnEOL((options & 32) != 0);
    drain(plain, size);
  } catch (const zuException&) {
  }
  return 0;
}
