#include "loam/threads/zuLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "loam/base/zuDate.h"
#include "loam/base/zuTimeOfDay.h"
#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformAppendFile.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/platform/zuPlatformTime.h"
#include "loam/threads/zuAlloc.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuStMutex.h"

namespace {

constexpr const char* kServiceName = "Tarnwell Update Agent";

ZU_INIT_ORDER(ZU_INIT_LOG_NAME) std::string g_name;
ZU_INIT_ORDER(ZU_INIT_LOG_NAME) zuPlatform::InitNote g_nameNote{ZU_INIT_LOG_NAME};
ZU_INIT_ORDER(ZU_INIT_LOG_LISTENERS) std::vector<zuLogListener> g_listeners;
ZU_INIT_ORDER(ZU_INIT_LOG_LISTENERS) zuPlatform::InitNote g_listenersNote{ZU_INIT_LOG_LISTENERS};
ZU_INIT_ORDER(ZU_INIT_LOG_FILE_NAME) std::string g_fileName{"infoLog.log"};
ZU_INIT_ORDER(ZU_INIT_LOG_FILE_NAME) zuPlatform::InitNote g_fileNameNote{ZU_INIT_LOG_FILE_NAME};

// Plain values, there before any global is built.
constinit std::atomic<u32> g_mode{zuLog::kModeConsole};
constinit std::atomic<i32> g_logLevel{3};
constinit std::atomic<i32> g_listenerLevel{0};

bool wanted(i32 level) {
  return level <= g_logLevel.load(std::memory_order_relaxed) ||
         level <= g_listenerLevel.load(std::memory_order_relaxed);
}

// One reading of the clock for both parts, so a line written at midnight
// never carries the old date with the new time.
void stamp(std::string& date, std::string& time) {
  const zuPlatform::LocalTime now = zuPlatform::localNow();
  zuDate day;
  day.set(now.day, now.month, now.year);
  day.format(date, zuDate::kStyleMonthName, false, false);
  zuTimeOfDay clock;
  clock.set(now.hour, now.minute, now.second, 0);
  time = clock.toString(':', true);
}

// Called with the log lock held.
void output(const char* text) {
  std::string date;
  std::string time;
  switch (g_mode.load(std::memory_order_relaxed)) {
    case zuLog::kModeConsole: {
      stamp(date, time);
      std::string line = time;
      line += ' ';
      line += text;
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), stderr);
      std::fflush(stderr);
      break;
    }
    case zuLog::kModeFile: {
      stamp(date, time);
      std::string line = date;
      line += ' ';
      line += time;
      line += ' ';
      if (!g_name.empty()) {
        line += g_name;
        line += ": ";
      }
      line += text;
      line += '\n';
      // A file that cannot be opened loses the line; the next one tries again.
      zuPlatform::appendToFile(g_fileName, line);
      break;
    }
    default:
      break;
  }
}

}  // namespace

void zuLog::init(const char* name, u32 mode) {
  zuStMutex hold(zuLogLock);
  g_mode.store(mode, std::memory_order_relaxed);
  g_name = name ? name : "";
}

void zuLog::initFile(const std::string& path) {
  zuStMutex hold(zuLogLock);
  g_mode.store(kModeFile, std::memory_order_relaxed);
  g_name = kServiceName;
  g_fileName = path;
}

void zuLog::write(i32 level, const char* text) {
  if (!wanted(level)) return;
  if (!text) text = "";
  zuStMutex hold(zuLogLock);
  bool taken = false;
  // A copy, so a listener may add or remove listeners (itself too) while the
  // line is being offered.
  const std::vector<zuLogListener> listeners = g_listeners;
  for (const zuLogListener listener : listeners) {
    try {
      if (listener(static_cast<u32>(level), text)) taken = true;
    } catch (...) {
      // A broken listener must not cost the others, or the output, the line.
    }
  }
  if (taken || level > g_logLevel.load(std::memory_order_relaxed)) return;
  output(text);
}

void zuLog::log(i32 level, const zuMessage& message) {
  if (!wanted(level)) return;
  write(level, message.logText().c_str());
}

void zuLog::logf(i32 level, const char* format, ...) {
  if (!wanted(level) || !format) return;
  zuAlloc buffer(kFormatBufferSize);
  va_list args;
  va_start(args, format);
  // Cuts a longer text at the buffer's end, always with its zero.
  const int length = std::vsnprintf(buffer.chars(), buffer.size(), format, args);
  va_end(args);
  // A format the C library refuses is logged as it stands.
  write(level, length < 0 ? format : buffer.chars());
}

void zuLog::addListener(zuLogListener listener) {
  if (!listener) return;
  zuStMutex hold(zuLogLock);
  if (g_listenerLevel.load(std::memory_order_relaxed) < 0) {
    g_listenerLevel.store(0, std::memory_order_relaxed);
  }
  g_listeners.push_back(listener);
}

void zuLog::removeListener(zuLogListener listener) {
  zuStMutex hold(zuLogLock);
  std::erase(g_listeners, listener);
}

void zuLog::setLogLevel(i32 level) { g_logLevel.store(level, std::memory_order_relaxed); }

i32 zuLog::getLogLevel() { return g_logLevel.load(std::memory_order_relaxed); }

u32 zuLog::getMode() { return g_mode.load(std::memory_order_relaxed); }

std::string zuLog::getLogFileName() {
  zuStMutex hold(zuLogLock);
  return g_fileName;
}
