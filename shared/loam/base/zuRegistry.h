#pragma once
// Named values moved between a registry key and a property list. The root
// key is a parameter, the subkey a "A\B\C" text. Failures are results; a
// value that cannot be turned into text is skipped.
#include <string>

#include "loam/base/zuProperties.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuTypes.h"

// A string (up to its NUL, never past length), the bytes of a binary value,
// or a 4-byte DWORD in decimal; false for every other type and for a DWORD of
// any other length, with text untouched.
bool zuRegistryValueToText(u32 type, const u8* data, u32 length, std::string& text);

// Adds every value of the key that converts to text, under its name; false
// when the key cannot be opened.
bool zuRegistryLoadValues(zuPlatform::RegKey root, const std::string& subkey,
                          zuProperties& properties);

// Writes every property as a string value, creating the key when needed;
// false when the key cannot be opened or a value not written (a name that
// holds a NUL never is; the others still are).
bool zuRegistrySaveValues(zuPlatform::RegKey root, const std::string& subkey,
                          const zuProperties& properties);

// Reads one value as text (emptied first, and left empty for a value that
// does not convert); false when the key or the value cannot be read.
bool zuRegistryReadValue(zuPlatform::RegKey root, const std::string& subkey,
                         const std::string& valueName, std::string& text);
