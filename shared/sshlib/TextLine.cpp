#include "sshlib/TextLine.h"

#include <cstring>

#include "sshlib/Err.h"

namespace SSH {

namespace {
constexpr size_t kChunk = 128;
}

std::string readLine(CryptoPP::BufferedTransformation& source) {
  if (source.MaxRetrievable() == 0) throw Err(Err::kPrematureEnd, "premature end of data");
  return readDelimited(source, '\n', kMaxLineLength);
}

std::string readDelimited(CryptoPP::BufferedTransformation& source, char delimiter, size_t limit) {
  std::string text;
  CryptoPP::byte chunk[kChunk];
  for (;;) {
    const size_t seen = source.Peek(chunk, kChunk);
    const void* hit = seen == 0 ? nullptr : std::memchr(chunk, delimiter, seen);
    if (hit) {
      const size_t before = static_cast<size_t>(static_cast<const CryptoPP::byte*>(hit) - chunk);
      text.append(reinterpret_cast<const char*>(chunk), before);
      source.Skip(before + 1);
      return text;
    }
    text.append(reinterpret_cast<const char*>(chunk), seen);
    source.Skip(seen);
    if (seen < kChunk) return text;
    if (text.size() >= limit) throw Err(Err::kInvalidArgument, "line too long");
  }
}

std::string trimRight(const std::string& text) {
  const size_t end = text.find_last_not_of("\t\n\r ");
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace SSH
