// Split, join, number-list, decimal and hex conversions and in-place byte
// replacement over arbitrary bytes: none may crash or touch memory outside its
// buffers. Byte 0 picks the separator, byte 1 the line-end mode; the rest is
// the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "loam/base/zuList.h"
#include "loam/base/zuString.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const char sep = static_cast<char>(data[0]);
  const u8 mode = static_cast<u8>(data[1] % 6);
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  std::vector<std::string> items;
  zuSplit(text, items, sep);
  if (zuJoin(items, sep) != text) std::abort();  // splitting loses nothing
  std::set<std::string> itemSet;
  zuSplitSet(text, itemSet, sep);
  zuJoinSet(itemSet, sep);
  zuDropFirstLabel(text);
  zuRemoveDuplicates(items, (data[1] & 1) != 0);

  std::vector<u32> us;
  // Formatted numbers read back, unless the separator is itself a digit.
  if (zuParseUIntList(text, us, sep) && !zuIsDigit(static_cast<u8>(sep))) {
    std::vector<u32> again;
    if (!zuParseUIntList(zuFormatUIntList(us, sep), again, sep) || again != us) std::abort();
  }
  std::vector<i32> is;
  zuParseIntList(text, is, sep);
  std::set<u32> uset;
  zuParseUIntSet(text, uset, sep);

  // C-string conversions see the text up to its first NUL.
  const char* c = text.c_str();
  i32 i = 0;
  u32 u = 0;
  u16 h = 0;
  bool b = false;
  if (zuStrToInt32(c, i) && (i == 2147483647 || i == -2147483647 - 1)) std::abort();
  if (zuStrToUInt32(c, u) && zuUIntToString(u).size() > 10) std::abort();
  if (zuStrToUInt16(c, h) && zuUIntToString(h).size() > 5) std::abort();
  zuStrToBool(c, b);
  zuIsSizeText(text);

  u8 out[16];
  u32 count = 0;
  zuHexDecode(out, sizeof out, count, text);
  if (count > sizeof out) std::abort();
  std::vector<u8> bytes;
  zuHexDecode(bytes, text);

  std::string mac;
  zuNormalizeMacAddress(text, mac);
  zuGetField(text, data[1], sep);
  zuFindSuffixNoCase(text, static_cast<u32>(text.size() / 2), items.empty() ? "" : items.back());

  std::string line = text;
  zuConvertLineEnds(line, mode, true);
  zuSubstituteParamCopy(text, sep, items.empty() ? "" : items.front());
  zuReplaceAll(text, items.empty() ? "" : items.front(), "$", true);

  // In-place replacement in an exactly sized heap buffer, so ASan sees any
  // write past the capacity. The first item is the pattern.
  const std::string pattern = items.empty() ? "" : items.front();
  const std::string replacement = items.size() > 1 ? items[1] : "";
  const u32 capacity = static_cast<u32>(text.size());
  std::vector<u8> buf(text.begin(), text.end());
  const u32 n = zuReplaceBytes(buf.data(), capacity, capacity, pattern.data(),
                               static_cast<u32>(pattern.size()), replacement.data(),
                               static_cast<u32>(replacement.size()), true);
  if (n > capacity) std::abort();
  zuFindBytes(buf.data(), n, replacement.data(), static_cast<u32>(replacement.size()), data[1]);

  std::vector<char> cbuf(text.size() + 1);
  std::memcpy(cbuf.data(), text.data(), text.size());
  zuReplaceInCString(cbuf.data(), pattern.c_str(), replacement.c_str(), true,
                     static_cast<u32>(cbuf.size()));
  std::vector<u8> counted(text.size() + 1);
  counted[0] = data[1];
  std::memcpy(counted.data() + 1, text.data(), text.size());
  zuReplaceInCounted(counted.data(), pattern.c_str(), replacement.c_str(), true,
                     static_cast<u32>(counted.size()));
  return 0;
}
