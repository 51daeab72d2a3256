#pragma once
// The registry, standing in for RegCreateKeyEx, RegOpenKeyEx, RegSetValueEx,
// RegQueryValueEx, RegEnumValue and RegCloseKey.
//
// Keys are folders under <platform root>/registry/HKEY_LOCAL_MACHINE, one per
// key name, named by the escaped, case-folded name (so key names compare
// without regard to ASCII case while each key keeps the case it was created
// with); a key's values live in one file in its folder, typed and in the order
// they were first set. Every change rewrites that file atomically (temporary
// file + rename) under a lock file taken with flock, so several processes may
// use the registry at once and a reader never sees a half-written key. A
// change waits at most 10 s for that lock while another process holds it, then
// fails with 32 (sharing violation). What a writer that died mid-change left
// in a key's folder goes when the key is next opened. A key file that cannot
// be read consistently (cut short, a NUL in a name, one name twice in any
// case, a name over the limit) is damaged: 1009, and it is never overwritten.
//
// Like the Windows calls, these return a Windows error number (0 on success)
// and leave the thread's last error alone. Not reproduced: other hives than
// HKEY_LOCAL_MACHINE, security descriptors and key ACLs, volatile keys,
// change notification, and the Windows size limits beyond those noted below.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// A key handle; 0 is none. Handles belong to the process (not inherited).
using RegKey = u64;
inline constexpr RegKey kRegKeyNone = 0;
inline constexpr RegKey kRegLocalMachine = 0x80000002;  // HKEY_LOCAL_MACHINE

// Value types.
inline constexpr u32 kRegNone = 0;
inline constexpr u32 kRegSz = 1;
inline constexpr u32 kRegExpandSz = 2;
inline constexpr u32 kRegBinary = 3;
inline constexpr u32 kRegDword = 4;
inline constexpr u32 kRegMultiSz = 7;

// Access rights recorded in a handle and checked by the value calls.
inline constexpr u32 kKeyQueryValue = 0x0001;
inline constexpr u32 kKeySetValue = 0x0002;
inline constexpr u32 kKeyCreateSubKey = 0x0004;
inline constexpr u32 kKeyEnumerateSubKeys = 0x0008;
inline constexpr u32 kKeyNotify = 0x0010;
inline constexpr u32 kKeyRead = 0x20019;
inline constexpr u32 kKeyWrite = 0x20006;
inline constexpr u32 kKeyAllAccess = 0xF003F;

// Dispositions of regCreateKeyEx.
inline constexpr u32 kRegCreatedNewKey = 1;
inline constexpr u32 kRegOpenedExistingKey = 2;

// A key name (one component) is at most this many bytes; a name whose escaped
// form does not fit a file name (255 bytes) is refused as well (87).
inline constexpr u32 kRegMaxKeyNameLength = 255;
inline constexpr u32 kRegMaxValueNameLength = 16383;

// Opens parent\subKey, creating it and any missing keys on the way (the
// parent needs kKeyCreateSubKey then). subKey is "A\B\C"; null or "" is the
// parent itself; empty components give 161. Always non-volatile.
// disposition may be null.
u32 regCreateKeyEx(RegKey parent, const char* subKey, u32 access, RegKey* result, u32* disposition);

// Opens an existing key: 2 when it does not exist.
u32 regOpenKeyEx(RegKey parent, const char* subKey, u32 access, RegKey* result);

// Sets a value (null or "" names the default value); size bytes of data are
// stored as given, so a string should carry its terminating NUL. A value that
// exists keeps its place in the order. Needs kKeySetValue.
u32 regSetValueEx(RegKey key, const char* valueName, u32 type, const u8* data, u32 size);

// Reads a value. type and size may be null. With data null and size given,
// *size receives the length (0). With data given, *size is the buffer's size
// on entry; when the value does not fit the result is 234 with *size set to
// the length needed; otherwise *size is the length copied. Strings come back
// exactly as stored, with or without a NUL. 2 when the value does not exist.
// Needs kKeyQueryValue.
u32 regQueryValueEx(RegKey key, const char* valueName, u32* type, u8* data, u32* size);

// The index-th value of the key in insertion order; 259 past the last one.
// *nameSize is the name buffer's size in bytes on entry (room for the NUL
// included) and the name's length without the NUL on return; a name that
// does not fit gives 234 and leaves every output as it was. type, data and
// dataSize behave as in regQueryValueEx (234 with *dataSize set when the data
// does not fit). Needs kKeyQueryValue.
u32 regEnumValue(RegKey key, u32 index, char* name, u32* nameSize, u32* type, u8* data,
                 u32* dataSize);

// Closes a key handle; closing kRegLocalMachine does nothing. 6 for a handle
// that is not open.
u32 regCloseKey(RegKey key);

}  // namespace zuPlatform
