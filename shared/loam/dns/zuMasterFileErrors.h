#pragma once
// Status codes and texts of the zone-file lexers and the master-file parser.
// Every text begins with the file ("$f") and line ("$l") of the failure.
#include "loam/platform/zuTypes.h"

inline constexpr u16 zuErrFileOpen = 1538;
inline constexpr u16 zuErrUnterminatedComment = 1794;
inline constexpr u16 zuErrUnexpectedToken = 1795;
inline constexpr u16 zuErrExpectedEndOfLine = 1808;
inline constexpr u16 zuErrExpectedInteger = 1810;
inline constexpr u16 zuErrExpectedValue = 1811;
inline constexpr u16 zuErrIncorrectFormat = 1812;
inline constexpr u16 zuErrInvalidRange = 1813;
inline constexpr u16 zuErrIncorrectTTL = 1824;
inline constexpr u16 zuErrIncorrectRecord = 1825;
inline constexpr u16 zuErrUnknownRRType = 1826;
inline constexpr u16 zuErrIncludeNotSupported = 1828;
inline constexpr u16 zuErrUnsupportedClass = 1829;
inline constexpr u16 zuErrMissingSOA = 1831;

#define ZU_MF_AT "Error in file \"$f\" line $l. "
inline constexpr const char* zuTextIncludeOpen = ZU_MF_AT "Unable to open include file\"$e\".";
// The main file of a parse that cannot be opened (same code as an include).
inline constexpr const char* zuTextFileOpen = ZU_MF_AT "Unable to open file\"$e\".";
inline constexpr const char* zuTextUnterminatedComment = ZU_MF_AT "Unterminated comments.";
inline constexpr const char* zuTextUnexpectedToken = ZU_MF_AT "Unexpected token \"$t\".";
inline constexpr const char* zuTextExpectedGot = ZU_MF_AT "Expected \"$e\" got \"$t\" .";
inline constexpr const char* zuTextExpectedEndOfLine = ZU_MF_AT "Expected end of line.";
inline constexpr const char* zuTextExpectedInteger = ZU_MF_AT "Expected integer value.";
inline constexpr const char* zuTextExpectedValue = ZU_MF_AT "Expected value.";
inline constexpr const char* zuTextIncorrectFormat = ZU_MF_AT "Incorrect format.";
inline constexpr const char* zuTextInvalidRange = ZU_MF_AT "Invalid range.";
inline constexpr const char* zuTextIncorrectTTL = ZU_MF_AT "Incorrect TTL format.";
inline constexpr const char* zuTextIncorrectRecord = ZU_MF_AT "Incorrect resource record format.";
inline constexpr const char* zuTextUnknownRRType = ZU_MF_AT "Unknown resource record type \"$t\".";
inline constexpr const char* zuTextIncludeNotSupported = ZU_MF_AT "Include not supported.";
inline constexpr const char* zuTextUnsupportedClass = ZU_MF_AT "Unsupported class \"$t\".";
inline constexpr const char* zuTextMissingSOA = ZU_MF_AT "Missing SOA record.";
#undef ZU_MF_AT
