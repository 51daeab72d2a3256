#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PlatformTestSupport.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRegistry.h"

namespace zp = zuPlatform;

namespace {

class RegistryTest : public tw::test::PlatformRootTest {
 protected:
  void TearDown() override {
    for (zp::RegKey key : open_) zp::regCloseKey(key);
  }

  zp::RegKey createKey(const char* path, u32 access = zp::kKeyAllAccess) {
    zp::RegKey key = zp::kRegKeyNone;
    EXPECT_EQ(zp::regCreateKeyEx(zp::kRegLocalMachine, path, access, &key, nullptr), 0u) << path;
    open_.push_back(key);
    return key;
  }

  static u32 set(zp::RegKey key, const char* name, u32 type, const std::string& bytes) {
    return zp::regSetValueEx(key, name, type, reinterpret_cast<const u8*>(bytes.data()),
                             static_cast<u32>(bytes.size()));
  }

  static std::string dword(u32 v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

  // The value's bytes through the two-call size protocol.
  static std::string query(zp::RegKey key, const char* name, u32* type = nullptr) {
    u32 size = 0;
    EXPECT_EQ(zp::regQueryValueEx(key, name, type, nullptr, &size), 0u) << name;
    std::string out(size, '\0');
    EXPECT_EQ(zp::regQueryValueEx(key, name, type, reinterpret_cast<u8*>(out.data()), &size), 0u);
    out.resize(size);
    return out;
  }

  std::vector<zp::RegKey> open_;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeBytesAndInsertionOrder) {
  const zp::RegKey key = createKey("SOFTWARE\\Tarnwell\\Types");
  struct Value {
    const char* name;
    u32 type;
    std::string bytes;
  };
  const Value values[] = {
      {"Text", zp::kRegSz, std::string("text\0", 5)},
      {"Expand", zp::kRegExpandSz, std::string("%TEMP%\\x\0", 9)},
      {"Binary", zp::kRegBinary, std::string("a\0b", 3)},
      {"Number", zp::kRegDword, dword(42)},
      {"List", zp::kRegMultiSz, std::string("a\0bc\0\0", 6)},
      {"NoNul", zp::kRegSz, std::string("abcd")},
      {"", zp::kRegSz, std::string("default\0", 8)},
  };
  for (const Value& v : values) ASSERT_EQ(set(key, v.name, v.type, v.bytes), 0u) << v.name;

  for (u32 i = 0; i < std::size(values); ++i) {
    char name[64];
    u32 nameSize = sizeof name;
    u32 type = 0;
    u8 data[64];
    u32 dataSize = sizeof data;
    ASSERT_EQ(zp::regEnumValue(key, i, name, &nameSize, &type, data, &dataSize), 0u) << i;
    EXPECT_STREQ(name, values[i].name);
    EXPECT_EQ(nameSize, std::strlen(values[i].name));
    EXPECT_EQ(type, values[i].type);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), dataSize), values[i].bytes);
  }
  char name[64];
  u32 nameSize = sizeof name;
  EXPECT_EQ(zp::regEnumValue(key, std::size(values), name, &nameSize, nullptr, nullptr, nullptr),
            zp::kErrorNoMoreItems);
}

TEST_F(RegistryTest, QueryReportsTheSizeAndMoreDataForASmallBuffer) {
  const zp::RegKey key = createKey("SOFTWARE\\Tarnwell");
  ASSERT_EQ(set(key, "Path", zp::kRegSz, std::string("/opt/tarnwell\0", 14)), 0u);
  u32 type = 0;
  u32 size = 0;
  ASSERT_EQ(zp::regQueryValueEx(key, "Path", &type, nullptr, &size), 0u);
  EXPECT_EQ(type, zp::kRegSz);
  EXPECT_EQ(size, 14u);
  u8 small[4] = {};
  size = sizeof small;
  EXPECT_EQ(zp::regQueryValueEx(key, "Path", &type, small, &size), zp::kErrorMoreData);
  EXPECT_EQ(size, 14u);
  EXPECT_EQ(query(key, "Path"), std::string("/opt/tarnwell\0", 14));
  // Overwriting changes type and length in place.
  ASSERT_EQ(set(key, "Path", zp::kRegDword, dword(7)), 0u);
  EXPECT_EQ(query(key, "Path", &type), dword(7));
  EXPECT_EQ(type, zp::kRegDword);
}

TEST_F(RegistryTest, EnumerationRetriesTheSameIndexAfterMoreData) {
  const zp::RegKey key = createKey("SOFTWARE\\Tarnwell");
  const std::string big(5000, 'v');
  ASSERT_EQ(set(key, "First", zp::kRegSz, "1"), 0u);
  ASSERT_EQ(set(key, "Big", zp::kRegBinary, big), 0u);

  char name[64];
  u32 nameSize = sizeof name;
  std::vector<u8> data(4096);
  u32 dataSize = static_cast<u32>(data.size());
  ASSERT_EQ(zp::regEnumValue(key, 1, name, &nameSize, nullptr, data.data(), &dataSize),
            zp::kErrorMoreData);
  EXPECT_EQ(dataSize, 5000u);
  data.resize(dataSize + 1);
  nameSize = sizeof name;
  dataSize = static_cast<u32>(data.size());
  ASSERT_EQ(zp::regEnumValue(key, 1, name, &nameSize, nullptr, data.data(), &dataSize), 0u);
  EXPECT_STREQ(name, "Big");
  EXPECT_EQ(std::string(data.begin(), data.begin() + dataSize), big);

  // A name buffer that is too small (room for the NUL counts) leaves the outputs alone.
  char tiny[3];
  u32 tinySize = sizeof tiny;
  dataSize = 99;
  EXPECT_EQ(zp::regEnumValue(key, 1, tiny, &tinySize, nullptr, nullptr, &dataSize),
            zp::kErrorMoreData);
  EXPECT_EQ(tinySize, 3u);
  EXPECT_EQ(dataSize, 99u);
}

TEST_F(RegistryTest, MissingKeysAndValuesGive2) {
  zp::RegKey key = 12345;
  EXPECT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Nobody", zp::kKeyRead, &key),
            zp::kErrorFileNotFound);
  EXPECT_EQ(key, zp::kRegKeyNone);
  const zp::RegKey made = createKey("SOFTWARE\\Somebody");
  u32 size = 0;
  EXPECT_EQ(zp::regQueryValueEx(made, "Absent", nullptr, nullptr, &size), zp::kErrorFileNotFound);
  EXPECT_EQ(zp::regCloseKey(made + 99), zp::kErrorInvalidHandle);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCaseButKeepTheirOwn) {
  zp::RegKey first = zp::kRegKeyNone;
  u32 disposition = 0;
  ASSERT_EQ(zp::regCreateKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Tarnwell\\Agent", zp::kKeyAllAccess,
                               &first, &disposition),
            0u);
  open_.push_back(first);
  EXPECT_EQ(disposition, zp::kRegCreatedNewKey);
  ASSERT_EQ(set(first, "Description", zp::kRegSz, "one"), 0u);
  ASSERT_EQ(set(first, "Other", zp::kRegSz, "two"), 0u);

  zp::RegKey second = zp::kRegKeyNone;
  ASSERT_EQ(zp::regCreateKeyEx(zp::kRegLocalMachine, "software\\TARNWELL\\agent\\",
                               zp::kKeyAllAccess, &second, &disposition),
            0u);
  open_.push_back(second);
  EXPECT_EQ(disposition, zp::kRegOpenedExistingKey);
  EXPECT_EQ(query(second, "DESCRIPTION"), "one");
  ASSERT_EQ(set(second, "description", zp::kRegSz, "three"), 0u);

  // The overwritten value keeps its first name and its place.
  char name[32];
  u32 nameSize = sizeof name;
  ASSERT_EQ(zp::regEnumValue(first, 0, name, &nameSize, nullptr, nullptr, nullptr), 0u);
  EXPECT_STREQ(name, "Description");
  EXPECT_EQ(query(first, "Description"), "three");

  // One folder per key, named by the folded name; its own case is kept inside.
  const std::string folder = root() + "/registry/HKEY_LOCAL_MACHINE/software/tarnwell/agent";
  struct stat st {};
  EXPECT_EQ(::stat(folder.c_str(), &st), 0);
  std::ifstream in(folder + "/#key");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Agent"), std::string::npos);
}

TEST_F(RegistryTest, SlashesAndDotsStayInsideOneKeyName) {
  const zp::RegKey key = createKey("SOFTWARE\\a/b\\..");
  ASSERT_EQ(set(key, "v", zp::kRegSz, "x"), 0u);
  zp::RegKey again = zp::kRegKeyNone;
  ASSERT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, "software\\A/B\\..", zp::kKeyRead, &again), 0u);
  open_.push_back(again);
  EXPECT_EQ(query(again, "v"), "x");
  struct stat st {};
  const std::string hive = root() + "/registry/HKEY_LOCAL_MACHINE";
  EXPECT_EQ(::stat((hive + "/software/a%2Fb/%2E.").c_str(), &st), 0);
  EXPECT_NE(::stat((hive + "/software/a").c_str(), &st), 0);
}

TEST_F(RegistryTest, BadKeyPathsAreRefused) {
  zp::RegKey key = zp::kRegKeyNone;
  EXPECT_EQ(
      zp::regCreateKeyEx(zp::kRegLocalMachine, "\\SOFTWARE", zp::kKeyAllAccess, &key, nullptr),
      zp::kErrorBadPathname);
  EXPECT_EQ(
      zp::regCreateKeyEx(zp::kRegLocalMachine, "SOFTWARE\\\\x", zp::kKeyAllAccess, &key, nullptr),
      zp::kErrorBadPathname);
  const std::string tooLong = "SOFTWARE\\" + std::string(256, 'k');
  EXPECT_EQ(
      zp::regCreateKeyEx(zp::kRegLocalMachine, tooLong.c_str(), zp::kKeyAllAccess, &key, nullptr),
      zp::kErrorInvalidParameter);
  EXPECT_EQ(zp::regOpenKeyEx(99, "SOFTWARE", zp::kKeyRead, &key), zp::kErrorInvalidHandle);
}

TEST_F(RegistryTest, HandlesCheckTheirAccessRights) {
  createKey("SOFTWARE\\Rights");
  zp::RegKey reader = zp::kRegKeyNone;
  zp::RegKey writer = zp::kRegKeyNone;
  ASSERT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Rights", zp::kKeyRead, &reader), 0u);
  ASSERT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Rights", zp::kKeySetValue, &writer),
            0u);
  open_.push_back(reader);
  open_.push_back(writer);
  EXPECT_EQ(set(reader, "v", zp::kRegSz, "x"), zp::kErrorAccessDenied);
  ASSERT_EQ(set(writer, "v", zp::kRegSz, "x"), 0u);
  u32 size = 0;
  EXPECT_EQ(zp::regQueryValueEx(writer, "v", nullptr, nullptr, &size), zp::kErrorAccessDenied);
  EXPECT_EQ(zp::regQueryValueEx(reader, "v", nullptr, nullptr, &size), 0u);
  // Creating a new subkey needs the parent's right; opening an existing one does not.
  zp::RegKey child = zp::kRegKeyNone;
  EXPECT_EQ(zp::regCreateKeyEx(reader, "New", zp::kKeyAllAccess, &child, nullptr),
            zp::kErrorAccessDenied);
  EXPECT_EQ(zp::regCreateKeyEx(reader, "", zp::kKeyRead, &child, nullptr), 0u);
  open_.push_back(child);
}

TEST_F(RegistryTest, DamagedKeyFileGives1009AndIsNotOverwritten) {
  const zp::RegKey key = createKey("SOFTWARE\\Broken");
  const std::string file = root() + "/registry/HKEY_LOCAL_MACHINE/software/broken/#key";
  const std::string damaged[] = {
      std::string("TWREG 1\nN 6\nBroken\nV 1 1 9\nvxy"),          // cut inside a value
      std::string("TWREG 1\nN 6\nBroken\nV 1 3 1\nv\0wx\n", 32),  // a NUL in a name
      std::string("TWREG 1\nN 6\nBroken\nV 1 x 1\nvx\n"),         // a bad length
      std::string("TWREG 1\nN 6\nBroken\nV 1 1 1\nvx\nV 1 1 2\nVyz\n"),  // a name twice
      std::string("garbage"),
  };
  for (const std::string& text : damaged) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    u32 size = 0;
    EXPECT_EQ(zp::regQueryValueEx(key, "v", nullptr, nullptr, &size), zp::kErrorBadDatabase);
    EXPECT_EQ(set(key, "w", zp::kRegSz, "y"), zp::kErrorBadDatabase);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              text);
  }
}

TEST_F(RegistryTest, AReaderNeverSeesAHalfWrittenKey) {
  const zp::RegKey key = createKey("SOFTWARE\\Atomic");
  const std::string a(200000, 'a');
  const std::string b(200000, 'b');
  ASSERT_EQ(set(key, "v", zp::kRegBinary, a), 0u);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    std::vector<u8> buffer(a.size());
    while (!done) {
      u32 size = static_cast<u32>(buffer.size());
      if (zp::regQueryValueEx(key, "v", nullptr, buffer.data(), &size) != 0 || size != a.size() ||
          (std::string(buffer.begin(), buffer.end()) != a &&
           std::string(buffer.begin(), buffer.end()) != b)) {
        ++torn;
      }
      ++reads;
    }
  });
  for (int i = 0; i < 100; ++i) ASSERT_EQ(set(key, "v", zp::kRegBinary, i % 2 ? a : b), 0u);
  EXPECT_TRUE(tw::test::eventually([&] { return reads > 0; }));
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

TEST_F(RegistryTest, WritersInSeveralProcessesLoseNothing) {
  constexpr int kWriters = 3;
  constexpr int kEach = 40;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(tw::test::spawnHelper(
        {"reg-writer", "w" + std::to_string(w) + "-", std::to_string(kEach)}));
  }
  for (pid_t pid : pids) EXPECT_EQ(tw::test::joinHelper(pid), 0);

  zp::RegKey key = zp::kRegKeyNone;
  ASSERT_EQ(
      zp::regOpenKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Tarnwell\\Concurrency", zp::kKeyRead, &key),
      0u);
  open_.push_back(key);
  std::set<std::string> names;
  for (u32 i = 0;; ++i) {
    char name[64];
    u32 nameSize = sizeof name;
    const u32 err = zp::regEnumValue(key, i, name, &nameSize, nullptr, nullptr, nullptr);
    if (err == zp::kErrorNoMoreItems) break;
    ASSERT_EQ(err, 0u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kWriters * kEach));
}

}  // namespace
