#pragma once
// The service's side of the event log: registering the program as an event
// source, reporting events under the service's name, and the log listener
// that turns log lines into events while the program runs as a service.
// The service frame owns one of these for its whole life.
#include <mutex>
#include <string>

#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuTypes.h"

// The program's events (message texts in messageText).
inline constexpr u32 kzuEventServiceInstalled = 100;
inline constexpr u32 kzuEventServiceRemoved = 101;
inline constexpr u32 kzuEventServiceNotRemoved = 102;
inline constexpr u32 kzuEventHandlerNotInstalled = 103;
inline constexpr u32 kzuEventInitializationFailed = 104;
inline constexpr u32 kzuEventServiceStarted = 105;
inline constexpr u32 kzuEventUnsupportedRequest = 106;
inline constexpr u32 kzuEventDebug = 107;
inline constexpr u32 kzuEventServiceStopped = 108;
inline constexpr u32 kzuEventText = 109;

class zuServiceEventLog {
 public:
  // Reports go out under sourceName (the service's name).
  explicit zuServiceEventLog(std::string sourceName);
  // Stops serving the log listener and closes the event source.
  ~zuServiceEventLog();
  zuServiceEventLog(const zuServiceEventLog&) = delete;
  zuServiceEventLog& operator=(const zuServiceEventLog&) = delete;

  // Enters sourceName under the Application log with messageFile as the
  // file that holds its message table.
  static bool registerEventSource(const std::string& sourceName, const std::string& messageFile);

  // Reports one event with text as its one insertion string, or none when
  // text is null. The event source is opened by the first report, whichever
  // thread makes it; false when it cannot be opened or the report fails.
  bool reportEvent(u16 type, u16 category, u32 eventId, const char* text = nullptr);

  // The log listener: in service mode, a line not above the log level is
  // reported as event 109 through the attached object and taken (level 0 an
  // error, 2 a warning, any other information). Otherwise the log keeps it.
  static bool logToEventLog(u32 level, const char* text);
  // Makes this the object the listener reports through and adds the listener.
  void attachToLog();
  // Removes the listener, and this object as its target.
  void detachFromLog();

  // The message table entry of an event, line break included; null for ids
  // outside the table.
  static const char* messageText(u32 eventId);

 private:
  const std::string sourceName_;
  std::mutex openLock_;
  zuPlatform::EventSourceHandle source_ = zuPlatform::kEventSourceNone;
};
