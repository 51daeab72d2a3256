#pragma once
// The one process-wide log. A line with a level is offered to the listeners
// first and then, unless one took it, written to standard error or appended
// to the log file, according to the mode. All state is guarded by zuLogLock
// except the two level thresholds, which are read without it so that a line
// nobody wants costs almost nothing.
#include <string>

#include "loam/base/zuMessage.h"
#include "loam/platform/zuTypes.h"

// Sees every line that passes the thresholds, one line at a time; true takes
// the line (keeps it from the console or file). May itself log.
using zuLogListener = bool (*)(u32 level, const char* text);

namespace zuLog {

// Output modes.
inline constexpr u32 kModeNone = 0;
inline constexpr u32 kModeService = 1;  // the event-log listener does the writing
inline constexpr u32 kModeConsole = 2;  // standard error: "HH:MM:SS text"
inline constexpr u32 kModeFile = 3;     // appended: "Mon D HH:MM:SS [name: ]text"

// The text of zuLog::logf is cut to fit this buffer, its zero included.
inline constexpr u32 kFormatBufferSize = 10240;

// Sets the mode and the name written before each file line (null is empty).
void init(const char* name, u32 mode);
// File mode with the service's name, appending to path.
void initFile(const std::string& path);

void write(i32 level, const char* text);
// The message's parameters are written through zuLogText: they are where
// texts from outside go.
void log(i32 level, const zuMessage& message);
// printf-style; nothing is formatted for a line that nobody would see.
void logf(i32 level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Appended to the list (the same one may be added twice).
void addListener(zuLogListener listener);
// Removes every entry equal to listener.
void removeListener(zuLogListener listener);

// Lines above the log level are not written to the console or the file.
void setLogLevel(i32 level);
i32 getLogLevel();
u32 getMode();
std::string getLogFileName();

}  // namespace zuLog
