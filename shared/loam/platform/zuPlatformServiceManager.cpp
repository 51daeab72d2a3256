// The manager's side of the service control manager: handles, install,
// delete, queries, start (spawn and hand-shake) and controls.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "internal/zuPlatformServiceParts.h"
#include "internal/zuPlatformSpawn.h"
#include "loam/platform/zuPlatformProcess.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformRoot.h"

namespace zuPlatform {

using namespace service;

namespace {

using store::Fd;

constexpr mode_t kRuntimeMode = 0700;
constexpr const char* kServiceSearchPath =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::atomic<i64> g_waitBoundMs{kDefaultWaitBoundMs};

// A start lock that another process holds past the bound reads as a locked
// database, as Windows' own lock does.
u32 startLockError(int err) {
  return err == ETIMEDOUT ? kErrorServiceDatabaseLocked : errorFromErrno(err, kErrorAccessDenied);
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

// --- starting --------------------------------------------------------------

bool dependencyPresent(const std::string& name) {
  for (const char* system : kSystemServiceAllowList) {
    if (store::equalsNoCase(name, system)) return true;
  }
  if (checkServiceName(name.c_str()) != kErrorSuccess) return false;
  ServiceConfig config;
  return loadConfig(store::escapeName(name), config) == kErrorSuccess && !config.deleteFlag;
}

// StartService reports a program it cannot reach as 2, whichever part of its
// path is missing (CreateProcess would say 3 for a missing folder).
u32 spawnError(int err) {
  return err == ENOTDIR ? kErrorFileNotFound : spawn::spawnErrorFromErrno(err);
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

  spawn::SpawnSetup setup;
  setup.openStandard(0, "/dev/null", O_RDONLY, 0);
  setup.openStandard(1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  setup.copyStandard(1, 2);
  setup.workingFolder(work.c_str());
  return setup.spawn(pid, argv.data(), envp.data(), false);
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
    const int rc = store::pollFor(std::span<pollfd>(fds, pidfd >= 0 ? 2 : 1), left);
    if (rc < 0) return false;
    if (rc == 0) continue;
    if (fds[0].revents & POLLIN) {
      Fd conn = acceptUnix(listener, false);
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
    if (const u32 deleteErr = store::deleteKeyTree(serviceKeyFolder(escaped));
        deleteErr != kErrorSuccess) {
      setLastError(deleteErr);
      return kScHandleNone;
    }
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

bool startService(ScHandle service, u32 argc, const char* const* argv) {
  ScEntry entry;
  if (!lookupEntry(service, false, kServiceStart, entry)) return false;
  if (argc > 0 && !argv) return fail(kErrorInvalidParameter);
  ServiceConfig config;
  std::vector<std::string> args;
  // The service main's arguments: the service name, then the caller's.
  std::string reply;
  const auto startArguments = [&] {
    reply = stringBytes(config.name);
    for (u32 i = 0; i < argc; ++i) reply += stringBytes(argv[i] ? argv[i] : "");
    return reply.size() > kMaxStartArgumentBytes ? kErrorInvalidParameter : kErrorSuccess;
  };
  u32 err = loadStartable(entry.escaped, config, args);
  if (err == kErrorSuccess) err = startArguments();
  if (err != kErrorSuccess) return fail(err);

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
  if (err == kErrorSuccess) err = startArguments();
  if (err == kErrorSuccess) err = waitForPreviousProcess(entry.escaped, deadline);
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
    // Best effort: the caller learns the error either way.
    (void)writeStatus(entry.escaped, stoppedStatus(spawnError(spawnErr)));
    return fail(spawnError(spawnErr));
  }
  // Every signal to the child goes through its pidfd; without one it is
  // left alone (its dispatcher finds no start socket and ends itself).
  Fd pidfd(store::openPidfd(pid));
  if (!pidfd.valid()) {
    const int pidfdErrno = errno;
    const u32 pidfdErr = errorFromErrno(pidfdErrno, kErrorGenFailure);
    store::logPlatformFault("Service " + entry.escaped + ": no pidfd for process " +
                            std::to_string(pid) + ", " + std::strerror(pidfdErrno) +
                            "; it is not waited for");
    ::unlink(startSocket.c_str());
    (void)writeStatus(entry.escaped, stoppedStatus(pidfdErr));
    return fail(pidfdErr);
  }

  const bool connected = awaitDispatcher(listener.get(), pidfd.get(), pid, reply, deadline);
  listener.reset();
  ::unlink(startSocket.c_str());
  if (!connected) {
    // Not reaped yet, so the group is still the child's.
    store::killGroupByPidfd(pidfd.get(), pid);
    (void)store::waitReadable(pidfd.get(), kDefaultWaitBoundMs);  // its death, bounded
  }
  // The program is our child until we end: the reaper reaps it when it ends,
  // so it never lingers as a zombie of a long-lived starter.
  closeProcess(pidfd.release());
  if (connected) return true;
  (void)writeStatus(entry.escaped, stoppedStatus(kErrorServiceRequestTimeout));
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

bool enumServicesStatusEx(ScHandle manager, std::vector<EnumServiceStatusProcess>& out) {
  ScEntry entry;
  if (!lookupEntry(manager, true, kScManagerEnumerateService, entry)) return false;
  out.clear();
  const std::string folder = store::joinPath(
      store::hiveFolder(), store::childFolder("", {"SYSTEM", "CurrentControlSet", "Services"}));
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    // No service was ever installed under this root.
    return ec == std::errc::no_such_file_or_directory
               ? true
               : fail(errorFromErrno(ec.value(), kErrorAccessDenied));
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string escaped = it->path().filename().string();
    // Leftovers of writers and the key's own file are not keys.
    if (!store::isEscapedName(escaped) || !it->is_directory(ec)) continue;
    ServiceConfig config;
    if (loadConfig(escaped, config) != kErrorSuccess || reapIfMarked(escaped, config)) continue;
    out.push_back({config.name, config.displayName, effectiveStatus(escaped)});
  }
  if (ec) return fail(errorFromErrno(ec.value(), kErrorGenFailure));
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    return store::lowerAsciiCopy(a.serviceName) < store::lowerAsciiCopy(b.serviceName);
  });
  return true;
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

}  // namespace zuPlatform
