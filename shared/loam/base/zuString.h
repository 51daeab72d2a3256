#pragma once
// Byte-string helpers: comparison and search with or without case, case
// conversion, trimming, quoting, field extraction, decimal and hexadecimal
// conversions, boolean words and a few fixed-format checks.
//
// Case folding touches only the ASCII letters. Nothing here throws for bad
// input: failures are a false result, kZuNotFound or an unchanged copy.
// C-string arguments stop at the first NUL; a null pointer counts as the
// empty text unless stated otherwise.
#include <string>
#include <string_view>
#include <vector>

#include "loam/platform/zuTypes.h"

// Position returned by searches that find nothing.
inline constexpr u32 kZuNotFound = 0xFFFFFFFFu;

// Match modes of zuMatches and zuReplaceMatching (1 to 4 ignore case).
inline constexpr u32 kZuMatchAny = 0;
inline constexpr u32 kZuMatchBegins = 1;
inline constexpr u32 kZuMatchEnds = 2;
inline constexpr u32 kZuMatchContains = 3;
inline constexpr u32 kZuMatchEquals = 4;

// ---- Characters and case ---------------------------------------------------

int zuToUpper(int c);
int zuToLower(int c);
std::string zuToUpperCopy(const std::string& s);
std::string zuToLowerCopy(const std::string& s);
bool zuCharEqual(char a, char b, bool caseSensitive);
bool zuIsDigit(u8 c);
// False for a null pointer or the empty text.
bool zuIsDigits(const char* s);
// True for the empty string.
bool zuIsAlphanumeric(const std::string& s);
// Every byte in 32..126; true for the empty text.
bool zuIsPrintableText(const char* s);
// No byte in 0..31 or 127; true for the empty text.
bool zuHasNoControlChars(const char* s);
// Copy with every byte outside 32..126 replaced by '.'.
std::string zuPrintable(const char* s);
// A text from outside as a log line or an event record may carry it: each
// control byte (0..31, 127) written as \x and two lower-case hex digits, so
// no text can end a line or forge one, and cut to at most limit bytes with
// "..." marking the cut. Backslashes stay: the system's own paths and texts
// hold them.
inline constexpr std::size_t kZuLogTextLimit = 256;
std::string zuLogText(std::string_view text, std::size_t limit = kZuLogTextLimit);

// ---- Comparison and search -------------------------------------------------

// Difference of the first differing bytes taken as signed 8-bit values (or of
// their upper-case images), 0 when equal. Bytes above 127 sort before ASCII.
int zuStrCompare(const char* a, const char* b, bool caseSensitive);
// First position >= start where pattern occurs, else kZuNotFound (also for a
// null or empty pattern and for a start that is negative or past the end).
u32 zuStrFind(const char* text, const char* pattern, i32 start, bool caseSensitive);
// The same on strings, always ignoring case; kZuNotFound for an empty text.
u32 zuStrFindNoCase(const std::string& text, const std::string& pattern, i32 start);
bool zuStartsWithNoCase(const char* text, const char* prefix);
bool zuStartsWithNoCaseStr(const std::string& text, const std::string& prefix);
bool zuEndsWithNoCase(const char* text, const char* suffix);
bool zuEndsWithNoCaseStr(const std::string& text, const std::string& suffix);
bool zuContains(const char* text, const char* pattern, bool caseSensitive);
bool zuContainsNoCase(const std::string& text, const std::string& pattern);
// One of the kZuMatch* modes; an unknown mode never matches.
bool zuMatches(const std::string& text, const std::string& pattern, u32 mode);

// ---- Editing and extraction ------------------------------------------------

// Blanks are byte 32 only; tabs stay.
std::string& zuTrimLeft(std::string& s);
std::string& zuTrimRight(std::string& s);
std::string& zuTrim(std::string& s);
std::string zuUnquote(const std::string& s);
std::string zuQuote(const std::string& s);
std::string& zuReplaceChar(std::string& s, char from, char to);
std::string zuReplaceMatching(const std::string& text, const std::string& pattern,
                              const std::string& replacement, u32 mode, bool all);
// Empty name: the origin; a name ending in ".": the name; otherwise name, ".",
// origin, except that an origin beginning with "." (the root) is appended
// without a second dot ("x" and "." give "x.", never "x..").
std::string zuQualifyName(const std::string& name, const std::string& origin);
std::string zuAfterChar(const std::string& text, char c);
// Splits at the first c; true when both sides are non-empty. When c does not
// occur, false and head and tail are left untouched.
bool zuSplitAtChar(const std::string& text, std::string& head, std::string& tail, char c);
std::string zuGetField(const std::string& text, u32 index, char sep);
// Where a zone-origin suffix ending at `end` starts on a label boundary: the
// dot before it, or its own start at the text's start or after a tab; `end`
// when it does not match there.
u32 zuFindSuffixNoCase(const std::string& text, u32 end, const std::string& suffix);

// ---- Numbers and text ------------------------------------------------------

// Optional sign and decimal digits, nothing else. Accepts -2147483647 to
// 2147483646; out is written whenever digits were read.
bool zuStrToInt32(const char* s, i32& out);
// Optional "+" and decimal digits. Leading zeros are refused only in front of
// 4294967295.
bool zuStrToUInt32(const char* s, u32& out);
// Below 65536; out gets the low 16 bits even when the value is too large.
bool zuStrToUInt16(const char* s, u16& out);
i32 zuStrToInt32Or(const char* s, i32 fallback);
u32 zuStrToUInt32Or(const char* s, u32 fallback);
u16 zuStrToUInt16Or(const char* s, u16 fallback);
// A number (non-zero is true) or y/yes/t/true, n/no/f/false in any case.
bool zuStrToBool(const char* s, bool& out);

std::string zuIntToString(i32 v);
std::string zuUIntToString(u32 v);
// Upper-case hexadecimal without prefix or leading zeros.
std::string zuHexToString(u32 v);
std::string zuInt64ToString(i64 v);
// The same texts, NUL-terminated, into a buffer of at least 12 bytes.
void zuIntToChars(i32 v, char* buffer);
void zuUIntToChars(u32 v, char* buffer);
void zuHexToChars(u32 v, char* buffer);

bool zuHexDigitValue(char c, u8& out);
bool zuIsHexDigit(char c);  // 0-9, A-F or a-f
// Appends separator (when not empty) and two hex digits for each byte; a
// count of 0 or less appends nothing.
void zuHexEncode(std::string& out, const void* bytes, i32 count, const std::string& separator,
                 bool upperCase);
// Decodes hex digit pairs into buffer (room for `capacity` bytes); a lone last
// digit gives a byte with only its high nibble. False at a non-hex byte or
// when the output would pass capacity; what was decoded before stays, counted.
bool zuHexDecode(u8* buffer, u32 capacity, u32& count, const std::string& hex);
// The same into a vector sized to fit; out holds what was decoded.
bool zuHexDecode(std::vector<u8>& out, const std::string& hex);

// ---- Fixed-format texts ----------------------------------------------------

// A zuStrToUInt32 number, optionally followed by one of k K m M g G.
bool zuIsSizeText(const std::string& s);
// Twelve hex digits in any grouping by '-', ':', blank or tab; out receives
// six upper-case pairs joined by ':' and is written only on success.
bool zuNormalizeMacAddress(const std::string& text, std::string& out);
std::string zuFormatMacAddress(const std::string& text);
// Copy without ':', '-' and '.', lower-cased.
std::string zuStripMacAddress(const std::string& text);
