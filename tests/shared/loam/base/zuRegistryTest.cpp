#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loam/base/zuRegistry.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "support/TestSupport.h"

namespace zp = zuPlatform;

namespace {

using namespace std::string_literals;

constexpr const char* kKey = "SOFTWARE\\Tarnwell\\Test";

std::string dword(u32 value) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

struct ConversionCase {
  const char* what;
  u32 type;
  std::string data;
  bool converts;
  std::string text;  // expected; "untouched" when it does not convert
};

TEST(RegistryValueToText, ConvertsByTypeAndNeverReadsPastTheLength) {
  const ConversionCase cases[] = {
      {"string with its NUL", zp::kRegSz, "abc\0"s, true, "abc"},
      {"string without a NUL", zp::kRegSz, "abc", true, "abc"},
      {"string stops at its first NUL", zp::kRegSz, "ab\0cd\0"s, true, "ab"},
      {"empty string", zp::kRegSz, "", true, ""},
      {"expandable string kept unexpanded", zp::kRegExpandSz, "%TEMP%\\x\0"s, true, "%TEMP%\\x"},
      {"expandable string without a NUL", zp::kRegExpandSz, "%TEMP%", true, "%TEMP%"},
      {"binary keeps every byte, NUL too", zp::kRegBinary, "a\0b"s, true, "a\0b"s},
      {"DWORD 42", zp::kRegDword, dword(42), true, "42"},
      {"largest DWORD", zp::kRegDword, dword(0xFFFFFFFFu), true, "4294967295"},
      {"DWORD of two bytes", zp::kRegDword, "\x2a\0"s, false, "untouched"},
      {"DWORD of eight bytes", zp::kRegDword, dword(42) + dword(0), false, "untouched"},
      {"multi-string", zp::kRegMultiSz, "a\0b\0\0"s, false, "untouched"},
      {"no type", zp::kRegNone, "x", false, "untouched"},
      {"QWORD", 11, dword(42) + dword(0), false, "untouched"},
  };
  for (const ConversionCase& c : cases) {
    // Exactly the value's bytes on the heap, so a read past them is caught.
    std::vector<u8> bytes(c.data.begin(), c.data.end());
    std::string text = "untouched";
    EXPECT_EQ(zuRegistryValueToText(c.type, bytes.data(), static_cast<u32>(bytes.size()), text),
              c.converts)
        << c.what;
    EXPECT_EQ(text, c.text) << c.what;
  }
}

class RegistryTest : public tw::test::PlatformRootTest {
 protected:
  // Creates the key and sets the values in order.
  static void setValues(const char* subkey,
                        const std::vector<std::tuple<std::string, u32, std::string>>& values) {
    zp::RegKey key = zp::kRegKeyNone;
    ASSERT_EQ(zp::regCreateKeyEx(zp::kRegLocalMachine, subkey, zp::kKeyAllAccess, &key, nullptr),
              zp::kErrorSuccess);
    for (const auto& [name, type, data] : values) {
      ASSERT_EQ(zp::regSetValueEx(key, name.c_str(), type, reinterpret_cast<const u8*>(data.data()),
                                  static_cast<u32>(data.size())),
                zp::kErrorSuccess)
          << name;
    }
    zp::regCloseKey(key);
  }

  static std::vector<std::pair<std::string, std::string>> entries(const zuProperties& p) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string name;
    std::string value;
    for (u32 i = 0; p.getAt(i, name, value); ++i) out.emplace_back(name, value);
    return out;
  }
};

TEST_F(RegistryTest, LoadTakesWhatConvertsUnderItsNameAndSkipsTheRest) {
  const std::string big(10000, 'b');  // over the first data buffer
  setValues(kKey, {{"Path", zp::kRegSz, "C:\\Tarnwell\0"s},
                   {"List", zp::kRegMultiSz, "a\0b\0\0"s},
                   {"Count", zp::kRegDword, dword(42)},
                   {"Big", zp::kRegSz, big + '\0'},
                   {"Blob", zp::kRegBinary, "x\0y"s},
                   {"Short", zp::kRegDword, "\1\0"s},
                   {"Last", zp::kRegExpandSz, "%APPDATA%\0"s}});
  zuProperties p;
  p.set("kept", "1");
  ASSERT_TRUE(zuRegistryLoadValues(zp::kRegLocalMachine, kKey, p));
  // The big value is read again at its index once the buffer fits, and the
  // enumeration goes on after it.
  const std::vector<std::pair<std::string, std::string>> want = {
      {"kept", "1"}, {"path", "C:\\Tarnwell"}, {"count", "42"},
      {"big", big},  {"blob", "x\0y"s},        {"last", "%APPDATA%"}};
  EXPECT_EQ(entries(p), want);
}

TEST_F(RegistryTest, KeyWithANameLongerThanAnyNameCanBeLoadsNothing) {
  setValues(kKey, {{"first", zp::kRegSz, "1\0"s}});
  // A value name longer than any call can set, as only a damaged key file can
  // hold: the platform refuses the whole key, so nothing is half-read.
  const std::string longName(zp::kRegMaxValueNameLength + 10, 'n');
  tw::test::writeFile(root() + "/registry/HKEY_LOCAL_MACHINE/software/tarnwell/test/#key",
                      "TWREG 1\nN 4\nTest\nV 1 5 2\nfirst1\0\nV 1 "s +
                          std::to_string(longName.size()) + " 2\n" + longName + "2\0\n"s);

  zuProperties p;
  ASSERT_TRUE(zuRegistryLoadValues(zp::kRegLocalMachine, kKey, p));
  EXPECT_TRUE(entries(p).empty());
}

TEST_F(RegistryTest, MissingKeyOrValueFails) {
  setValues(kKey, {{"present", zp::kRegSz, "yes\0"s}});
  zuProperties p;
  p.set("kept", "1");
  EXPECT_FALSE(zuRegistryLoadValues(zp::kRegLocalMachine, "SOFTWARE\\Tarnwell\\Missing", p));
  EXPECT_EQ(p.count(), 1u);

  std::string text = "stale";
  EXPECT_FALSE(
      zuRegistryReadValue(zp::kRegLocalMachine, "SOFTWARE\\Tarnwell\\Missing", "present", text));
  EXPECT_EQ(text, "");
  text = "stale";
  EXPECT_FALSE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "absent", text));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "PRESENT", text));
  EXPECT_EQ(text, "yes");

  // A key path that cannot be one is refused, not created.
  EXPECT_FALSE(zuRegistrySaveValues(zp::kRegLocalMachine, "SOFTWARE\\\\Tarnwell", p));
}

TEST_F(RegistryTest, SaveRefusesANameWithANulAndWritesTheOthers) {
  setValues(kKey, {{"a", zp::kRegSz, "kept\0"s}});
  zuProperties p;
  p.set("a\0b"s, "over a");
  p.set("c", "3");
  EXPECT_FALSE(zuRegistrySaveValues(zp::kRegLocalMachine, kKey, p));
  std::string text;
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "a", text));
  EXPECT_EQ(text, "kept");
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "c", text));
  EXPECT_EQ(text, "3");
}

TEST_F(RegistryTest, ReadValueConvertsGrowsAndLeavesOtherTypesEmpty) {
  const std::string big(5000, 'q');
  setValues(kKey, {{"Count", zp::kRegDword, dword(42)},
                   {"Big", zp::kRegBinary, big},
                   {"List", zp::kRegMultiSz, "a\0\0"s}});
  std::string text;
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "Count", text));
  EXPECT_EQ(text, "42");
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "Big", text));
  EXPECT_EQ(text, big);
  // The value is there, it only has no text form.
  text = "stale";
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, kKey, "List", text));
  EXPECT_EQ(text, "");
}

TEST_F(RegistryTest, SavedValuesAreStringsThatLoadBackUnderAnyCaseOfTheKeyName) {
  zuProperties saved;
  saved.set("Arguments", "-ll5 -lf");
  saved.set("upgradable", "0");
  saved.set("empty", "");
  ASSERT_TRUE(zuRegistrySaveValues(zp::kRegLocalMachine, "SOFTWARE\\Tarnwell\\Prefs", saved));

  // Stored as REG_SZ with the terminating NUL.
  zp::RegKey key = zp::kRegKeyNone;
  ASSERT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, "software\\TARNWELL\\prefs", zp::kKeyRead, &key),
            zp::kErrorSuccess);
  u32 type = 0;
  u8 data[64] = {};
  u32 size = sizeof data;
  ASSERT_EQ(zp::regQueryValueEx(key, "arguments", &type, data, &size), zp::kErrorSuccess);
  EXPECT_EQ(type, zp::kRegSz);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "-ll5 -lf\0"s);
  zp::regCloseKey(key);

  zuProperties loaded;
  ASSERT_TRUE(zuRegistryLoadValues(zp::kRegLocalMachine, "Software\\tarnwell\\PREFS", loaded));
  EXPECT_EQ(entries(loaded), entries(saved));
  std::string text;
  EXPECT_TRUE(
      zuRegistryReadValue(zp::kRegLocalMachine, "SOFTWARE\\TARNWELL\\PREFS", "UPGRADABLE", text));
  EXPECT_EQ(text, "0");
}

}  // namespace
