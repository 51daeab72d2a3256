#include "loam/platform/zuPlatformService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformProcess.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "internal/zuPlatformRegistryStore.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/platform/zuPlatformSignals.h"
#include "internal/zuPlatformStore.h"

extern char** environ;

namespace zuPlatform {

namespace {

using store::Fd;

constexpr i64 kDefaultWaitBoundMs = 30000;
constexpr u32 kMaxServiceNameLength = 256;
constexpr size_t kMaxStartArgumentBytes = 60000;  // fits one control-socket message
constexpr u32 kHelloMagic = 0x5A555348;           // "ZUSH"
constexpr mode_t kRuntimeMode = 0700;
constexpr const char* kServiceSearchPath =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr ServiceStatusHandle kOwnStatusHandle = 0x5A55;

std::atomic<i64> g_waitBoundMs{kDefaultWaitBoundMs};

using Clock = std::chrono::steady_clock;

i64 msLeft(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

bool fail(u32 error) {
  setLastError(error);
  return false;
}

// A start lock that another process holds past the bound reads as a locked
// database, as Windows' own lock does.
u32 startLockError(int err) {
  return err == ETIMEDOUT ? kErrorServiceDatabaseLocked
                          : errorFromErrno(err, kErrorAccessDenied);
}

// --- names and places ------------------------------------------------------

u32 checkServiceName(const char* name) {
  if (!name || !*name) return kErrorInvalidName;
  const std::string_view text(name);
  if (text.size() > kMaxServiceNameLength || text.find_first_of("/\\") != std::string_view::npos ||
      store::escapeName(text).size() > 255) {
    return kErrorInvalidName;
  }
  return kErrorSuccess;
}

std::string servicesKeyFolder() {
  return store::childFolder("", {"SYSTEM", "CurrentControlSet", "Services"});
}

std::string serviceKeyFolder(const std::string& escaped) {
  return servicesKeyFolder() + "/" + escaped;
}

std::string runtimeFolder(const std::string& escaped) {
  return store::joinPath(store::joinPath(rootFolder(), "services"), escaped);
}

std::string runtimeFile(const std::string& escaped, std::string_view leaf) {
  return store::joinPath(runtimeFolder(escaped), leaf);
}

std::string workFolder() { return store::joinPath(rootFolder(), "work"); }

// --- configuration in the registry -----------------------------------------

struct ServiceConfig {
  std::string name;
  u32 type = 0;
  u32 start = 0;
  u32 errorControl = 0;
  std::string imagePath;
  std::string displayName;
  std::string objectName;
  std::vector<std::string> dependencies;
  bool deleteFlag = false;
};

bool dwordValue(const store::RegKeyData& key, std::string_view name, u32& out) {
  const store::RegValue* v = key.find(name);
  if (!v || v->type != kRegDword || v->data.size() != 4) return false;
  std::memcpy(&out, v->data.data(), 4);
  return true;
}

std::string stringValue(const store::RegKeyData& key, std::string_view name) {
  const store::RegValue* v = key.find(name);
  if (!v) return std::string();
  return v->data.substr(0, v->data.find('\0'));
}

std::vector<std::string> multiStringValue(const store::RegKeyData& key, std::string_view name) {
  std::vector<std::string> out;
  const store::RegValue* v = key.find(name);
  if (!v) return out;
  size_t pos = 0;
  while (pos < v->data.size()) {
    const size_t end = v->data.find('\0', pos);
    std::string item =
        v->data.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (item.empty()) break;
    out.push_back(std::move(item));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return out;
}

std::string dwordBytes(u32 value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::string stringBytes(std::string_view text) { return std::string(text) + '\0'; }

// 1060 when there is no such key or the key holds no service (only a Type
// value makes one: Services also holds keys such as EventLog's).
u32 loadConfig(const std::string& escaped, ServiceConfig& out,
               store::RegKeyData* keyOut = nullptr) {
  store::RegKeyData key;
  const u32 err = store::readKey(serviceKeyFolder(escaped), key);
  if (err == kErrorFileNotFound) return kErrorServiceDoesNotExist;
  if (err != kErrorSuccess) return err;
  out = ServiceConfig{};
  if (!dwordValue(key, "Type", out.type)) return kErrorServiceDoesNotExist;
  out.name = key.name;
  dwordValue(key, "Start", out.start);
  dwordValue(key, "ErrorControl", out.errorControl);
  out.imagePath = stringValue(key, "ImagePath");
  out.displayName = stringValue(key, "DisplayName");
  out.objectName = stringValue(key, "ObjectName");
  out.dependencies = multiStringValue(key, "DependOnService");
  u32 flag = 0;
  out.deleteFlag = dwordValue(key, "DeleteFlag", flag) && flag != 0;
  if (keyOut) *keyOut = std::move(key);
  return kErrorSuccess;
}

// --- status record ---------------------------------------------------------

constexpr std::string_view kStatusMagic = "zu-service-status 1";

std::string formatStatus(const ServiceStatusProcess& s) {
  std::string out(kStatusMagic);
  for (u32 v : {s.serviceType, s.currentState, s.controlsAccepted, s.win32ExitCode,
                s.serviceSpecificExitCode, s.checkPoint, s.waitHint, s.processId}) {
    out += ' ';
    out += std::to_string(v);
  }
  out += '\n';
  return out;
}

bool parseStatus(std::string_view text, ServiceStatusProcess& s) {
  if (text.substr(0, kStatusMagic.size()) != kStatusMagic) return false;
  size_t pos = kStatusMagic.size();
  u32* fields[] = {&s.serviceType,
                   &s.currentState,
                   &s.controlsAccepted,
                   &s.win32ExitCode,
                   &s.serviceSpecificExitCode,
                   &s.checkPoint,
                   &s.waitHint,
                   &s.processId};
  for (u32* field : fields) {
    if (pos >= text.size() || text[pos] != ' ') return false;
    ++pos;
    const auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), *field);
    if (ec != std::errc() || ptr == text.data() + pos) return false;
    pos = static_cast<size_t>(ptr - text.data());
  }
  return pos + 1 == text.size() && text[pos] == '\n';
}

int writeStatus(const std::string& escaped, const ServiceStatusProcess& s) {
  return store::writeFileAtomic(runtimeFile(escaped, "status"), formatStatus(s), 0644);
}

bool readRawStatus(const std::string& escaped, ServiceStatusProcess& s) {
  std::string text;
  if (store::readWholeFile(runtimeFile(escaped, "status"), text) != 0) return false;
  return parseStatus(text, s);
}

ServiceStatusProcess stoppedStatus(u32 win32ExitCode) {
  ServiceStatusProcess s;
  s.serviceType = kServiceWin32OwnProcess;
  s.currentState = kServiceStopped;
  s.win32ExitCode = win32ExitCode;
  return s;
}

// The status as a manager sees it. A record that is not STOPPED counts only
// while its process lives (holds the liveness lock) or a start is under way
// (holds the manager lock); otherwise the process died without reporting.
// holdingManagerLock: the caller holds the manager lock itself, so no start
// is under way.
ServiceStatusProcess effectiveStatus(const std::string& escaped, bool holdingManagerLock = false) {
  ServiceStatusProcess s;
  if (!readRawStatus(escaped, s)) return stoppedStatus(kErrorServiceNeverStarted);
  if (s.currentState == kServiceStopped) {
    s.processId = 0;
    return s;
  }
  if (store::isLockHeld(runtimeFile(escaped, "alive.lock")) ||
      (!holdingManagerLock && store::isLockHeld(runtimeFile(escaped, "manager.lock")))) {
    return s;
  }
  return stoppedStatus(kErrorProcessAborted);
}

ServiceStatus toStatus(const ServiceStatusProcess& s) {
  return ServiceStatus{
      s.serviceType, s.currentState, s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode,
      s.checkPoint,  s.waitHint};
}

// Removes a service marked for delete once it has stopped. True when it went.
bool reapIfMarked(const std::string& escaped, const ServiceConfig& config) {
  if (!config.deleteFlag || effectiveStatus(escaped).currentState != kServiceStopped) return false;
  store::RegistryLock lock;
  if (lock.error() != kErrorSuccess) return false;
  ServiceConfig again;
  if (loadConfig(escaped, again) != kErrorSuccess) return true;
  if (!again.deleteFlag) return false;
  if (store::deleteKeyTree(serviceKeyFolder(escaped)) != kErrorSuccess) return false;
  ::unlink(runtimeFile(escaped, "status").c_str());
  return true;
}

// --- handles ---------------------------------------------------------------

struct ScEntry {
  bool manager = false;
  u32 access = 0;
  std::string escaped;  // the service's folder name
};

struct ScTable {
  std::mutex mutex;
  std::unordered_map<ScHandle, ScEntry> entries;
  ScHandle next = 1;
};

ScTable& scTable() {
  static ScTable table;
  return table;
}

ScHandle addEntry(ScEntry entry) {
  ScTable& table = scTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  const ScHandle handle = table.next++;
  table.entries.emplace(handle, std::move(entry));
  return handle;
}

// Finds a handle of the wanted kind holding the wanted rights; sets the last
// error (6 or 5) when it does not.
bool lookupEntry(ScHandle handle, bool manager, u32 rights, ScEntry& out) {
  {
    ScTable& table = scTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.entries.find(handle);
    if (it == table.entries.end() || it->second.manager != manager) {
      return fail(kErrorInvalidHandle);
    }
    out = it->second;
  }
  if ((out.access & rights) != rights) return fail(kErrorAccessDenied);
  return true;
}

// --- Unix sockets ----------------------------------------------------------

// Fills addr for path; a path too long for sun_path goes through an open
// descriptor of its folder (kept in folder while the address is in use).
bool unixAddress(const std::string& path, sockaddr_un& addr, Fd& folder) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string usable = path;
  if (usable.size() >= sizeof addr.sun_path) {
    const size_t slash = path.rfind('/');
    folder.reset(::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return false;
    usable = "/proc/self/fd/" + std::to_string(folder.get()) + path.substr(slash);
    if (usable.size() >= sizeof addr.sun_path) {
      errno = ENAMETOOLONG;
      return false;
    }
  }
  std::memcpy(addr.sun_path, usable.c_str(), usable.size() + 1);
  return true;
}

// A listening SOCK_SEQPACKET socket at path, mode 0600. Invalid (errno set) on failure.
Fd listenUnix(const std::string& path) {
  Fd sock(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return sock;
  sockaddr_un addr{};
  Fd folder;
  if (!unixAddress(path, addr, folder)) return Fd();
  ::unlink(path.c_str());
  if (::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(sock.get(), 16) != 0) {
    const int err = errno;
    ::unlink(path.c_str());
    errno = err;
    return Fd();
  }
  return sock;
}

// Connects by the deadline: a full listen queue is waited on for the time
// left (the send time-out bounds a Unix connect) and never for ever. ETIMEDOUT
// when the deadline passed.
Fd connectUnix(const std::string& path, Clock::time_point deadline) {
  Fd sock(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return sock;
  sockaddr_un addr{};
  Fd folder;
  if (!unixAddress(path, addr, folder)) return Fd();
  for (;;) {
    const i64 left = msLeft(deadline);
    if (left <= 0) {
      errno = ETIMEDOUT;
      return Fd();
    }
    const timeval bound{static_cast<time_t>(left / 1000),
                        static_cast<suseconds_t>((left % 1000) * 1000)};
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0) return Fd();
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return sock;
    if (errno != EINTR && errno != EAGAIN) return Fd();
  }
}

bool sendMessage(int fd, const void* data, size_t size) {
  for (;;) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<size_t>(n) == size;
    if (errno != EINTR) return false;
  }
}

// One message into out (resized to what arrived); false on error or end.
bool receiveMessage(int fd, std::string& out, size_t maxSize) {
  out.resize(maxSize);
  for (;;) {
    const ssize_t n = ::recv(fd, out.data(), maxSize, 0);
    if (n > 0) {
      out.resize(static_cast<size_t>(n));
      return true;
    }
    if (n == 0 || errno != EINTR) return false;
  }
}

// The reply to a control: an error number and the status with the pid.
struct ControlReply {
  u32 error = 0;
  ServiceStatusProcess status;
};

// --- starting --------------------------------------------------------------

bool dependencyPresent(const std::string& name) {
  for (const char* system : kSystemServiceAllowList) {
    if (store::equalsNoCase(name, system)) return true;
  }
  if (checkServiceName(name.c_str()) != kErrorSuccess) return false;
  ServiceConfig config;
  return loadConfig(store::escapeName(name), config) == kErrorSuccess && !config.deleteFlag;
}

u32 spawnError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOEXEC:
    case ELIBBAD:
      return kErrorBadExeFormat;
    default:
      return errorFromErrno(err, kErrorGenFailure);
  }
}

// Runs the program in a session of its own, never through a shell.
int spawnService(const std::vector<std::string>& args, const std::string& escaped, pid_t& pid) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::error_code ec;
  const std::string root = std::filesystem::absolute(rootFolder(), ec).string();
  std::string env[] = {std::string("PATH=") + kServiceSearchPath, "ZU_PLATFORM_ROOT=" + root,
                       std::string(kServiceMarkerVariable) + "=" + escaped};
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string log = runtimeFile(escaped, "output.log");
  const std::string work = workFolder();

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (int err = posix_spawn_file_actions_init(&actions); err != 0) return err;
  if (int err = posix_spawnattr_init(&attr); err != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return err;
  }
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  int err = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (err == 0) {
    err = posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                           0600);
  }
  if (err == 0) err = posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (err == 0) err = posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
  if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (err == 0) {
    err = posix_spawnattr_setflags(
        &attr,
        static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  }
  if (err == 0) err = posix_spawnattr_setsigmask(&attr, &none);
  if (err == 0) err = posix_spawnattr_setsigdefault(&attr, &all);
  if (err == 0) err = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

// Waits for the started program's dispatcher to say hello on the start
// socket and answers with the service main's arguments. False when the
// program ended first or the bound passed.
bool awaitDispatcher(int listener, int pidfd, pid_t pid, const std::string& reply,
                     Clock::time_point deadline) {
  for (;;) {
    const i64 left = msLeft(deadline);
    if (left <= 0) return false;
    pollfd fds[2] = {{listener, POLLIN, 0}, {pidfd, POLLIN, 0}};
    const int rc = ::poll(fds, pidfd >= 0 ? 2 : 1, static_cast<int>(left));
    if (rc < 0 && errno != EINTR) return false;
    if (rc <= 0) continue;
    if (fds[0].revents & POLLIN) {
      Fd conn(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      if (!conn.valid()) continue;
      ucred cred{};
      socklen_t length = sizeof cred;
      if (::getsockopt(conn.get(), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
          cred.pid != pid) {
        continue;  // not the process we started
      }
      std::string hello;
      u32 magic = 0;
      if (store::waitReadable(conn.get(), msLeft(deadline)) != 1 ||
          !receiveMessage(conn.get(), hello, 16) || hello.size() != 4) {
        continue;
      }
      std::memcpy(&magic, hello.data(), 4);
      if (magic != kHelloMagic) continue;
      return sendMessage(conn.get(), reply.data(), reply.size());
    }
    if (pidfd >= 0 && (fds[1].revents & POLLIN)) return false;
  }
}

// A process that reported STOPPED may still be on its way out; wait for it
// (bounded) before starting another. 1056 when one is really running.
u32 waitForPreviousProcess(const std::string& escaped, Clock::time_point deadline) {
  const std::string aliveLock = runtimeFile(escaped, "alive.lock");
  for (;;) {
    if (!store::isLockHeld(aliveLock)) return kErrorSuccess;
    ServiceStatusProcess raw;
    if (!readRawStatus(escaped, raw) || raw.currentState != kServiceStopped || raw.processId == 0) {
      return kErrorServiceAlreadyRunning;
    }
    Fd pidfd(store::openPidfd(static_cast<pid_t>(raw.processId)));
    if (!pidfd.valid()) {
      // Gone already, unless something else holds its lock.
      if (errno != ESRCH || store::isLockHeld(aliveLock)) return kErrorServiceAlreadyRunning;
      return kErrorSuccess;
    }
    if (store::waitReadable(pidfd.get(), msLeft(deadline)) != 1) {
      return kErrorServiceAlreadyRunning;
    }
  }
}

// --- dispatcher ------------------------------------------------------------

// A control read from its connection, waiting for the handler's thread.
struct QueuedControl {
  Fd conn;
  u32 control = 0;
  Clock::time_point deadline;
};

struct Dispatcher {
  std::mutex mutex;
  std::condition_variable queueChanged;
  std::deque<QueuedControl> queue;
  bool quit = false;
  bool running = false;
  HandlerFunction handler = nullptr;
  ServiceStatusProcess status;
  std::string escaped;
  int stopEvent = -1;
};

Dispatcher& dispatcher() {
  static Dispatcher d;
  return d;
}

std::atomic<bool> g_dispatcherCalled{false};

bool isPending(u32 state) {
  return state == kServiceStartPending || state == kServiceStopPending ||
         state == kServiceContinuePending || state == kServicePausePending;
}

// Whether the service may take this control now, by Windows' rules.
u32 controlRefusal(u32 control, const ServiceStatusProcess& s, HandlerFunction handler) {
  if (control == kServiceControlInterrogate)
    return handler ? kErrorSuccess : kErrorServiceCannotAcceptControl;
  if (s.currentState == kServiceStopped) return kErrorServiceNotActive;
  if (isPending(s.currentState) || !handler) return kErrorServiceCannotAcceptControl;
  u32 needed = 0;
  switch (control) {
    case kServiceControlStop:
      needed = kServiceAcceptStop;
      break;
    case kServiceControlPause:
    case kServiceControlContinue:
      needed = kServiceAcceptPauseContinue;
      break;
    case kServiceControlShutdown:
      needed = kServiceAcceptShutdown;
      break;
    case kServiceControlParamChange:
      needed = kServiceAcceptParamChange;
      break;
    case kServiceControlNetBindAdd:
    case kServiceControlNetBindRemove:
    case kServiceControlNetBindEnable:
    case kServiceControlNetBindDisable:
      needed = kServiceAcceptNetBindChange;
      break;
    default:
      if (control >= kServiceControlUserFirst && control <= kServiceControlUserLast) {
        return kErrorSuccess;
      }
      return kErrorInvalidParameter;
  }
  return (s.controlsAccepted & needed) ? kErrorSuccess : kErrorInvalidServiceControl;
}

// At most this many controls wait for the handler or for their request; more
// stay in the listen queue, where their managers' bounded connects time out.
constexpr size_t kMaxPendingControls = 64;

void sendReply(int conn, const ControlReply& reply) { sendMessage(conn, &reply, sizeof reply); }

ControlReply replyNow(u32 error) {
  Dispatcher& d = dispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  return ControlReply{error, d.status};
}

// The handler's thread: takes the queued controls in order, runs the handler
// for those the service may take now and answers each. A stalled handler
// stalls only this thread; the dispatcher answers 1053 for what waits behind it.
void handleControls() {
  prepareCrashStack();
  Dispatcher& d = dispatcher();
  std::unique_lock<std::mutex> lock(d.mutex);
  for (;;) {
    d.queueChanged.wait(lock, [&] { return d.quit || !d.queue.empty(); });
    if (d.queue.empty()) return;
    QueuedControl item = std::move(d.queue.front());
    d.queue.pop_front();
    const HandlerFunction handler = d.handler;
    ControlReply reply;
    reply.error = d.quit ? kErrorServiceNotActive : controlRefusal(item.control, d.status, handler);
    if (reply.error == kErrorSuccess) {
      lock.unlock();
      handler(item.control);
      lock.lock();
    }
    reply.status = d.status;
    lock.unlock();
    sendReply(item.conn.get(), reply);
    item.conn.reset();
    lock.lock();
  }
}

// A connection whose request has not arrived yet.
struct Incoming {
  Fd conn;
  Clock::time_point deadline;
};

// Serves controls on the calling thread until STOPPED is reported. Every
// control has a deadline from its connect: one that sends nothing in time is
// dropped, one that the handler has not taken in time is answered 1053.
void serveControls(int listener, int stopEvent) {
  Dispatcher& d = dispatcher();
  std::vector<Incoming> incoming;
  std::vector<pollfd> fds;
  const auto bound = std::chrono::milliseconds(kDefaultWaitBoundMs);
  for (;;) {
    const auto now = Clock::now();
    Clock::time_point next = now + bound;
    std::vector<QueuedControl> expired;
    size_t queued = 0;
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      for (auto it = d.queue.begin(); it != d.queue.end();) {
        if (it->deadline <= now) {
          expired.push_back(std::move(*it));
          it = d.queue.erase(it);
        } else {
          next = std::min(next, it->deadline);
          ++it;
        }
      }
      queued = d.queue.size();
    }
    for (QueuedControl& item : expired) {
      sendReply(item.conn.get(), replyNow(kErrorServiceRequestTimeout));
    }
    std::erase_if(incoming, [&](const Incoming& in) { return in.deadline <= now; });
    for (const Incoming& in : incoming) next = std::min(next, in.deadline);

    fds.clear();
    fds.push_back({stopEvent, POLLIN, 0});
    const bool room = incoming.size() + queued < kMaxPendingControls;
    fds.push_back({room ? listener : -1, POLLIN, 0});
    for (const Incoming& in : incoming) fds.push_back({in.conn.get(), POLLIN, 0});
    const int rc = store::pollFor(fds, msLeft(next) + 1);
    if (rc < 0) return;
    if (fds[0].revents & POLLIN) return;
    if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    for (size_t i = incoming.size(); i-- > 0;) {
      if (fds[i + 2].revents == 0) continue;
      Incoming in = std::move(incoming[i]);
      incoming.erase(incoming.begin() + static_cast<std::ptrdiff_t>(i));
      std::string request;
      if (!receiveMessage(in.conn.get(), request, 16) || request.size() != 4) continue;
      QueuedControl item;
      std::memcpy(&item.control, request.data(), 4);
      item.conn = std::move(in.conn);
      item.deadline = in.deadline;
      {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.queue.push_back(std::move(item));
      }
      d.queueChanged.notify_one();
    }
    if (fds[1].revents & POLLIN) {
      Fd conn(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (conn.valid()) incoming.push_back(Incoming{std::move(conn), Clock::now() + bound});
    }
  }
}

// Says hello to the manager that started us and takes the service main's
// arguments from its answer.
bool helloManager(const std::string& escaped, std::vector<std::string>& args) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kDefaultWaitBoundMs);
  Fd sock = connectUnix(runtimeFile(escaped, "start.sock"), deadline);
  if (!sock.valid()) return false;
  const u32 magic = kHelloMagic;
  std::string reply;
  if (!sendMessage(sock.get(), &magic, sizeof magic) ||
      store::waitReadable(sock.get(), msLeft(deadline)) != 1 ||
      !receiveMessage(sock.get(), reply, kMaxStartArgumentBytes + 1024) || reply.empty() ||
      reply.back() != '\0') {
    return false;
  }
  args.clear();
  size_t pos = 0;
  while (pos < reply.size()) {
    const size_t end = reply.find('\0', pos);
    args.push_back(reply.substr(pos, end - pos));
    pos = end + 1;
  }
  return !args.empty();
}

void reportStoppedOnFailure(const std::string& escaped, u32 error) {
  ServiceStatusProcess s = stoppedStatus(error);
  s.processId = static_cast<u32>(::getpid());
  writeStatus(escaped, s);
}

}  // namespace

// --- manager side ------------------------------------------------------------

ScHandle openScManager(u32 access) {
  const int err = store::makeFolders(rootFolder(), 0755);
  if (err != 0) {
    setLastError(errorFromErrno(err, kErrorAccessDenied));
    return kScHandleNone;
  }
  return addEntry(ScEntry{true, access, std::string()});
}

ScHandle openService(ScHandle manager, const char* serviceName, u32 access) {
  ScEntry entry;
  if (!lookupEntry(manager, true, kScManagerConnect, entry)) return kScHandleNone;
  if (const u32 err = checkServiceName(serviceName); err != kErrorSuccess) {
    setLastError(err);
    return kScHandleNone;
  }
  const std::string escaped = store::escapeName(serviceName);
  store::removeLeftovers(serviceKeyFolder(escaped));
  ServiceConfig config;
  u32 err = loadConfig(escaped, config);
  if (err == kErrorSuccess && reapIfMarked(escaped, config)) err = kErrorServiceDoesNotExist;
  if (err != kErrorSuccess) {
    setLastError(err);
    return kScHandleNone;
  }
  return addEntry(ScEntry{false, access, escaped});
}

ScHandle createService(ScHandle manager, const char* serviceName, const char* displayName,
                       u32 access, u32 serviceType, u32 startType, u32 errorControl,
                       const char* binaryPathName, const char* dependencies,
                       const char* serviceStartName) {
  ScEntry entry;
  if (!lookupEntry(manager, true, kScManagerCreateService, entry)) return kScHandleNone;
  u32 err = checkServiceName(serviceName);
  if (err == kErrorSuccess && displayName && std::strlen(displayName) > kMaxServiceNameLength) {
    err = kErrorInvalidName;
  }
  if (err == kErrorSuccess &&
      (serviceType != kServiceWin32OwnProcess ||
       (startType != kServiceAutoStart && startType != kServiceDemandStart &&
        startType != kServiceDisabled) ||
       errorControl > kServiceErrorCritical || !binaryPathName || !*binaryPathName)) {
    err = kErrorInvalidParameter;
  }
  if (err != kErrorSuccess) {
    setLastError(err);
    return kScHandleNone;
  }
  std::string dependencyBlock;
  for (const char* p = dependencies; p && *p; p += std::strlen(p) + 1) {
    dependencyBlock += stringBytes(p);
  }
  if (!dependencyBlock.empty()) dependencyBlock += '\0';

  const std::string escaped = store::escapeName(serviceName);
  store::RegistryLock lock;
  if (lock.error() != kErrorSuccess) {
    setLastError(lock.error());
    return kScHandleNone;
  }
  ServiceConfig existing;
  if (loadConfig(escaped, existing) == kErrorSuccess) {
    if (!existing.deleteFlag) {
      setLastError(kErrorServiceExists);
      return kScHandleNone;
    }
    if (effectiveStatus(escaped).currentState != kServiceStopped) {
      setLastError(kErrorServiceMarkedForDelete);
      return kScHandleNone;
    }
    store::deleteKeyTree(serviceKeyFolder(escaped));
  }
  std::string folder;
  bool created = false;
  err = store::createKeys("", {"SYSTEM", "CurrentControlSet", "Services", serviceName}, folder,
                          created);
  store::RegKeyData key;
  if (err == kErrorSuccess) err = store::readKey(folder, key);
  if (err == kErrorSuccess) {
    key.set("Type", kRegDword, dwordBytes(serviceType));
    key.set("Start", kRegDword, dwordBytes(startType));
    key.set("ErrorControl", kRegDword, dwordBytes(errorControl));
    key.set("ImagePath", kRegExpandSz, stringBytes(binaryPathName));
    key.set("DisplayName", kRegSz, stringBytes(displayName ? displayName : serviceName));
    key.set("ObjectName", kRegSz,
            stringBytes(serviceStartName ? serviceStartName : kLocalSystemAccount));
    if (!dependencyBlock.empty()) key.set("DependOnService", kRegMultiSz, dependencyBlock);
    err = store::writeKey(folder, key);
  }
  if (err != kErrorSuccess) {
    setLastError(err);
    return kScHandleNone;
  }
  ::unlink(runtimeFile(escaped, "status").c_str());
  return addEntry(ScEntry{false, access, escaped});
}

bool deleteService(ScHandle service) {
  ScEntry entry;
  if (!lookupEntry(service, false, kDelete, entry)) return false;
  const std::string runtime = runtimeFolder(entry.escaped);
  if (const int err = store::makeFolders(runtime, kRuntimeMode); err != 0) {
    return fail(errorFromErrno(err, kErrorAccessDenied));
  }
  // Not while a start is under way.
  store::FileLock managerLock(runtimeFile(entry.escaped, "manager.lock"));
  if (!managerLock.lockExclusive()) return fail(startLockError(managerLock.error()));
  store::RegistryLock lock;
  if (lock.error() != kErrorSuccess) return fail(lock.error());
  ServiceConfig config;
  store::RegKeyData key;
  const u32 err = loadConfig(entry.escaped, config, &key);
  if (err == kErrorServiceDoesNotExist || config.deleteFlag) {
    return fail(kErrorServiceMarkedForDelete);
  }
  if (err != kErrorSuccess) return fail(err);
  // A stopped service goes at once; a running one keeps its key, marked, until it stops.
  if (effectiveStatus(entry.escaped, true).currentState == kServiceStopped) {
    const u32 deleteErr = store::deleteKeyTree(serviceKeyFolder(entry.escaped));
    if (deleteErr != kErrorSuccess) return fail(deleteErr);
    ::unlink(runtimeFile(entry.escaped, "status").c_str());
    return true;
  }
  key.set("DeleteFlag", kRegDword, dwordBytes(1));
  const u32 writeErr = store::writeKey(serviceKeyFolder(entry.escaped), key);
  return writeErr == kErrorSuccess ? true : fail(writeErr);
}

bool queryServiceStatusEx(ScHandle service, ServiceStatusProcess* status) {
  ScEntry entry;
  if (!lookupEntry(service, false, kServiceQueryStatus, entry)) return false;
  if (!status) return fail(kErrorInvalidParameter);
  *status = effectiveStatus(entry.escaped);
  return true;
}

bool queryServiceStatus(ScHandle service, ServiceStatus* status) {
  ServiceStatusProcess full;
  if (!queryServiceStatusEx(service, status ? &full : nullptr)) return false;
  *status = toStatus(full);
  return true;
}

bool queryServiceConfig(ScHandle service, QueryServiceConfig* buffer, u32 bufSize,
                        u32* bytesNeeded) {
  ScEntry entry;
  if (!lookupEntry(service, false, kServiceQueryConfig, entry)) return false;
  if (!bytesNeeded) return fail(kErrorInvalidParameter);
  ServiceConfig config;
  const u32 err = loadConfig(entry.escaped, config);
  if (err == kErrorServiceDoesNotExist) return fail(kErrorServiceMarkedForDelete);
  if (err != kErrorSuccess) return fail(err);

  std::string dependencyBlock;
  for (const std::string& d : config.dependencies) dependencyBlock += stringBytes(d);
  dependencyBlock += '\0';
  const std::string texts[] = {stringBytes(config.imagePath), stringBytes(""), dependencyBlock,
                               stringBytes(config.objectName), stringBytes(config.displayName)};
  size_t needed = sizeof(QueryServiceConfig);
  for (const std::string& t : texts) needed += t.size();
  *bytesNeeded = static_cast<u32>(needed);
  if (!buffer || bufSize < needed) return fail(kErrorInsufficientBuffer);
  if (reinterpret_cast<std::uintptr_t>(buffer) % alignof(QueryServiceConfig) != 0) {
    return fail(kErrorInvalidParameter);
  }
  char* cursor = reinterpret_cast<char*>(buffer) + sizeof(QueryServiceConfig);
  char* places[5] = {};
  for (size_t i = 0; i < 5; ++i) {
    places[i] = cursor;
    std::memcpy(cursor, texts[i].data(), texts[i].size());
    cursor += texts[i].size();
  }
  buffer->serviceType = config.type;
  buffer->startType = config.start;
  buffer->errorControl = config.errorControl;
  buffer->binaryPathName = places[0];
  buffer->loadOrderGroup = places[1];
  buffer->tagId = 0;
  buffer->dependencies = places[2];
  buffer->serviceStartName = places[3];
  buffer->displayName = places[4];
  return true;
}

namespace {

// The configuration of a service that may be started now, with its program
// and arguments; else the error of why not.
u32 loadStartable(const std::string& escaped, ServiceConfig& config,
                  std::vector<std::string>& args) {
  const u32 err = loadConfig(escaped, config);
  if (err == kErrorServiceDoesNotExist) return kErrorServiceMarkedForDelete;
  if (err != kErrorSuccess) return err;
  if (config.deleteFlag) return kErrorServiceMarkedForDelete;
  if (config.start == kServiceDisabled) return kErrorServiceDisabled;
  for (const std::string& dependency : config.dependencies) {
    if (!dependencyPresent(dependency)) return kErrorServiceDependencyDeleted;
  }
  args = parseImagePath(config.imagePath);
  if (args.empty() || args[0].empty() || args[0][0] != '/') return kErrorFileNotFound;
  return kErrorSuccess;
}

}  // namespace

bool startService(ScHandle service, u32 argc, const char* const* argv) {
  ScEntry entry;
  if (!lookupEntry(service, false, kServiceStart, entry)) return false;
  if (argc > 0 && !argv) return fail(kErrorInvalidParameter);
  ServiceConfig config;
  std::vector<std::string> args;
  u32 err = loadStartable(entry.escaped, config, args);
  if (err != kErrorSuccess) return fail(err);

  // The service main's arguments: the service name, then the caller's.
  std::string reply = stringBytes(config.name);
  for (u32 i = 0; i < argc; ++i) reply += stringBytes(argv[i] ? argv[i] : "");
  if (reply.size() > kMaxStartArgumentBytes) return fail(kErrorInvalidParameter);

  const std::string runtime = runtimeFolder(entry.escaped);
  int folderErr = store::makeFolders(runtime, kRuntimeMode);
  if (folderErr == 0) folderErr = store::makeFolders(workFolder(), 0755);
  if (folderErr != 0) return fail(errorFromErrno(folderErr, kErrorAccessDenied));

  const auto deadline = Clock::now() + std::chrono::milliseconds(g_waitBoundMs.load());
  // One start at a time per service, in any process.
  store::FileLock managerLock(runtimeFile(entry.escaped, "manager.lock"));
  if (!managerLock.lockExclusive()) return fail(startLockError(managerLock.error()));
  // A delete or change may have come while we waited: start what is there now.
  err = loadStartable(entry.escaped, config, args);
  if (err != kErrorSuccess) return fail(err);
  reply = stringBytes(config.name);
  for (u32 i = 0; i < argc; ++i) reply += stringBytes(argv[i] ? argv[i] : "");
  if (reply.size() > kMaxStartArgumentBytes) return fail(kErrorInvalidParameter);
  err = waitForPreviousProcess(entry.escaped, deadline);
  if (err != kErrorSuccess) return fail(err);

  const std::string startSocket = runtimeFile(entry.escaped, "start.sock");
  Fd listener = listenUnix(startSocket);
  if (!listener.valid()) return fail(errorFromErrno(errno, kErrorGenFailure));
  ServiceStatusProcess pending;
  pending.serviceType = kServiceWin32OwnProcess;
  pending.currentState = kServiceStartPending;
  pending.waitHint = static_cast<u32>(g_waitBoundMs.load());
  if (const int statusErr = writeStatus(entry.escaped, pending); statusErr != 0) {
    ::unlink(startSocket.c_str());
    return fail(errorFromErrno(statusErr, kErrorGenFailure));
  }

  pid_t pid = 0;
  if (const int spawnErr = spawnService(args, entry.escaped, pid); spawnErr != 0) {
    ::unlink(startSocket.c_str());
    writeStatus(entry.escaped, stoppedStatus(spawnError(spawnErr)));
    return fail(spawnError(spawnErr));
  }
  // Every signal to the child goes through its pidfd; without one it is
  // left alone (its dispatcher finds no start socket and ends itself).
  Fd pidfd(store::openPidfd(pid));
  if (!pidfd.valid()) {
    const u32 pidfdErr = errorFromErrno(errno, kErrorGenFailure);
    store::logPlatformFault("Service " + entry.escaped + ": no pidfd for process " +
                            std::to_string(pid) + ", " + std::strerror(errno) +
                            "; it is not waited for");
    ::unlink(startSocket.c_str());
    writeStatus(entry.escaped, stoppedStatus(pidfdErr));
    return fail(pidfdErr);
  }

  const bool connected = awaitDispatcher(listener.get(), pidfd.get(), pid, reply, deadline);
  listener.reset();
  ::unlink(startSocket.c_str());
  if (!connected) {
    // Not reaped yet, so the group is still the child's.
    store::killGroupByPidfd(pidfd.get(), pid);
    store::waitReadable(pidfd.get(), kDefaultWaitBoundMs);
  }
  // The program is our child until we end: the reaper reaps it when it ends,
  // so it never lingers as a zombie of a long-lived starter.
  closeProcess(pidfd.release());
  if (connected) return true;
  writeStatus(entry.escaped, stoppedStatus(kErrorServiceRequestTimeout));
  return fail(kErrorServiceRequestTimeout);
}

bool controlService(ScHandle service, u32 control, ServiceStatus* status) {
  u32 right = 0;
  if (control == kServiceControlStop) {
    right = kServiceStop;
  } else if (control == kServiceControlPause || control == kServiceControlContinue ||
             (control >= kServiceControlParamChange && control <= kServiceControlNetBindDisable)) {
    right = kServicePauseContinue;
  } else if (control == kServiceControlInterrogate) {
    right = kServiceInterrogate;
  } else if (control >= kServiceControlUserFirst && control <= kServiceControlUserLast) {
    right = kServiceUserDefinedControl;
  }
  ScEntry entry;
  if (!lookupEntry(service, false, right, entry)) return false;
  if (control == kServiceControlShutdown) return fail(kErrorInvalidServiceControl);
  if (right == 0) return fail(kErrorInvalidParameter);
  if (!status) return fail(kErrorInvalidParameter);

  *status = toStatus(effectiveStatus(entry.escaped));
  if (status->currentState == kServiceStopped) return fail(kErrorServiceNotActive);
  // One deadline for the whole exchange: connect, send and answer.
  const auto deadline = Clock::now() + std::chrono::milliseconds(g_waitBoundMs.load());
  Fd sock = connectUnix(runtimeFile(entry.escaped, "control.sock"), deadline);
  if (!sock.valid() && errno == ETIMEDOUT) return fail(kErrorServiceRequestTimeout);
  std::string answer;
  const bool sent = sock.valid() && sendMessage(sock.get(), &control, sizeof control);
  const int ready = sent ? store::waitReadable(sock.get(), msLeft(deadline)) : -1;
  if (ready == 0) return fail(kErrorServiceRequestTimeout);
  if (ready < 0 || !receiveMessage(sock.get(), answer, sizeof(ControlReply) + 1) ||
      answer.size() != sizeof(ControlReply)) {
    // No channel (yet, or any more): the state says which.
    *status = toStatus(effectiveStatus(entry.escaped));
    return fail(status->currentState == kServiceStopped ? kErrorServiceNotActive
                                                        : kErrorServiceCannotAcceptControl);
  }
  ControlReply reply;
  std::memcpy(&reply, answer.data(), sizeof reply);
  *status = toStatus(reply.status);
  return reply.error == kErrorSuccess ? true : fail(reply.error);
}

bool closeServiceHandle(ScHandle handle) {
  ScTable& table = scTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.entries.erase(handle) == 1 ? true : fail(kErrorInvalidHandle);
}

std::vector<std::string> parseImagePath(std::string_view text) {
  return splitCommandLine(std::string(text));
}

void setServiceWaitBoundForTest(std::optional<std::chrono::milliseconds> bound) {
  g_waitBoundMs = bound ? bound->count() : kDefaultWaitBoundMs;
}

// --- service side ------------------------------------------------------------

bool startServiceCtrlDispatcher(const ServiceTableEntry* table) {
  if (!table || !table[0].serviceName || !table[0].serviceProc) {
    return fail(kErrorInvalidParameter);
  }
  const char* marker = std::getenv(kServiceMarkerVariable);
  if (!marker || !store::isEscapedName(marker)) return fail(kErrorFailedServiceControllerConnect);
  if (g_dispatcherCalled.exchange(true)) return fail(kErrorServiceAlreadyRunning);
  const std::string escaped = marker;
  ::unsetenv(kServiceMarkerVariable);

  // Held until the process ends: a manager that can take it knows we are gone.
  store::FileLock alive(runtimeFile(escaped, "alive.lock"));
  if (!alive.lockExclusive()) {
    return fail(errorFromErrno(alive.error(), kErrorFailedServiceControllerConnect));
  }
  (void)alive.releaseFd();

  const std::string controlSocket = runtimeFile(escaped, "control.sock");
  Fd listener = listenUnix(controlSocket);
  Fd stopEvent(::eventfd(0, EFD_CLOEXEC));
  if (!listener.valid() || !stopEvent.valid()) {
    const u32 err = errorFromErrno(errno, kErrorGenFailure);
    reportStoppedOnFailure(escaped, err);
    return fail(err);
  }
  Dispatcher& d = dispatcher();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.escaped = escaped;
    d.status = ServiceStatusProcess{};
    d.status.serviceType = kServiceWin32OwnProcess;
    d.status.currentState = kServiceStartPending;
    d.status.processId = static_cast<u32>(::getpid());
    d.stopEvent = stopEvent.get();
    d.running = true;
    writeStatus(escaped, d.status);
  }
  const auto endDispatcher = [&] {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.running = false;
    d.handler = nullptr;
    d.stopEvent = -1;
  };

  std::vector<std::string> args;
  if (!helloManager(escaped, args)) {
    endDispatcher();
    listener.reset();
    ::unlink(controlSocket.c_str());
    reportStoppedOnFailure(escaped, kErrorFailedServiceControllerConnect);
    return fail(kErrorFailedServiceControllerConnect);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const ServiceMainFunction serviceMain = table[0].serviceProc;
  std::thread handlerThread;
  std::thread mainThread;
  try {
    handlerThread = std::thread(handleControls);
    mainThread = std::thread([serviceMain, &argv] {
      prepareCrashStack();
      serviceMain(static_cast<u32>(argv.size() - 1), argv.data());
    });
  } catch (const std::system_error&) {
    if (handlerThread.joinable()) {
      {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.quit = true;
      }
      d.queueChanged.notify_all();
      handlerThread.join();
    }
    endDispatcher();
    listener.reset();
    ::unlink(controlSocket.c_str());
    reportStoppedOnFailure(escaped, kErrorServiceNoThread);
    return fail(kErrorServiceNoThread);
  }
  serveControls(listener.get(), stopEvent.get());
  listener.reset();
  ::unlink(controlSocket.c_str());
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.quit = true;
  }
  d.queueChanged.notify_all();
  handlerThread.join();
  mainThread.join();
  endDispatcher();
  return true;
}

ServiceStatusHandle registerServiceCtrlHandler(const char* serviceName, HandlerFunction handler) {
  (void)serviceName;  // one service per process: the name is not needed to find it
  if (!handler) {
    setLastError(kErrorInvalidParameter);
    return kServiceStatusHandleNone;
  }
  Dispatcher& d = dispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.running) {
    setLastError(kErrorServiceDoesNotExist);
    return kServiceStatusHandleNone;
  }
  d.handler = handler;
  return kOwnStatusHandle;
}

bool setServiceStatus(ServiceStatusHandle handle, const ServiceStatus* status) {
  if (handle != kOwnStatusHandle) return fail(kErrorInvalidHandle);
  if (!status) return fail(kErrorInvalidParameter);
  if (status->currentState < kServiceStopped || status->currentState > kServicePaused) {
    return fail(kErrorInvalidData);
  }
  Dispatcher& d = dispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.running) return fail(kErrorInvalidHandle);
  const u32 pid = d.status.processId;
  d.status = ServiceStatusProcess{status->serviceType,
                                  status->currentState,
                                  status->controlsAccepted,
                                  status->win32ExitCode,
                                  status->serviceSpecificExitCode,
                                  status->checkPoint,
                                  status->waitHint,
                                  pid,
                                  0};
  const int err = writeStatus(d.escaped, d.status);
  if (status->currentState == kServiceStopped) {
    const u64 one = 1;
    (void)!::write(d.stopEvent, &one, sizeof one);
  }
  return err == 0 ? true : fail(errorFromErrno(err, kErrorGenFailure));
}

}  // namespace zuPlatform
