// The scp control line is read strictly: what the remote sends picks the
// size of the copy, so anything loose is refused.
#include <gtest/gtest.h>

#include "loam/terminal/zuScpLine.h"

namespace {

TEST(ScpLine, Table) {
  struct Case {
    const char* line;
    bool ok;
    u32 size;
  };
  const Case cases[] = {
      {"C0644 5 name", true, 5},
      {"C0755 0 a b c", true, 0},
      {"C0600 4294967295 big", true, 0xFFFFFFFF},
      {"C0644 4294967296 over", false, 0},
      {"C0644 00000000005 eleven digits", false, 0},
      {"C0844 5 octal", false, 0},
      {"C644 5 short mode", false, 0},
      {"C06444 5 long mode", false, 0},
      {"C0644  5 two blanks", false, 0},
      {"C0644 +5 sign", false, 0},
      {"C0644 5x name", false, 0},
      {"C0644 5 ", false, 0},
      {"C0644 5 ..", false, 0},
      {"C0644 5 .", false, 0},
      {"C0644 5 dir/name", false, 0},
      {"C0644 5", false, 0},
      {"D0755 0 folder", false, 0},
      {"\x01scp: /x: No such file or directory", false, 0},
  };
  for (const Case& c : cases) {
    u32 size = 12345;
    EXPECT_EQ(zuParseScpLine(c.line, size), c.ok) << c.line;
    EXPECT_EQ(size, c.ok ? c.size : 12345u) << c.line;
  }
}

}  // namespace
