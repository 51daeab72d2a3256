#pragma once
// Status codes raised by the zone data classes.
#include "loam/base/zuMessageTexts.h"
#include "loam/platform/zuTypes.h"

// A descriptor used for an operation its type does not support, or a type
// that no rule knows.
inline constexpr u16 zuErrInternal = kzuCodeInternalError;
// A value that breaks one of its field's rules.
inline constexpr u16 zuErrValueOutOfRange = kzuCodeValueRange;
