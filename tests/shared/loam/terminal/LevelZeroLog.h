#pragma once
// The log's level-0 lines, taken from its listener while an instance lives.

#include <string>
#include <vector>

#include "loam/threads/zuLog.h"

class LevelZeroLog {
 public:
  LevelZeroLog() {
    lines().clear();
    zuLog::addListener(&keep);
  }
  ~LevelZeroLog() { zuLog::removeListener(&keep); }
  LevelZeroLog(const LevelZeroLog&) = delete;
  LevelZeroLog& operator=(const LevelZeroLog&) = delete;

  static std::vector<std::string>& lines() {
    static std::vector<std::string> kept;
    return kept;
  }
  bool holds(const std::string& text) const {
    for (const std::string& line : lines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  static bool keep(u32 level, const char* text) {
    if (level == 0) lines().push_back(text);
    return false;
  }
};
