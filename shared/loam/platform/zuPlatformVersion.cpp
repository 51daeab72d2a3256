#include "loam/platform/zuPlatformVersion.h"

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>

namespace zuPlatform {
namespace {

constexpr const char* kVersionVariable = "ZU_PLATFORM_WINDOWS_VERSION";

std::mutex g_testMutex;
std::optional<VersionForTest> g_testVersion;

VersionForTest defaultVersion() {
  VersionForTest v;
  v.record.majorVersion = 6;
  v.record.minorVersion = 1;
  v.record.buildNumber = 7601;
  v.record.platformId = kPlatformNT;
  v.record.productType = kProductWorkstation;
  return v;
}

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// "6", "6.1" or "6.1.7601": digits only, each part within 32 bits.
bool parseNumbers(const std::string& word, VersionRecord& record) {
  u64 parts[3] = {0, 0, 0};
  int count = 0;
  bool digit = false;
  for (const char c : word) {
    if (c >= '0' && c <= '9') {
      parts[count] = parts[count] * 10 + static_cast<u64>(c - '0');
      if (parts[count] > 0xFFFFFFFFu) return false;
      digit = true;
    } else if (c == '.' && digit && count < 2) {
      ++count;
      digit = false;
    } else {
      return false;
    }
  }
  if (!digit || count < 1) return false;
  record.majorVersion = static_cast<u32>(parts[0]);
  record.minorVersion = static_cast<u32>(parts[1]);
  record.buildNumber = static_cast<u32>(parts[2]);
  return true;
}

bool parseSetting(const char* text, VersionForTest& out) {
  std::istringstream in(text);
  std::string word;
  if (!(in >> word)) return false;
  VersionForTest v = defaultVersion();
  v.record.buildNumber = 0;
  if (!parseNumbers(word, v.record)) return false;
  while (in >> word) {
    word = lower(word);
    if (word == "nt") {
      v.record.platformId = kPlatformNT;
    } else if (word == "9x") {
      v.record.platformId = kPlatformWindows;
    } else if (word == "win32s") {
      v.record.platformId = kPlatformWin32s;
    } else if (word == "workstation") {
      v.record.productType = kProductWorkstation;
    } else if (word == "server") {
      v.record.productType = kProductServer;
    } else if (word == "dc") {
      v.record.productType = kProductDomainController;
    } else if (word == "r2") {
      v.serverR2 = true;
    } else {
      return false;
    }
  }
  out = v;
  return true;
}

VersionForTest current() {
  {
    std::lock_guard<std::mutex> hold(g_testMutex);
    if (g_testVersion) return *g_testVersion;
  }
  VersionForTest v = defaultVersion();
  if (const char* setting = std::getenv(kVersionVariable)) parseSetting(setting, v);
  return v;
}

}  // namespace

bool readVersionExtended(VersionRecord& out) {
  const VersionForTest v = current();
  if (!v.extendedReadable) return false;
  out = v.record;
  return true;
}

bool readVersionBasic(VersionRecord& out) {
  const VersionForTest v = current();
  if (!v.basicReadable) return false;
  out = v.record;
  out.productType = 0;
  return true;
}

bool isServerR2() { return current().serverR2; }

void setVersionForTest(std::optional<VersionForTest> version) {
  std::lock_guard<std::mutex> hold(g_testMutex);
  g_testVersion = std::move(version);
}

}  // namespace zuPlatform
