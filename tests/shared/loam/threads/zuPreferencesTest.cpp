#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "loam/platform/zuPlatformRegistry.h"
#include "loam/threads/zuPreferences.h"
#include "loam/threads/zuStMutex.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
namespace zp = zuPlatform;

// A fixed last-write time to start from: 2023-11-14 22:13:20 UTC.
constexpr i64 kBase = 1700000000;
constexpr long kMs = 1000000;  // nanoseconds

using tw::test::readFile;
using tw::test::writeFile;

void setWriteTime(const std::string& path, i64 seconds, long nanoseconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                             {static_cast<time_t>(seconds), nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

timespec writeTime(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim;
}

// Replaces the file's bytes and puts its last-write time back, so that only
// the contents differ.
void rewriteKeepingTime(const std::string& path, const std::string& text) {
  const timespec before = writeTime(path);
  writeFile(path, text);
  setWriteTime(path, before.tv_sec, before.tv_nsec);
}

using tw::test::folderNames;

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override { prefs.setFileName(path); }

  // The value as the store holds it now, without a load.
  std::optional<std::string> held(const std::string& name) const {
    std::string v;
    if (!prefs.values().get(name, v)) return std::nullopt;
    return v;
  }

  tw::test::ScratchDir dir;
  tw::test::ScopedEnv root{"ZU_PLATFORM_ROOT", dir.path()};
  const std::string path = dir.file("preferences.cfg");
  zuPreferences prefs;
};

TEST_F(PreferencesTest, ReadAgainOnlyWhenTheFileChanges) {
  struct Step {
    const char* text;
    i64 seconds;
    long nanoseconds;
    bool replace;                  // a new file renamed over the old one
    const char* a;                 // value of a after the load
    std::optional<const char*> b;  // value of b, or missing
    u32 loads;
    const char* what;
  };
  const Step steps[] = {
      {"<a value=\"1\"/>\n<b value=\"x\"/>\n", kBase, 0, false, "1", "x", 1, "first load"},
      {"<a value=\"7\"/>\n<b value=\"z\"/>\n", kBase, 0, false, "1", "x", 1,
       "same file, size and time: not read"},
      {"<a value=\"2\"/>\n", kBase, 0, false, "2", std::nullopt, 2, "another size"},
      {"<a value=\"3\"/>\n", kBase, 999, false, "3", std::nullopt, 3,
       "same size, within the same millisecond"},
      {"<a value=\"4\"/>\n", kBase, 999, true, "4", std::nullopt, 4,
       "replaced with the same size and time"},
      {"<a value=\"5\"/>\n<b value=\"y\"/>\n", kBase - 86400, 1 * kMs, false, "5", "y", 5,
       "a day earlier"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.replace) {
      const std::string aside = path + ".new";
      writeFile(aside, s.text);
      setWriteTime(aside, s.seconds, s.nanoseconds);
      ASSERT_EQ(std::rename(aside.c_str(), path.c_str()), 0);
    } else {
      writeFile(path, s.text);
      setWriteTime(path, s.seconds, s.nanoseconds);
    }
    EXPECT_TRUE(prefs.lockedLoad());
    EXPECT_EQ(held("A"), s.a);
    EXPECT_EQ(held("b"), s.b ? std::optional<std::string>(*s.b) : std::nullopt);
    EXPECT_EQ(prefs.loadCount(), s.loads);
  }
}

TEST_F(PreferencesTest, LoadOnceKeepsTheFirstContents) {
  prefs.setLoadOnce(true);
  EXPECT_FALSE(prefs.lockedLoad());  // missing: a failed load does not count
  writeFile(path, "<a value=\"1\"/>\n");
  setWriteTime(path, kBase, 0);
  EXPECT_TRUE(prefs.lockedLoad());
  writeFile(path, "<a value=\"2\"/>\n");
  setWriteTime(path, kBase + 60, 0);
  std::string v;
  EXPECT_TRUE(prefs.lockedGet("a", v));
  EXPECT_EQ(v, "1");
  ::unlink(path.c_str());
  EXPECT_TRUE(prefs.lockedLoad());
  EXPECT_EQ(prefs.loadCount(), 1u);
}

TEST_F(PreferencesTest, DeletedFileClearsTheValues) {
  const std::string text = "<upgradable value=\"0\"/>\n<arguments value=\"-p 1\"/>\n";
  writeFile(path, text);
  setWriteTime(path, kBase, 0);
  ASSERT_TRUE(prefs.lockedLoad());
  EXPECT_FALSE(prefs.lockedGetBool("Upgradable"));

  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_FALSE(prefs.lockedLoad());
  EXPECT_EQ(prefs.values().count(), 0u);
  std::string v = "unchanged";
  EXPECT_FALSE(prefs.lockedGet("arguments", v));
  EXPECT_EQ(v, "unchanged");
  EXPECT_TRUE(prefs.lockedGetBool("Upgradable"));  // every key falls back to its default

  // Put back as a backup would, with its old time: read again all the same.
  writeFile(path, text);
  setWriteTime(path, kBase, 0);
  EXPECT_TRUE(prefs.lockedGet("arguments", v));
  EXPECT_EQ(v, "-p 1");
  EXPECT_EQ(prefs.loadCount(), 2u);
}

TEST_F(PreferencesTest, MalformedFileIsReadAgainAndNeverOverwritten) {
  // The single quotes end the read after the first entry.
  const std::string text =
      "<arguments value=\"-p 1\"/>\n<upgradable value='0'/>\n<c value=\"3\"/>\n";
  writeFile(path, text);
  setWriteTime(path, kBase, 0);
  EXPECT_FALSE(prefs.lockedLoad());
  EXPECT_EQ(held("arguments"), "-p 1");
  EXPECT_EQ(prefs.values().count(), 1u);
  // Not taken as current: the unchanged file fails again.
  EXPECT_FALSE(prefs.lockedLoad());
  EXPECT_EQ(prefs.loadCount(), 0u);

  EXPECT_FALSE(prefs.setValue("new", "1"));
  EXPECT_FALSE(prefs.removeValue("arguments"));
  EXPECT_EQ(readFile(path), text);
  EXPECT_FALSE(held("new"));
  EXPECT_EQ(held("arguments"), "-p 1");

  // Once mended, the file loads and takes changes again.
  writeFile(path, "<arguments value=\"-p 1\"/>\n");
  setWriteTime(path, kBase + 1, 0);
  EXPECT_TRUE(prefs.setValue("new", "1"));
  EXPECT_EQ(readFile(path), "<arguments value=\"-p 1\"/>\n<new value=\"1\"/>\n");
}

TEST_F(PreferencesTest, GetBoolReadsOnlyNumbers) {
  const std::pair<const char*, bool> cases[] = {
      {"no", true},    {"0", false}, {"-0", false}, {"1", true},   {"-1", true},
      {"false", true}, {"", true},   {" 0", true},  {"0x0", true},
  };
  long n = 0;
  for (const auto& [value, expected] : cases) {
    writeFile(path, std::string("<Upgradable value=\"") + value + "\"/>\n");
    setWriteTime(path, kBase, ++n * kMs);
    EXPECT_EQ(prefs.lockedGetBool("upgradable"), expected) << '"' << value << '"';
  }
  EXPECT_TRUE(prefs.lockedGetBool("missing"));
  ::unlink(path.c_str());
  EXPECT_TRUE(prefs.lockedGetBool("upgradable"));  // a failed load reads as true
}

TEST_F(PreferencesTest, SetValueRewritesTheWholeFileInOrder) {
  // Any case and CR LF line ends are read; the file is written back lower-case,
  // one entry a line, in the order in which the names were first added.
  writeFile(path, "<Arguments value=\"-p 4153\"/>\r\n<B value=\"2\"/>\r\n");
  EXPECT_TRUE(prefs.setValue("c", "3"));
  EXPECT_EQ(readFile(path), "<arguments value=\"-p 4153\"/>\n<b value=\"2\"/>\n<c value=\"3\"/>\n");
  EXPECT_TRUE(prefs.setValue("ARGUMENTS", "-p 1"));
  EXPECT_TRUE(prefs.removeValue("b"));
  EXPECT_EQ(readFile(path), "<arguments value=\"-p 1\"/>\n<c value=\"3\"/>\n");

  // A missing file is created.
  zuPreferences fresh;
  fresh.setFileName(dir.file("new.cfg"));
  EXPECT_FALSE(fresh.exists());
  EXPECT_TRUE(fresh.setValue("Upgradable", "0"));
  EXPECT_TRUE(fresh.exists());
  EXPECT_EQ(readFile(dir.file("new.cfg")), "<upgradable value=\"0\"/>\n");
}

TEST_F(PreferencesTest, AfterSaveTheNextLoadReadsNothing) {
  writeFile(path, "<a value=\"1\"/>\n");
  setWriteTime(path, kBase, 0);
  ASSERT_TRUE(prefs.setValue("b", "2"));
  EXPECT_EQ(prefs.loadCount(), 1u);
  // The file the save left, its size and time: nothing is read (contents
  // changed in place within one tick are the one change not seen).
  const std::string saved = readFile(path);
  std::string same = saved;
  std::replace(same.begin(), same.end(), 'b', 'c');
  rewriteKeepingTime(path, same);
  EXPECT_TRUE(prefs.lockedLoad());
  EXPECT_EQ(prefs.loadCount(), 1u);
  EXPECT_EQ(held("b"), "2");
  EXPECT_FALSE(held("c"));
}

TEST_F(PreferencesTest, WithoutAutoSaveOnlyLockedSaveWrites) {
  const std::string text = "<a value=\"1\"/>\n";
  writeFile(path, text);
  setWriteTime(path, kBase, 0);
  prefs.setAutoSave(false);
  EXPECT_TRUE(prefs.setValue("b", "2"));
  EXPECT_TRUE(prefs.removeValue("a"));
  EXPECT_EQ(readFile(path), text);
  EXPECT_TRUE(prefs.lockedSave(false));
  EXPECT_EQ(readFile(path), "<b value=\"2\"/>\n");

  // Unmodified values are written only when forced.
  prefs.values().setModified(false);
  rewriteKeepingTime(path, "junk");
  EXPECT_TRUE(prefs.lockedSave(false));
  EXPECT_EQ(readFile(path), "junk");
  EXPECT_TRUE(prefs.lockedSave(true));
  EXPECT_EQ(readFile(path), "<b value=\"2\"/>\n");
}

using tw::test::ScopedFileSizeLimit;

TEST_F(PreferencesTest, RefusedSaveLeavesTheOldFileWhole) {
  const std::string text = "<arguments value=\"-p 1\"/>\n";
  writeFile(path, text);
  setWriteTime(path, kBase, 0);

  // The text form has no escape for a double quote: refused before any write.
  EXPECT_FALSE(prefs.setValue("bad", "say \"hi\""));
  EXPECT_EQ(readFile(path), text);
  prefs.values().remove("bad");

  // The disk refuses the write part way through.
  {
    ScopedFileSizeLimit limit(4096);
    EXPECT_FALSE(prefs.setValue("big", std::string(64 * 1024, 'x')));
  }
  EXPECT_EQ(readFile(path), text);
  EXPECT_EQ(folderNames(dir.path()), std::vector<std::string>{"preferences.cfg"});
  EXPECT_EQ(writeTime(path).tv_sec, kBase);
}

TEST_F(PreferencesTest, UnboundStoreFails) {
  zuPreferences unbound;
  std::string v = "unchanged";
  EXPECT_FALSE(unbound.exists());
  EXPECT_FALSE(unbound.lockedLoad());
  EXPECT_FALSE(unbound.lockedSave(true));
  EXPECT_FALSE(unbound.lockedGet("a", v));
  EXPECT_EQ(v, "unchanged");
  EXPECT_TRUE(unbound.lockedGetBool("a"));
  EXPECT_FALSE(unbound.setValue("a", "1"));
  EXPECT_EQ(unbound.fileName(), "");
}

TEST_F(PreferencesTest, ExistsMeansReadable) {
  EXPECT_FALSE(prefs.exists());
  writeFile(path, "");
  EXPECT_TRUE(prefs.exists());
  prefs.setFileName(dir.path());
  EXPECT_FALSE(prefs.exists());  // a folder is not a preference file
  EXPECT_EQ(prefs.fileName(), dir.path());
}

// Writers change two values together and a reader checks them together, each
// holding the store's own lock around its steps, as the server does.
TEST_F(PreferencesTest, OuterLockKeepsValuesTogether) {
  constexpr int kRounds = 20;
  std::vector<std::thread> threads;
  std::atomic<bool> ok{true};
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        zuStMutex hold(prefs.mutex());
        const std::string n = std::to_string(w * 1000 + i);
        if (!prefs.setValue("x", n) || !prefs.setValue("y", n)) ok = false;
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      zuStMutex hold(prefs.mutex());
      prefs.load();
      if (prefs.values().getString("x", "") != prefs.values().getString("y", "")) ok = false;
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_TRUE(ok);
  zuPreferences reader;
  reader.setFileName(path);
  std::string x, y;
  ASSERT_TRUE(reader.lockedGet("x", x));
  ASSERT_TRUE(reader.lockedGet("y", y));
  EXPECT_EQ(x, y);
}

// --- bound to a registry key --------------------------------------------

constexpr const char* kKey = "SOFTWARE\\Tarnwell\\Update Agent";

u32 setRegValue(const char* name, u32 type, const std::string& bytes) {
  zp::RegKey key = zp::kRegKeyNone;
  u32 rc = zp::regCreateKeyEx(zp::kRegLocalMachine, kKey, zp::kKeyAllAccess, &key, nullptr);
  if (rc != 0) return rc;
  rc = zp::regSetValueEx(key, name, type, reinterpret_cast<const u8*>(bytes.data()),
                         static_cast<u32>(bytes.size()));
  zp::regCloseKey(key);
  return rc;
}

std::optional<std::string> regValue(const char* name, u32* type) {
  zp::RegKey key = zp::kRegKeyNone;
  if (zp::regOpenKeyEx(zp::kRegLocalMachine, kKey, zp::kKeyRead, &key) != 0) return std::nullopt;
  std::string data(256, '\0');
  u32 size = static_cast<u32>(data.size());
  const u32 rc = zp::regQueryValueEx(key, name, type, reinterpret_cast<u8*>(data.data()), &size);
  zp::regCloseKey(key);
  if (rc != 0) return std::nullopt;
  data.resize(size);
  return data;
}

TEST_F(PreferencesTest, RegistryKeyIsCreatedBySaveAndReadBack) {
  prefs.setRegistryKey(zp::kRegLocalMachine, kKey);
  EXPECT_TRUE(prefs.usesRegistry());
  EXPECT_EQ(prefs.fileName(), kKey);
  EXPECT_FALSE(prefs.exists());
  EXPECT_FALSE(prefs.lockedLoad());  // no key yet
  EXPECT_TRUE(prefs.setValue("Arguments", "-p 1"));
  EXPECT_TRUE(prefs.exists());
  u32 type = 0;
  EXPECT_EQ(regValue("arguments", &type), std::string("-p 1", 5));  // with its NUL
  EXPECT_EQ(type, zp::kRegSz);
  EXPECT_FALSE(fs::exists(path));

  // Every load asks the key again; values already held stay.
  prefs.values().set("local", "kept");
  ASSERT_EQ(setRegValue("Extra", zp::kRegSz, std::string("e\0", 2)), 0u);
  std::string v;
  EXPECT_TRUE(prefs.lockedGet("EXTRA", v));
  EXPECT_EQ(v, "e");
  EXPECT_EQ(held("local"), "kept");
  EXPECT_EQ(prefs.loadCount(), 1u);
  EXPECT_TRUE(prefs.lockedLoad());
  EXPECT_EQ(prefs.loadCount(), 2u);

  prefs.setFileName(path);
  EXPECT_FALSE(prefs.usesRegistry());
}

TEST_F(PreferencesTest, RegistryValuesAsText) {
  auto le32 = [](u32 v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    return std::string(b, 4);
  };
  struct Case {
    const char* name;
    u32 type;
    std::string bytes;
    std::optional<std::string> text;  // nullopt: not loaded
  };
  const Case cases[] = {
      {"sz", zp::kRegSz, std::string("abc\0", 4), "abc"},
      {"sznonul", zp::kRegSz, "abc", "abc"},  // no NUL: stops at the length
      {"sztwo", zp::kRegSz, std::string("ab\0cd\0", 6), "ab"},
      {"expand", zp::kRegExpandSz, std::string("%TEMP%\0", 7), "%TEMP%"},
      {"binary", zp::kRegBinary, std::string("a\0b", 3), std::string("a\0b", 3)},
      {"dword", zp::kRegDword, le32(42), "42"},
      {"dwordmax", zp::kRegDword, le32(0xFFFFFFFFu), "4294967295"},
      {"dwordshort", zp::kRegDword, std::string("\x2a\0\0", 3), std::nullopt},
      {"dwordlong", zp::kRegDword, le32(1) + le32(0), std::nullopt},
      {"multi", zp::kRegMultiSz, std::string("a\0b\0\0", 5), std::nullopt},
      {"none", zp::kRegNone, "x", std::nullopt},
      {"large", zp::kRegSz, std::string(10000, 'L') + '\0', std::string(10000, 'L')},
  };
  for (const Case& c : cases) ASSERT_EQ(setRegValue(c.name, c.type, c.bytes), 0u) << c.name;

  prefs.setRegistryKey(zp::kRegLocalMachine, kKey);
  ASSERT_TRUE(prefs.lockedLoad());
  for (const Case& c : cases) EXPECT_EQ(held(c.name), c.text) << c.name;
  EXPECT_EQ(prefs.values().count(), 8u);
}

}  // namespace
