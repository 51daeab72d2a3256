#include <gtest/gtest.h>

#include <string>

#include "loam/base/zuPath.h"

namespace {

struct SplitCase {
  const char* path;
  const char* dir;
  const char* name;
};

TEST(zuPath, SplitPath) {
  const SplitCase cases[] = {
      {"", "", ""},
      {"C:\\dir\\file.txt", "C:\\dir\\", "file.txt"},
      {"C:file", "C:", "file"},
      {"C:", "C:", ""},
      {"dir\\", "dir\\", ""},
      {"file", "", "file"},
      {"\\file", "", "\\file"},  // a separator in the first position is never a split point
      {"/file", "", "/file"},
      {"\\", "", "\\"},
      {":x", "", ":x"},
      {"a/b", "a/", "b"},
      {"a\\b/c", "a\\b/", "c"},
      {"/usr/bin/x", "/usr/bin/", "x"},
      {"a//b", "a//", "b"},
      {"dir\\sub:stream", "dir\\sub:", "stream"},
  };
  for (const auto& c : cases) {
    std::string dir = "junk";
    std::string name = "junk";
    zuSplitPath(c.path, dir, name);
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
  }
}

TEST(zuPath, SplitPathIntoItsOwnArgument) {
  std::string path = "C:\\dir\\file.txt";
  std::string name;
  zuSplitPath(path, path, name);
  EXPECT_EQ(path, "C:\\dir\\");
  EXPECT_EQ(name, "file.txt");
}

struct AppendCase {
  const char* dir;
  const char* name;
  const char* joined;
};

TEST(zuPath, AppendPath) {
  const AppendCase cases[] = {
      {"", "", ""},
      {"", "x", "x"},
      {"dir", "", "dir"},
      {"dir", "x", "dir/x"},
      {"dir\\", "x", "dir\\x"},
      {"dir/", "x", "dir/x"},
      {"dir", "\\x", "dir\\x"},
      {"dir", "/x", "dir/x"},
      {"dir\\", "\\x", "dir\\\\x"},  // two separators meeting are both kept
      {"dir/", "/x", "dir//x"},
      {"C:", "x", "C:/x"},
      {"/tmp", "a/b", "/tmp/a/b"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zuAppendPath(c.dir, c.name), c.joined) << c.dir << " + " << c.name;
}

TEST(zuPath, IsAbsolutePath) {
  const std::pair<const char*, bool> cases[] = {
      {"", false},      {"\\file", true},  {"/x", true},   {"\\", true},      {"/", true},
      {"C:\\x", true},  {"C:/x", true},    {"z:\\", true}, {"C:file", false}, {"C:x", false},
      {"C:", false},    {"1:\\x", false},  {"ab", false},  {"a/b", false},    {"dir\\", false},
      {"::\\x", false}, {"CC:\\x", false},
  };
  for (const auto& [path, absolute] : cases) EXPECT_EQ(zuIsAbsolutePath(path), absolute) << path;
}

TEST(zuPath, IsPathSeparator) {
  EXPECT_TRUE(zuIsPathSeparator('\\'));
  EXPECT_TRUE(zuIsPathSeparator('/'));
  EXPECT_FALSE(zuIsPathSeparator(':'));
  EXPECT_FALSE(zuIsPathSeparator('\0'));
}

TEST(zuPath, RebasePath) {
  const AppendCase cases[] = {
      {"C:\\copy", "D:\\data\\x", "C:\\copy\\data\\x"},
      {"C:\\copy", "D:/data/x", "C:\\copy/data/x"},
      {"C:\\copy", "\\data", "C:\\copy\\data"},
      {"/root", "/data/x", "/root/data/x"},
      {"/root/", "/data", "/root//data"},
      {"C:\\copy", "data\\x", "data\\x"},  // relative paths stay as they are
      {"C:\\copy", "D:x", "D:x"},
      {"", "D:\\x", "\\x"},
      {"C:\\copy", "", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zuRebasePath(c.dir, c.name), c.joined) << c.dir << " , " << c.name;
}

TEST(zuPath, IsPlainFileName) {
  const std::pair<std::string, bool> cases[] = {
      {"setup.msi", true},
      {"a", true},
      {"...", true},
      {".hidden", true},
      {"name with blanks", true},
      {"\xC3\xA9t\xC3\xA9.txt", true},
      {"", false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a\\b", false},
      {"C:x", false},
      {"/etc", false},
      {"..\\up", false},
      {"tab\tname", false},
      {"line\n", false},
      {std::string("nul\0x", 5), false},
      {"del\x7F", false},
  };
  for (const auto& [name, plain] : cases) EXPECT_EQ(zuIsPlainFileName(name), plain) << name;
}

}  // namespace
