#pragma once
// Token kinds of the stream lexers. Any value that is not one of these is a
// single-character token: the character's code.
#include "loam/platform/zuTypes.h"

namespace zuTokenKind {
inline constexpr u32 None = 0;
inline constexpr u32 EndOfLine = 300;
inline constexpr u32 EndOfInput = 301;
inline constexpr u32 Comment = 302;
inline constexpr u32 Word = 303;
}  // namespace zuTokenKind
