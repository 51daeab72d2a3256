#include "loam/service/zuServiceEventLog.h"

#include <utility>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuStMutex.h"

namespace zp = zuPlatform;

namespace {

constexpr const char* kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Error, warning and information.
constexpr u32 kTypesSupported = 7;

// The object the log listener reports through. Guarded by zuLogLock, which
// the log holds around every listener call.
zuServiceEventLog* g_logTarget = nullptr;

u16 eventTypeForLevel(u32 level) {
  if (level == 0) return zp::kEventLogErrorType;
  if (level == 2) return zp::kEventLogWarningType;
  return zp::kEventLogInformationType;
}

}  // namespace

zuServiceEventLog::zuServiceEventLog(std::string sourceName) : sourceName_(std::move(sourceName)) {}

zuServiceEventLog::~zuServiceEventLog() {
  detachFromLog();
  if (source_ != zp::kEventSourceNone) zp::deregisterEventSource(source_);
}

bool zuServiceEventLog::registerEventSource(const std::string& sourceName,
                                            const std::string& messageFile) {
  zp::RegKey key = zp::kRegKeyNone;
  const std::string subkey = kEventSourceKey + sourceName;
  if (zp::regCreateKeyEx(zp::kRegLocalMachine, subkey.c_str(), zp::kKeyAllAccess, &key, nullptr) !=
      zp::kErrorSuccess) {
    return false;
  }
  const u32 types = kTypesSupported;
  const bool written =
      zp::regSetValueEx(key, "EventMessageFile", zp::kRegExpandSz,
                        reinterpret_cast<const u8*>(messageFile.c_str()),
                        static_cast<u32>(messageFile.size() + 1)) == zp::kErrorSuccess &&
      zp::regSetValueEx(key, "TypesSupported", zp::kRegDword, reinterpret_cast<const u8*>(&types),
                        sizeof types) == zp::kErrorSuccess;
  zp::regCloseKey(key);
  return written;
}

bool zuServiceEventLog::reportEvent(u16 type, u16 category, u32 eventId, const char* text) {
  zp::EventSourceHandle source = zp::kEventSourceNone;
  {
    // Threads may race to the first report; only one opens the source.
    std::lock_guard<std::mutex> hold(openLock_);
    if (source_ == zp::kEventSourceNone) source_ = zp::registerEventSource(sourceName_.c_str());
    source = source_;
  }
  if (source == zp::kEventSourceNone) return false;
  const char* strings[] = {text};
  return zp::reportEvent(source, type, category, eventId, text ? 1 : 0, text ? strings : nullptr);
}

bool zuServiceEventLog::logToEventLog(u32 level, const char* text) {
  if (zuLog::getMode() != zuLog::kModeService || i64{level} > i64{zuLog::getLogLevel()}) {
    return false;
  }
  zuStMutex hold(zuLogLock);
  if (!g_logTarget) return false;
  if (text) g_logTarget->reportEvent(eventTypeForLevel(level), 0, kzuEventText, text);
  return true;
}

void zuServiceEventLog::attachToLog() {
  zuStMutex hold(zuLogLock);
  if (g_logTarget != this) {
    zuLog::removeListener(logToEventLog);
    zuLog::addListener(logToEventLog);
  }
  g_logTarget = this;
}

void zuServiceEventLog::detachFromLog() {
  zuStMutex hold(zuLogLock);
  if (g_logTarget != this) return;
  zuLog::removeListener(logToEventLog);
  g_logTarget = nullptr;
}

const char* zuServiceEventLog::messageText(u32 eventId) {
  return zp::eventMessageTemplate(eventId);
}
