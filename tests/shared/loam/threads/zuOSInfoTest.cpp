#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

#include "loam/platform/zuPlatformVersion.h"
#include "loam/threads/zuOSInfo.h"
#include "support/TestSupport.h"

namespace {

using zuPlatform::VersionForTest;

class zuOSDescriptionTest : public ::testing::Test {
 protected:
  void TearDown() override { zuPlatform::setVersionForTest(std::nullopt); }

  static VersionForTest version(u32 platform, u32 major, u32 minor, u8 product = 1,
                                bool r2 = false) {
    VersionForTest v;
    v.record.platformId = platform;
    v.record.majorVersion = major;
    v.record.minorVersion = minor;
    v.record.productType = product;
    v.serverR2 = r2;
    return v;
  }
};

TEST_F(zuOSDescriptionTest, EveryWindowsVersion) {
  constexpr u32 kS = zuPlatform::kPlatformWin32s;
  constexpr u32 k9x = zuPlatform::kPlatformWindows;
  constexpr u32 kNT = zuPlatform::kPlatformNT;
  constexpr u8 kWs = zuPlatform::kProductWorkstation;
  constexpr u8 kSrv = zuPlatform::kProductServer;
  constexpr u8 kDc = zuPlatform::kProductDomainController;
  struct Case {
    VersionForTest v;
    const char* expected;
  };
  const Case cases[] = {
      {version(kS, 3, 11), "Microsoft Win32s v3.11"},
      {version(k9x, 4, 0), "Microsoft Windows 95 v4.0"},
      {version(k9x, 3, 95), "Microsoft Windows 95 v3.95"},
      {version(k9x, 4, 10), "Microsoft Windows 98 v4.10"},
      {version(k9x, 4, 90), "Microsoft Windows 98 v4.90"},
      {version(k9x, 5, 0), "Microsoft Windows 98 v5.0"},
      {version(kNT, 4, 0), "Microsoft Windows NT v4.0"},
      {version(kNT, 3, 51), "Microsoft Windows NT v3.51"},
      {version(kNT, 5, 0), "Microsoft Windows 2000 v5.0"},
      {version(kNT, 5, 1), "Microsoft Windows XP v5.1"},
      {version(kNT, 5, 2, kSrv), "Microsoft Windows Server 2003 v5.2"},
      {version(kNT, 5, 2, kSrv, true), "Microsoft Windows Server 2003 R2 v5.2"},
      {version(kNT, 6, 0, kWs), "Microsoft Windows Vista v6.0"},
      {version(kNT, 6, 0, kSrv), "Microsoft Windows Server 2008 v6.0"},
      {version(kNT, 6, 0, kDc), "Microsoft Windows Server 2008 v6.0"},
      {version(kNT, 6, 1, kWs), "Microsoft Windows 7 v6.1"},
      {version(kNT, 6, 1, kSrv), "Microsoft Windows Server 2008 R2 v6.1"},
      {version(kNT, 10, 0, kWs), "Microsoft Windows Vista v10.0"},
      {version(7, 1, 2), "Microsoft  v1.2"},
  };
  for (const Case& c : cases) {
    zuPlatform::setVersionForTest(c.v);
    EXPECT_EQ(zuGetOSDescription(), c.expected);
  }
}

TEST_F(zuOSDescriptionTest, FallsBackToTheBasicRecordAndGivesNothingWithoutOne) {
  VersionForTest v = version(zuPlatform::kPlatformNT, 6, 1, zuPlatform::kProductWorkstation);
  v.extendedReadable = false;
  zuPlatform::setVersionForTest(v);
  // The basic record carries no product type, so it never reads as a workstation.
  EXPECT_EQ(zuGetOSDescription(), "Microsoft Windows Server 2008 R2 v6.1");
  v.basicReadable = false;
  zuPlatform::setVersionForTest(v);
  EXPECT_EQ(zuGetOSDescription(), "");
}

TEST_F(zuOSDescriptionTest, DefaultsToWindows7AndFollowsThePlatformSetting) {
  struct Case {
    const char* setting;  // null: unset
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, "Microsoft Windows 7 v6.1"},
      {"5.2 server R2", "Microsoft Windows Server 2003 R2 v5.2"},
      {"6.0.6002 Server", "Microsoft Windows Server 2008 v6.0"},
      {"4.10 9x", "Microsoft Windows 98 v4.10"},
      {"3.11 win32s", "Microsoft Win32s v3.11"},
      {"10.0", "Microsoft Windows Vista v10.0"},
      {"six", "Microsoft Windows 7 v6.1"},
      {"6.1 laptop", "Microsoft Windows 7 v6.1"},
      {"6", "Microsoft Windows 7 v6.1"},
      {"", "Microsoft Windows 7 v6.1"},
  };
  for (const Case& c : cases) {
    tw::test::ScopedEnv setting("ZU_PLATFORM_WINDOWS_VERSION",
                                c.setting ? std::optional<std::string>(c.setting) : std::nullopt);
    EXPECT_EQ(zuGetOSDescription(), c.expected) << (c.setting ? c.setting : "(unset)");
  }
}

TEST(zuOSType, Table) {
  struct Case {
    i32 type;
    const char* name;
    char code;
  };
  const Case cases[] = {
      {0, "Unknown", 'U'},      {1, "Windows", 'W'}, {2, "MacOS", 'M'},   {3, "Linux", 'L'},
      {4, "SunOS", 'S'},        {5, "MacOS-X", 'X'}, {6, "FreeBSD", 'F'}, {7, "HP-UX", 'H'},
      {8, "Windows64", 'W'},    {9, "NONE", 'X'},    {1000, "NONE", 'X'}, {-1, "NONE", 'X'},
      {INT32_MIN, "NONE", 'X'},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zuOSTypeName(c.type), c.name) << c.type;
    EXPECT_EQ(zuOSTypeCode(c.type), c.code) << c.type;
  }
}

TEST(zuOSType, FromCode) {
  const std::pair<char, u32> cases[] = {{'U', 0}, {'W', 1}, {'M', 2}, {'L', 3}, {'S', 4}, {'X', 5},
                                        {'F', 6}, {'H', 7}, {'w', 9}, {'Q', 9}, {'\0', 9}};
  for (const auto& [code, type] : cases) EXPECT_EQ(zuOSTypeFromCode(code), type) << int(code);
}

TEST(zuSystemErrorText, KnownUnknownAndOutOfRange) {
  EXPECT_EQ(zuSystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(zuSystemErrorText(EACCES), "Permission denied");
  EXPECT_EQ(zuSystemErrorText(0), "Success");
  EXPECT_EQ(zuSystemErrorText(9999), "");
  EXPECT_EQ(zuSystemErrorText(0x80000000u), "");
}

}  // namespace
