#include "loam/platform/zuPlatformEventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "internal/zuPlatformRegistryStore.h"
#include "internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/platform/zuPlatformSignals.h"
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

constexpr u64 kMinLogBytes = 64 * 1024;
// One record's line at most (and never more than half the log's limit).
constexpr size_t kMaxRecordBytes = 256 * 1024;

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

// Calls onLine for each line of the open file from offset on, read in blocks;
// a line longer than kMaxRecordBytes is skipped. False when a read fails.
template <typename OnLine>
bool forEachLine(int fd, off_t offset, OnLine&& onLine) {
  std::string pending;
  bool skipping = false;
  char block[64 * 1024];
  for (;;) {
    const ssize_t n =
        store::retryOnSignal([&] { return ::pread(fd, block, sizeof block, offset); });
    if (n < 0) return false;
    if (n == 0) break;
    offset += n;
    std::string_view chunk(block, static_cast<size_t>(n));
    for (;;) {
      const size_t end = chunk.find('\n');
      if (end == std::string_view::npos) {
        if (!skipping) pending.append(chunk);
        if (pending.size() > kMaxRecordBytes) {
          pending.clear();
          skipping = true;
        }
        break;
      }
      if (!skipping) {
        pending.append(chunk.substr(0, end));
        onLine(std::string_view(pending));
      }
      pending.clear();
      skipping = false;
      chunk.remove_prefix(end + 1);
    }
  }
  if (!pending.empty() && !skipping) onLine(std::string_view(pending));
  return true;
}

// The record number of the log's last record, for a counter file that is
// lost: numbers ascend, so the last record that reads is the highest, and
// only the end of the file is read to find it.
u64 lastRecordNumber() {
  Fd log(::open(eventLogFile().c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!log.valid() || ::fstat(log.get(), &st) != 0) return 0;
  constexpr off_t kStep = 64 * 1024;
  for (off_t from = st.st_size; from > 0;) {
    from = from > kStep ? from - kStep : 0;
    u64 last = 0;
    bool first = from != 0;  // a line cut at the block's start may not be whole
    forEachLine(log.get(), from, [&](std::string_view line) {
      EventRecord record;
      if (!std::exchange(first, false) && parseRecord(line, record)) last = record.recordNumber;
    });
    if (last != 0) return last;
  }
  return 0;
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

// The log's size limit: the Application log key's MaxSize in bytes, as on
// Windows, or 20 MiB; never below kMinLogBytes.
u64 logSizeLimit() {
  store::RegKeyData key;
  if (store::readKey(store::childFolder("", {"SYSTEM", "CurrentControlSet", "Services", "EventLog",
                                             "Application"}),
                     key) != kErrorSuccess) {
    return kDefaultEventLogMaxSize;
  }
  const store::RegValue* value = key.find(kEventLogMaxSizeValue);
  u32 bytes = 0;
  if (!value || value->type != kRegDword || value->data.size() != 4) return kDefaultEventLogMaxSize;
  std::memcpy(&bytes, value->data.data(), 4);
  return std::max<u64>(bytes, kMinLogBytes);
}

// Overwrite as needed: when the next record would pass the limit, the oldest
// records go, down to three quarters of it, so trimming is rare. The kept
// tail is copied aside and renamed over the log under the lock. 0 or errno.
int makeRoom(int log, u64 limit, size_t incoming) {
  struct stat st {};
  if (::fstat(log, &st) != 0) return errno;
  const auto size = static_cast<u64>(st.st_size);
  if (size + incoming <= limit) return 0;
  const u64 keep = limit / 4 * 3 > incoming ? limit / 4 * 3 - incoming : 0;
  off_t from = static_cast<off_t>(size > keep ? size - keep : 0);
  // Start at a record's start: after the first line end at or past from.
  if (from > 0) {
    char c = 0;
    while (from < st.st_size && ::pread(log, &c, 1, from - 1) == 1 && c != '\n') ++from;
  }
  const std::string path = eventLogFile();
  const std::string temp = path + ".trim";
  Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!out.valid()) return errno;
  char block[64 * 1024];
  for (off_t at = from; at < st.st_size;) {
    const ssize_t n = store::retryOnSignal([&] { return ::pread(log, block, sizeof block, at); });
    if (n <= 0) break;
    if (!store::writeAll(out.get(), std::string_view(block, static_cast<size_t>(n)))) {
      const int err = errno;
      ::unlink(temp.c_str());
      return err;
    }
    at += n;
  }
  if (::fsync(out.get()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return err;
  }
  store::syncFolderOf(path);
  return 0;
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

// Under the counter lock (counter: its descriptor): numbers the record,
// makes room for it and appends it. 0 or a Windows error.
u32 appendRecord(int counter, const std::string& body) {
  u64 number = 0;
  if (!nextRecordNumber(counter, number)) return errorFromErrno(errno, kErrorGenFailure);
  std::string line = std::to_string(number) + '\t' + body;
  Fd log(::open(eventLogFile().c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!log.valid()) return errorFromErrno(errno, kErrorGenFailure);
  if (const int err = makeRoom(log.get(), logSizeLimit(), line.size() + 1); err != 0) {
    return errorFromErrno(err, kErrorGenFailure);
  }
  // After a trim the name holds the new file.
  log.reset(::open(eventLogFile().c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!log.valid()) return errorFromErrno(errno, kErrorGenFailure);
  // A record cut short by a crash gets its line ended, so it costs only itself.
  struct stat st {};
  char last = '\n';
  if (::fstat(log.get(), &st) == 0 && st.st_size > 0 &&
      ::pread(log.get(), &last, 1, st.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  if (!store::writeAll(log.get(), line)) return errorFromErrno(errno, kErrorGenFailure);
  return kErrorSuccess;
}

// Reports never wait for the counter lock, since a caller may hold its own
// locks (the log's) meanwhile: a record that finds the lock taken by another
// process, or earlier records still waiting, is queued in order and written
// by a thread of its own once the lock is free, as Windows' event log
// service takes reports and writes them later. The queue is bounded; past
// it a report fails with 32.
class RecordWriter {
 public:
  static RecordWriter& instance() {
    static RecordWriter writer;
    return writer;
  }

  u32 report(std::string body) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (queue_.empty()) {
      store::FileLock lock(counterFile());
      if (lock.tryLockExclusive()) return appendRecord(lock.fd(), body);
      if (lock.error() != EWOULDBLOCK) return lock.windowsError(kErrorGenFailure);
    }
    if (queuedBytes_ + body.size() > kMaxQueuedBytes) return kErrorSharingViolation;
    if (!started_) {
      try {
        thread_ = std::thread([this] { run(); });
        started_ = true;
      } catch (const std::system_error&) {
        return kErrorSharingViolation;
      }
    }
    queuedBytes_ += body.size();
    queue_.push_back(std::move(body));
    changed_.notify_all();
    return kErrorSuccess;
  }

  ~RecordWriter() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  // Its destructor still takes the counter lock for what is queued.
  RecordWriter() { store::prepareLocks(); }

  void run() {
    prepareCrashStack();
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      changed_.wait(hold, [&] { return quit_ || !queue_.empty(); });
      if (queue_.empty()) return;
      hold.unlock();
      store::FileLock lock(counterFile());
      const bool locked = lock.lockExclusive();  // bounded; said once when stuck
      hold.lock();
      if (locked) {
        for (; !queue_.empty(); queue_.pop_front()) {
          queuedBytes_ -= queue_.front().size();
          (void)appendRecord(lock.fd(), queue_.front());
        }
      } else if (quit_) {
        return;  // the process ends: what its holder kept from us is lost
      } else {
        changed_.wait_for(hold, std::chrono::seconds(1), [&] { return quit_; });
      }
    }
  }

  static constexpr size_t kMaxQueuedBytes = 1024 * 1024;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  size_t queuedBytes_ = 0;
  bool quit_ = false;
  bool started_ = false;
  std::thread thread_;
};

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
    return fail(errorFromErrno(err, kErrorGenFailure));
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::string body = std::to_string(now.tv_sec) + '\t' + std::to_string(type) + '\t' +
                     std::to_string(category) + '\t' + std::to_string(eventId) + '\t';
  appendEscaped(body, sourceName);
  body += '\t' + std::to_string(numStrings);
  for (u16 i = 0; i < numStrings; ++i) {
    body += '\t';
    appendEscaped(body, strings[i] ? strings[i] : "");
  }
  body += '\n';
  // Room for the number and its tab.
  if (body.size() + 21 > std::min<u64>(kMaxRecordBytes, logSizeLimit() / 2)) {
    return fail(kErrorInvalidParameter);
  }
  const u32 err = RecordWriter::instance().report(std::move(body));
  return err == kErrorSuccess ? true : fail(err);
}

bool deregisterEventSource(EventSourceHandle source) {
  SourceTable& table = sourceTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.sources.erase(source) == 1 ? true : fail(kErrorInvalidHandle);
}

std::string eventLogFile() { return store::joinPath(eventLogFolder(), "Application.evt"); }

bool forEachEventRecord(const std::function<void(const EventRecord&)>& onRecord) {
  Fd log(::open(eventLogFile().c_str(), O_RDONLY | O_CLOEXEC));
  if (!log.valid()) {
    if (errno == ENOENT) return true;
    return fail(errorFromErrno(errno, kErrorGenFailure));
  }
  const bool read = forEachLine(log.get(), 0, [&](std::string_view line) {
    EventRecord record;
    if (parseRecord(line, record)) onRecord(record);
  });
  return read ? true : fail(errorFromErrno(errno, kErrorGenFailure));
}

bool readEventLog(std::vector<EventRecord>& out) {
  out.clear();
  return forEachEventRecord([&](const EventRecord& record) { out.push_back(record); });
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
