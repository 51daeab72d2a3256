#include "loam/threads/zuOSInfo.h"

#include <cstring>

#include "loam/platform/zuPlatformErrorText.h"
#include "loam/platform/zuPlatformVersion.h"

namespace {

constexpr const char* kTypeNames[] = {"Unknown", "Windows", "MacOS", "Linux",    "SunOS",
                                      "MacOS-X", "FreeBSD", "HP-UX", "Windows64"};
constexpr char kTypeCodes[] = "UWMLSXFHW";
// Without the last 'W', so the letter reads back as plain Windows.
constexpr char kReverseCodes[] = "UWMLSXFH";
constexpr i32 kTypeCount = 9;

const char* windowsName(const zuPlatform::VersionRecord& v) {
  switch (v.platformId) {
    case zuPlatform::kPlatformWin32s:
      return "Win32s";
    case zuPlatform::kPlatformWindows:
      return v.majorVersion < 5 && (v.majorVersion != 4 || v.minorVersion == 0) ? "Windows 95"
                                                                                : "Windows 98";
    case zuPlatform::kPlatformNT: {
      const bool workstation = v.productType == zuPlatform::kProductWorkstation;
      if (v.majorVersion >= 6) {
        if (v.minorVersion != 0) return workstation ? "Windows 7" : "Windows Server 2008 R2";
        return workstation ? "Windows Vista" : "Windows Server 2008";
      }
      if (v.majorVersion == 5) {
        if (v.minorVersion == 2) {
          return zuPlatform::isServerR2() ? "Windows Server 2003 R2" : "Windows Server 2003";
        }
        return v.minorVersion == 1 ? "Windows XP" : "Windows 2000";
      }
      return "Windows NT";
    }
    default:
      return "";
  }
}

}  // namespace

std::string zuGetOSDescription() {
  zuPlatform::VersionRecord v;
  if (!zuPlatform::readVersionExtended(v) && !zuPlatform::readVersionBasic(v)) return {};
  std::string text = "Microsoft ";
  text += windowsName(v);
  text += " v";
  text += std::to_string(v.majorVersion);
  text += '.';
  text += std::to_string(v.minorVersion);
  return text;
}

std::string zuOSTypeName(i32 type) {
  return type >= 0 && type < kTypeCount ? kTypeNames[type] : "NONE";
}

char zuOSTypeCode(i32 type) { return type >= 0 && type < kTypeCount ? kTypeCodes[type] : 'X'; }

u32 zuOSTypeFromCode(char code) {
  if (code == '\0') return 9;
  const char* at = std::strchr(kReverseCodes, code);
  return at ? static_cast<u32>(at - kReverseCodes) : 9;
}

std::string zuSystemErrorText(u32 code) {
  std::string text = zuPlatform::errorText(code);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}
