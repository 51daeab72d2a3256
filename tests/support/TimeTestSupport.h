#pragma once
// Fixtures for tests of time: they put the time zone and every clock seam
// back afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <optional>
#include <string>

#include "loam/platform/zuPlatformTime.h"

namespace tw::test {

// Restores TZ and the clock seams after each test; the zone is left as found.
class ClockSeamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    if (tz != nullptr) savedZone_ = tz;
  }

  void TearDown() override {
    if (savedZone_) {
      setenv("TZ", savedZone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    zuPlatform::setNowForTest(std::nullopt);
    zuPlatform::setFixedTickForTest(std::nullopt);
    zuPlatform::setTickOffsetForTest(0);
  }

  static void setZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  std::optional<std::string> savedZone_;
};

// For tests of the time values: the zone starts as UTC and "now" can be fixed.
class LocalClockTest : public ClockSeamTest {
 protected:
  void SetUp() override {
    ClockSeamTest::SetUp();
    setZone("UTC");
  }

  // Fixes "now" at a UTC wall-clock time.
  static void setNowUtc(int year, unsigned month, unsigned day, long hour, long minute, long second,
                        long millisecond = 0) {
    using namespace std::chrono;
    const auto t =
        sys_days{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}} +
        hours{hour} + minutes{minute} + seconds{second} + milliseconds{millisecond};
    zuPlatform::setNowForTest(duration_cast<milliseconds>(t.time_since_epoch()).count());
  }
};

}  // namespace tw::test
