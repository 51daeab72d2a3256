#pragma once
// The event log, standing in for RegisterEventSource, ReportEvent and
// DeregisterEventSource, with a reader for tests and people.
//
// Every report appends one record, one text line, to the Application log
// file under <platform root>/eventlog, under a lock file taken with flock
// (so reports from several processes never mix and their sequence numbers
// stay unique and ascending): sequence number, time, type, category, event
// id, source and insertion strings, tab-separated, with backslash escapes
// for tab, line breaks, backslash and other control bytes. A report never
// waits for that lock (its caller may hold locks of its own): when another
// process has it, the record is queued, in order behind this process's other
// queued records, and written by a thread of the event log's once the lock is
// free, as Windows' event log service writes reports after taking them. At
// most 1 MiB waits so; past it a report fails with 32. What is still queued
// when the process exits normally is written then, if the lock comes free
// within its wait bound.
//
// The log keeps to a size limit with Windows' "overwrite as needed": the
// oldest records make room for new ones. The limit is the DWORD MaxSize (in
// bytes) of the registry key
// SYSTEM\CurrentControlSet\Services\EventLog\Application, 20 MiB when it is not set, never below 64
// KiB; a record longer than 256 KiB or half the limit is refused (87).
//
// The message table of the program's events 100 to 109 is compiled in; the
// reader formats a record with its text whatever source reported it. Not
// reproduced: other logs than Application, user ids, raw data, other
// retention policies and the registry lookup of message files.
#include <functional>
#include <string>
#include <vector>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

inline constexpr u64 kDefaultEventLogMaxSize = 20 * 1024 * 1024;
inline constexpr const char* kEventLogMaxSizeValue = "MaxSize";

// An event source handle; 0 is none.
using EventSourceHandle = u64;
inline constexpr EventSourceHandle kEventSourceNone = 0;

// Event types.
inline constexpr u16 kEventLogSuccess = 0;
inline constexpr u16 kEventLogErrorType = 1;
inline constexpr u16 kEventLogWarningType = 2;
inline constexpr u16 kEventLogInformationType = 4;
inline constexpr u16 kEventLogAuditSuccess = 8;
inline constexpr u16 kEventLogAuditFailure = 16;

// A handle for reporting under sourceName: 0 and 87 for a null or empty
// name. Like Windows, the source need not be registered.
EventSourceHandle registerEventSource(const char* sourceName);

// Appends one record. strings holds numStrings insertion strings (null
// entries count as empty). False with the last error set on failure (6 for a
// handle that is not open, 87 for strings missing).
bool reportEvent(EventSourceHandle source, u16 type, u16 category, u32 eventId, u16 numStrings,
                 const char* const* strings);

// 6 for a handle that is not open.
bool deregisterEventSource(EventSourceHandle source);

struct EventRecord {
  u64 recordNumber = 0;   // 1 for the first record of the log
  i64 timeGenerated = 0;  // seconds since 1970-01-01 00:00:00 UTC
  u16 type = 0;
  u16 category = 0;
  u32 eventId = 0;
  std::string source;
  std::vector<std::string> strings;
};

// The path of the Application log file.
std::string eventLogFile();

// Calls onRecord for every record of the Application log in order, reading
// the file a block at a time (nothing when it does not exist yet). A line that
// is not a well-formed record is skipped. False with the last error set when
// the file cannot be read.
bool forEachEventRecord(const std::function<void(const EventRecord&)>& onRecord);

// Every record, as forEachEventRecord gives them.
bool readEventLog(std::vector<EventRecord>& out);

// The message table entry for an event id, line break included; null for ids
// outside the table.
const char* eventMessageTemplate(u32 eventId);

// The record's message: its template with %1 to %99 replaced by the
// insertion strings (a number without a string stays as it is; %% gives %),
// line break included. For an id outside the table, a text that names id,
// source and the strings.
std::string formatEventMessage(const EventRecord& record);

// One line for a person: "<number> <local date and time> <type> <source>
// [<id>] <message>", without the message's line break.
std::string formatEventRecord(const EventRecord& record);

}  // namespace zuPlatform
