#pragma once
// The Windows version record, emulated. The library describes the system it
// runs on as a Windows version, so this stand-in reports one: NT 6.1 build
// 7601, workstation ("Windows 7") unless the environment variable
// ZU_PLATFORM_WINDOWS_VERSION names another, as
//
//   <major>.<minor>[.<build>] [nt|9x|win32s] [workstation|server|dc] [r2]
//
// words in any order after the number, ignoring case ("5.2 server r2",
// "4.10 9x"). A value that does not read that way leaves the default.
#include <optional>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Platform ids of the record.
inline constexpr u32 kPlatformWin32s = 0;
inline constexpr u32 kPlatformWindows = 1;  // 95, 98, Me
inline constexpr u32 kPlatformNT = 2;

// Product types (extended record only).
inline constexpr u8 kProductWorkstation = 1;
inline constexpr u8 kProductDomainController = 2;
inline constexpr u8 kProductServer = 3;

struct VersionRecord {
  u32 majorVersion = 0;
  u32 minorVersion = 0;
  u32 buildNumber = 0;
  u32 platformId = 0;
  u8 productType = 0;  // 0 in the basic record
};

// The extended record (with product type); false when it cannot be read.
bool readVersionExtended(VersionRecord& out);
// The basic record; its product type is always 0. False when it cannot be read.
bool readVersionBasic(VersionRecord& out);
// Whether the system reports itself as the R2 release of its server version.
bool isServerR2();

// Test seam: a version to report instead of the emulated one, including
// which of the two reads succeed. std::nullopt restores the emulation.
struct VersionForTest {
  VersionRecord record;
  bool extendedReadable = true;
  bool basicReadable = true;
  bool serverR2 = false;
};
void setVersionForTest(std::optional<VersionForTest> version);

}  // namespace zuPlatform
