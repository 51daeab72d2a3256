// The service's side of the service control manager: the control
// dispatcher, the handler registration and status reports.
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "internal/zuPlatformServiceParts.h"
#include "loam/platform/zuPlatformSignals.h"

namespace zuPlatform {

using namespace service;

namespace {

using store::Fd;

constexpr ServiceStatusHandle kOwnStatusHandle = 0x5A55;

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

// A manager that gave up has closed its end; nothing is owed to it then.
void sendReply(int conn, const ControlReply& reply) {
  (void)sendMessage(conn, &reply, sizeof reply);
}

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
      Fd conn = acceptUnix(listener, true);
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
  (void)writeStatus(escaped, s);  // the failure being reported is the one that counts
}

}  // namespace

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
    // Until it is written managers see the start pending from the manager's record.
    (void)writeStatus(escaped, d.status);
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
