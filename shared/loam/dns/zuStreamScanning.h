#pragma once
// Small scanners over a bare input stream, independent of the lexers. Each
// reports failure by its result and never throws.
#include <istream>
#include <string>

#include "loam/platform/zuTypes.h"

// Consumes the literal when the next characters equal it ignoring ASCII case.
// On a mismatch a seekable stream is put back where it was.
bool matchNoCase(std::istream& in, const char* literal);
// Reads up to a CR or LF and consumes the line end (CR LF and LF CR count as
// one); false at the end of the input with nothing read.
bool readLineText(std::istream& in, std::string& line);
// Skips white space and lines until a line starts with the keyword (ignoring
// case) and consumes the keyword.
bool findKeyword(std::istream& in, const char* keyword);
// After the keyword, skips at most 1024 characters up to and including the
// delimiter, then reads a number (hexadecimal with hex) or a word.
bool readIntAfter(std::istream& in, const char* keyword, char delimiter, i32& value, bool hex);
bool readStringAfter(std::istream& in, const char* keyword, char delimiter, std::string& word);
// Skips blanks, then reads up to a space, TAB or line end outside double
// quotes (the quotes stay in the word); false when a quote is left open, when
// nothing is read, or past kZuMaxScannedWord characters.
inline constexpr std::size_t kZuMaxScannedWord = 65536;
bool readWord(std::istream& in, std::string& word);
