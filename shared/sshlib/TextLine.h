#pragma once
// Bounded text-line reading from a byte source, for key files and other text
// that must not cost unbounded memory.
#include <cryptopp/cryptlib.h>

#include <cstddef>
#include <string>

namespace SSH {

inline constexpr size_t kMaxLineLength = 16384;

// One line up to LF (the LF consumed, not returned; a CR before it stays).
// Nothing available: SSH::Err category 3 "premature end of data".
std::string readLine(CryptoPP::BufferedTransformation& source);

// Bytes up to the delimiter, which is consumed and not returned; the end of
// the data ends the text too. Once limit bytes are collected without the
// delimiter: SSH::Err category 2 "line too long".
std::string readDelimited(CryptoPP::BufferedTransformation& source, char delimiter, size_t limit);

// Without trailing TAB, LF, CR and blanks.
std::string trimRight(const std::string& text);

}  // namespace SSH
