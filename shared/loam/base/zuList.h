#pragma once
// Conversions between one-line delimited texts and containers, container
// searches, search-and-replace in strings and fixed-size byte buffers, line
// ends, and the one-parameter substitution step of message formatting.
//
// The separator is one byte; nothing here quotes or escapes a separator
// inside an item. The empty text splits into no items; empty items count.
#include <list>
#include <set>
#include <string>
#include <vector>

#include "loam/base/zuString.h"
#include "loam/platform/zuTypes.h"

// ---- Text and string containers --------------------------------------------

void zuSplit(const std::string& text, std::vector<std::string>& out, char sep);
void zuSplitList(const std::string& text, std::list<std::string>& out, char sep);
void zuSplitSet(const std::string& text, std::set<std::string>& out, char sep);
// "a.b.c" -> "b.c"; empty when one label or none remains.
std::string zuDropFirstLabel(const std::string& name);
std::string zuJoin(const std::vector<std::string>& items, char sep);
std::string zuJoinList(const std::list<std::string>& items, char sep);
std::string zuJoinSet(const std::set<std::string>& items, char sep);

// ---- Numbers ---------------------------------------------------------------

// Items may carry blanks and tabs around the number. False at the first empty
// or malformed item; the numbers before it stay in out.
bool zuParseUIntList(const std::string& text, std::vector<u32>& out, char sep);
bool zuParseIntList(const std::string& text, std::vector<i32>& out, char sep);
bool zuParseUIntSet(const std::string& text, std::set<u32>& out, char sep);
std::string zuFormatUIntList(const std::vector<u32>& items, char sep);
std::string zuFormatIntList(const std::vector<i32>& items, char sep);
std::string zuFormatUIntSet(const std::set<u32>& items, char sep);

// ---- Searching string containers -------------------------------------------

// First item equal to value (zuStrCompare gives 0), or end().
std::list<std::string>::const_iterator zuFindString(const std::string& value,
                                                    const std::list<std::string>& items,
                                                    bool caseSensitive);
std::list<std::string>::iterator zuFindString(const std::string& value,
                                              std::list<std::string>& items, bool caseSensitive);
std::vector<std::string>::const_iterator zuFindStringIn(
    const std::string& value, std::vector<std::string>::const_iterator first,
    std::vector<std::string>::const_iterator last, bool caseSensitive);
std::vector<std::string>::const_iterator zuFindStringIn(const std::string& value,
                                                        const std::vector<std::string>& items,
                                                        bool caseSensitive);
// For each item in order, every later item equal to it is erased (the first
// keeps its place); true when anything was erased.
bool zuRemoveDuplicates(std::vector<std::string>& items, bool caseSensitive);
// Items equal to value (exact bytes) are erased, or emptied when erase is
// false.
void zuRemoveString(std::vector<std::string>& items, const std::string& value, bool erase);

// ---- Replacing -------------------------------------------------------------

// Replaces the first occurrence of from (exact bytes), or every one with all,
// never searching inside inserted text. An empty from leaves the text as it is.
std::string zuReplaceAll(const std::string& text, const std::string& from, const std::string& to,
                         bool all);
// Replaces every "$" + key by value; inserted values are not expanded again.
std::string& zuSubstituteParam(std::string& text, char key, const std::string& value);
std::string zuSubstituteParamCopy(const std::string& text, char key, const std::string& value);

// First position >= start of pattern in buffer, or kZuNotFound (also for an
// empty pattern, or one that does not fit after start).
u32 zuFindBytes(const void* buffer, u32 length, const void* pattern, u32 patternLength, u32 start);
// In-place replacement in a buffer of `capacity` bytes holding `length` bytes
// (at most capacity are taken). Bytes pushed past the capacity are dropped;
// returns the new length, never above the capacity.
u32 zuReplaceBytes(void* buffer, u32 length, u32 capacity, const void* pattern, u32 patternLength,
                   const void* replacement, u32 replacementLength, bool all);
// The same over a NUL-terminated text in a buffer of bufferSize bytes, which
// keeps its terminating NUL. A bufferSize of 0 leaves the buffer alone.
char* zuReplaceInCString(char* buffer, const char* pattern, const char* replacement, bool all,
                         u32 bufferSize);
// The same over a counted buffer: byte 0 holds the length of the bytes after
// it. capacity is the size of the whole buffer, length byte included; the
// length never grows past 255.
u8* zuReplaceInCounted(u8* buffer, const char* pattern, const char* replacement, bool all,
                       u32 capacity);

// Line-end modes of zuConvertLineEnds.
inline constexpr u8 kZuLineEndDefault = 0;  // as CR LF
inline constexpr u8 kZuLineEndLF = 1;
inline constexpr u8 kZuLineEndCRLF = 2;
inline constexpr u8 kZuLineEndCR = 3;
inline constexpr u8 kZuLineEndBlank = 4;

// Makes every line end the mode's; with ensureLineEnd a text that does not
// end in CR or LF gets one. An unknown mode leaves the text unchanged.
std::string& zuConvertLineEnds(std::string& text, u8 mode, bool ensureLineEnd);
