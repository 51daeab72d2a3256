#include "loam/platform/zuPlatformEventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/platform/zuPlatformStore.h"
#include "loam/platform/zuPlatformTime.h"

namespace zuPlatform {

namespace {

using store::Fd;

struct MessageEntry {
  u32 id;
  const char* text;
};

// The program's message table; %1 is the one insertion string.
constexpr MessageEntry kMessageTable[] = {
    {100, "The %1 service was installed.\n"},
    {101, "The %1 service was removed.\n"},
    {102, "The %1 service could not be removed.\n"},
    {103, "The control handler could not be installed.\n"},
    {104, "The initialization process failed.\n"},
    {105, "The service was started.\n"},
    {106, "The service received an unsupported request.\n"},
    {107, "Debug: %1\n"},
    {108, "The service was stopped.\n"},
    {109, "%1\n"},
};

struct SourceTable {
  std::mutex mutex;
  std::unordered_map<EventSourceHandle, std::string> sources;
  EventSourceHandle next = 1;
};

SourceTable& sourceTable() {
  static SourceTable table;
  return table;
}

bool fail(u32 error) {
  setLastError(error);
  return false;
}

std::string eventLogFolder() { return store::joinPath(rootFolder(), "eventlog"); }

std::string counterFile() { return store::joinPath(eventLogFolder(), "Application.seq"); }

void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
}

bool unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 'x': {
        unsigned byte = 0;
        if (i + 2 >= text.size()) return false;
        const auto [ptr, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
        if (ec != std::errc() || ptr != text.data() + i + 3) return false;
        out += static_cast<char>(byte);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

template <typename T>
bool parseNumber(std::string_view text, T& out) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

bool parseRecord(std::string_view line, EventRecord& out) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  for (;;) {
    const size_t tab = line.find('\t', pos);
    fields.push_back(
        line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos));
    if (tab == std::string_view::npos) break;
    pos = tab + 1;
  }
  size_t count = 0;
  if (fields.size() < 7 || !parseNumber(fields[0], out.recordNumber) ||
      !parseNumber(fields[1], out.timeGenerated) || !parseNumber(fields[2], out.type) ||
      !parseNumber(fields[3], out.category) || !parseNumber(fields[4], out.eventId) ||
      !unescape(fields[5], out.source) || !parseNumber(fields[6], count) ||
      fields.size() != 7 + count) {
    return false;
  }
  out.strings.assign(count, std::string());
  for (size_t i = 0; i < count; ++i) {
    if (!unescape(fields[7 + i], out.strings[i])) return false;
  }
  return true;
}

// The highest record number in the log, for a counter file that is lost.
u64 lastRecordNumber() {
  std::vector<EventRecord> records;
  u64 last = 0;
  if (readEventLog(records)) {
    for (const EventRecord& r : records) last = r.recordNumber > last ? r.recordNumber : last;
  }
  return last;
}

// Takes the next record number under the lock (fd holds the counter).
bool nextRecordNumber(int fd, u64& out) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n < 0) return false;
  std::string_view counter(text, static_cast<size_t>(n));
  while (!counter.empty() && counter.back() == '\n') counter.remove_suffix(1);
  u64 last = 0;
  if (counter.empty() || !parseNumber(counter, last)) last = lastRecordNumber();
  out = last + 1;
  char next[32];
  const int length =
      std::snprintf(next, sizeof next, "%020llu\n", static_cast<unsigned long long>(out));
  return ::pwrite(fd, next, static_cast<size_t>(length), 0) == length;
}

const char* typeName(u16 type, char* buffer, size_t size) {
  switch (type) {
    case kEventLogSuccess:
      return "Success";
    case kEventLogErrorType:
      return "Error";
    case kEventLogWarningType:
      return "Warning";
    case kEventLogInformationType:
      return "Information";
    case kEventLogAuditSuccess:
      return "Audit Success";
    case kEventLogAuditFailure:
      return "Audit Failure";
    default:
      std::snprintf(buffer, size, "Type %u", static_cast<unsigned>(type));
      return buffer;
  }
}

}  // namespace

EventSourceHandle registerEventSource(const char* sourceName) {
  if (!sourceName || !*sourceName) {
    setLastError(kErrorInvalidParameter);
    return kEventSourceNone;
  }
  SourceTable& table = sourceTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  const EventSourceHandle handle = table.next++;
  table.sources.emplace(handle, sourceName);
  return handle;
}

bool reportEvent(EventSourceHandle source, u16 type, u16 category, u32 eventId, u16 numStrings,
                 const char* const* strings) {
  std::string sourceName;
  {
    SourceTable& table = sourceTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.sources.find(source);
    if (it == table.sources.end()) return fail(kErrorInvalidHandle);
    sourceName = it->second;
  }
  if (numStrings > 0 && !strings) return fail(kErrorInvalidParameter);
  if (const int err = store::makeFolders(eventLogFolder(), 0755); err != 0) {
    return fail(store::errorFromErrno(err, kErrorGenFailure));
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);

  store::FileLock lock(counterFile());
  if (!lock.lockExclusive()) return fail(store::errorFromErrno(lock.error(), kErrorGenFailure));
  u64 number = 0;
  if (!nextRecordNumber(lock.fd(), number)) {
    return fail(store::errorFromErrno(errno, kErrorGenFailure));
  }
  std::string line = std::to_string(number) + '\t' + std::to_string(now.tv_sec) + '\t' +
                     std::to_string(type) + '\t' + std::to_string(category) + '\t' +
                     std::to_string(eventId) + '\t';
  appendEscaped(line, sourceName);
  line += '\t' + std::to_string(numStrings);
  for (u16 i = 0; i < numStrings; ++i) {
    line += '\t';
    appendEscaped(line, strings[i] ? strings[i] : "");
  }
  line += '\n';

  Fd log(::open(eventLogFile().c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!log.valid()) return fail(store::errorFromErrno(errno, kErrorGenFailure));
  // A record cut short by a crash gets its line ended, so it costs only itself.
  struct stat st {};
  char last = '\n';
  if (::fstat(log.get(), &st) == 0 && st.st_size > 0 &&
      ::pread(log.get(), &last, 1, st.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(log.get(), line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(store::errorFromErrno(errno, kErrorGenFailure));
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool deregisterEventSource(EventSourceHandle source) {
  SourceTable& table = sourceTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.sources.erase(source) == 1 ? true : fail(kErrorInvalidHandle);
}

std::string eventLogFile() { return store::joinPath(eventLogFolder(), "Application.evt"); }

bool readEventLog(std::vector<EventRecord>& out) {
  out.clear();
  std::string text;
  const int err = store::readWholeFile(eventLogFile(), text);
  if (err == ENOENT) return true;
  if (err != 0) return fail(store::errorFromErrno(err, kErrorGenFailure));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    EventRecord record;
    if (parseRecord(std::string_view(text).substr(pos, end - pos), record)) {
      out.push_back(std::move(record));
    }
    pos = end + 1;
  }
  return true;
}

const char* eventMessageTemplate(u32 eventId) {
  for (const MessageEntry& entry : kMessageTable) {
    if (entry.id == eventId) return entry.text;
  }
  return nullptr;
}

std::string formatEventMessage(const EventRecord& record) {
  const char* templ = eventMessageTemplate(record.eventId);
  std::string out;
  if (!templ) {
    out = "Event " + std::to_string(record.eventId) + " of source \"" + record.source +
          "\" is not in the message table.";
    for (size_t i = 0; i < record.strings.size(); ++i) {
      out += i == 0 ? " Insertion strings: \"" : ", \"";
      out += record.strings[i] + "\"";
    }
    out += '\n';
    return out;
  }
  const std::string_view text(templ);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    if (text[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t digits = 0;
    while (digits < 2 && i + 1 + digits < text.size() && text[i + 1 + digits] >= '0' &&
           text[i + 1 + digits] <= '9') {
      ++digits;
    }
    size_t index = 0;
    if (digits > 0) parseNumber(text.substr(i + 1, digits), index);
    if (index >= 1 && index <= record.strings.size()) {
      out += record.strings[index - 1];
      i += digits;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string formatEventRecord(const EventRecord& record) {
  char when[64] = "?";
  LocalTime local;
  if (toLocalTime(record.timeGenerated, 0, local)) {
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{local.year},
                  unsigned{local.month}, unsigned{local.day}, unsigned{local.hour},
                  unsigned{local.minute}, unsigned{local.second});
  }
  char typeBuffer[16];
  std::string message = formatEventMessage(record);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return std::to_string(record.recordNumber) + " " + when + " " +
         typeName(record.type, typeBuffer, sizeof typeBuffer) + " " + record.source + " [" +
         std::to_string(record.eventId) + "] " + message;
}

}  // namespace zuPlatform
