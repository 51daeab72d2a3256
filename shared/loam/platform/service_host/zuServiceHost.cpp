#include "loam/platform/service_host/zuServiceHost.h"

#include <algorithm>
#include <functional>
#include <memory>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/platform/zuPlatformWait.h"

namespace zp = zuPlatform;

namespace {

using Clock = std::chrono::steady_clock;

// How often a pending service's status is read.
constexpr u32 kPollIntervalMs = 50;
constexpr u32 kErrorServiceDependencyFail = 1068;
constexpr u32 kErrorCircularDependency = 1059;
// The message table's event whose text is its one insertion string.
constexpr u32 kEventText = 109;

// A service handle closed when it goes.
class ScopedService {
 public:
  ScopedService(zp::ScHandle manager, const std::string& name, u32 access)
      : handle_(zp::openService(manager, name.c_str(), access)) {}
  ~ScopedService() {
    if (handle_ != zp::kScHandleNone) zp::closeServiceHandle(handle_);
  }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;
  zp::ScHandle get() const { return handle_; }

 private:
  zp::ScHandle handle_;
};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

// The index of the installed service of that name; services.size() when none.
template <class List>
size_t findService(const List& services, const std::string& name) {
  for (size_t i = 0; i < services.size(); ++i) {
    if (sameName(services[i].name, name)) return i;
  }
  return services.size();
}

u32 stepWaitMs(const zp::ServiceStatus& status) {
  return status.waitHint == 0 ? zuServiceHost::kMaxWaitHintMs
                              : std::min(status.waitHint, zuServiceHost::kMaxWaitHintMs);
}

std::string theService(const std::string& name) { return "The " + name + " service"; }

}  // namespace

zuServiceHost::zuServiceHost(std::ostream& out, zp::Handle stopEvent)
    : out_(out), stopEvent_(stopEvent) {
  manager_ = zp::openScManager(zp::kScManagerAllAccess);
  eventSource_ = zp::registerEventSource(kEventSource);
}

zuServiceHost::~zuServiceHost() {
  if (manager_ != zp::kScHandleNone) zp::closeServiceHandle(manager_);
  if (eventSource_ != zp::kEventSourceNone) zp::deregisterEventSource(eventSource_);
}

void zuServiceHost::note(const std::string& line) {
  out_ << line << std::endl;
  const char* strings[] = {line.c_str()};
  (void)zp::reportEvent(eventSource_, zp::kEventLogInformationType, 0, kEventText, 1, strings);
}

void zuServiceHost::failure(const std::string& line) {
  out_ << line << std::endl;
  const char* strings[] = {line.c_str()};
  if (!zp::reportEvent(eventSource_, zp::kEventLogErrorType, 0, kEventText, 1, strings)) {
    out_ << "The event log did not take that line: error " << zp::getLastError() << "."
         << std::endl;
  }
}

bool zuServiceHost::stopRequested() const {
  return zp::isValidHandle(stopEvent_) && zp::waitForOne(stopEvent_, 0);
}

bool zuServiceHost::loadServices(std::vector<Service>& out) {
  out.clear();
  std::vector<zp::EnumServiceStatusProcess> listed;
  if (manager_ == zp::kScHandleNone || !zp::enumServicesStatusEx(manager_, listed)) {
    failure("The service database under the platform root cannot be read: error " +
            std::to_string(zp::getLastError()) + ".");
    return false;
  }
  for (const zp::EnumServiceStatusProcess& entry : listed) {
    ScopedService handle(manager_, entry.serviceName, zp::kServiceQueryConfig);
    u32 needed = 0;
    (void)zp::queryServiceConfig(handle.get(), nullptr, 0, &needed);
    std::vector<zp::QueryServiceConfig> buffer(needed / sizeof(zp::QueryServiceConfig) + 1);
    const u32 size = static_cast<u32>(buffer.size() * sizeof(zp::QueryServiceConfig));
    if (!zp::queryServiceConfig(handle.get(), buffer.data(), size, &needed)) {
      continue;  // deleted since the list was made
    }
    Service service;
    service.name = entry.serviceName;
    service.startType = buffer[0].startType;
    service.status = entry.status;
    for (const char* p = buffer[0].dependencies; p && *p;
         p += std::char_traits<char>::length(p) + 1) {
      service.dependencies.emplace_back(p);
    }
    out.push_back(std::move(service));
  }
  return true;
}

std::vector<size_t> zuServiceHost::startOrder(const std::vector<Service>& services,
                                              std::vector<bool>& cyclic) {
  enum Mark { kUnseen, kVisiting, kDone };
  std::vector<Mark> marks(services.size(), kUnseen);
  cyclic.assign(services.size(), false);
  std::vector<size_t> order;
  const std::function<void(size_t)> visit = [&](size_t i) {
    marks[i] = kVisiting;
    for (const std::string& dependency : services[i].dependencies) {
      const size_t d = findService(services, dependency);
      if (d == services.size()) continue;  // "tcpip", or missing: the start says so
      if (marks[d] == kVisiting) {
        cyclic[i] = true;
      } else if (marks[d] == kUnseen) {
        visit(d);
      }
    }
    marks[i] = kDone;
    order.push_back(i);
  };
  for (size_t i = 0; i < services.size(); ++i) {
    if (services[i].startType == zp::kServiceAutoStart && marks[i] == kUnseen) visit(i);
  }
  return order;
}

u32 zuServiceHost::boot() {
  std::vector<Service> services;
  if (!loadServices(services)) return 1;
  std::vector<bool> cyclic;
  const std::vector<size_t> order = startOrder(services, cyclic);
  std::vector<bool> running(services.size(), false);
  u32 failed = 0;
  for (const size_t i : order) {
    if (stopRequested()) {
      out_ << "Boot cut short by a stop request." << std::endl;
      break;
    }
    const Service& service = services[i];
    if (cyclic[i]) {
      failure(theService(service.name) + " depends on itself through its dependencies: error " +
              std::to_string(kErrorCircularDependency) + ".");
      ++failed;
      continue;
    }
    const auto missing =
        std::find_if(service.dependencies.begin(), service.dependencies.end(), [&](const auto& d) {
          const size_t at = findService(services, d);
          return at != services.size() && !running[at];
        });
    if (missing != service.dependencies.end()) {
      failure(theService(service.name) + " depends on the " + *missing +
              " service, which did not start: error " +
              std::to_string(kErrorServiceDependencyFail) + ".");
      ++failed;
      continue;
    }
    running[i] = startOne(service);
    if (!running[i] && !stopRequested()) ++failed;
  }
  return failed;
}

bool zuServiceHost::startOne(const Service& service) {
  if (service.startType == zp::kServiceDisabled) {
    failure(theService(service.name) + " is disabled: error " +
            std::to_string(zp::kErrorServiceDisabled) + ".");
    return false;
  }
  ScopedService handle(manager_, service.name, zp::kServiceStart | zp::kServiceQueryStatus);
  zp::ServiceStatus status;
  if (!zp::queryServiceStatus(handle.get(), &status)) {
    failure(theService(service.name) + " failed to start: error " +
            std::to_string(zp::getLastError()) + ".");
    return false;
  }
  if (status.currentState == zp::kServiceRunning) {
    out_ << theService(service.name) << " is running already." << std::endl;
    return true;
  }
  if (status.currentState == zp::kServiceStopped) {
    out_ << "Starting " << service.name << "." << std::endl;
    // 1056: someone else started it meanwhile; wait for it like for our own.
    if (!zp::startService(handle.get(), 0, nullptr) &&
        zp::getLastError() != zp::kErrorServiceAlreadyRunning) {
      failure(theService(service.name) + " failed to start: error " +
              std::to_string(zp::getLastError()) + ".");
      return false;
    }
  }
  switch (waitFor(handle.get(), zp::kServiceRunning, Clock::time_point::max(), true, status)) {
    case Wait::kReached:
      note(theService(service.name) + " entered the running state.");
      return true;
    case Wait::kStopped:
      failure(theService(service.name) + " stopped while it started: error " +
              std::to_string(status.win32ExitCode) + ".");
      return false;
    case Wait::kTimedOut:
      failure(theService(service.name) + " did not report running within its wait hint (" +
              std::to_string(stepWaitMs(status)) + " ms): error " +
              std::to_string(zp::kErrorServiceRequestTimeout) + ".");
      return false;
    case Wait::kInterrupted:
      return false;
    case Wait::kFailed:
      break;
  }
  failure(theService(service.name) + " cannot be queried: error " +
          std::to_string(zp::getLastError()) + ".");
  return false;
}

zuServiceHost::Wait zuServiceHost::waitFor(zp::ScHandle handle, u32 wanted, Clock::time_point end,
                                           bool interruptible, zp::ServiceStatus& last) {
  if (!zp::queryServiceStatus(handle, &last)) return Wait::kFailed;
  // The latest wait hint counts from the service's last progress.
  auto progress = Clock::now();
  for (;;) {
    if (last.currentState == wanted) return Wait::kReached;
    if (last.currentState == zp::kServiceStopped) return Wait::kStopped;
    const auto now = Clock::now();
    const auto stepEnd = progress + std::chrono::milliseconds(stepWaitMs(last));
    if (now >= std::min(stepEnd, end)) return Wait::kTimedOut;
    if (interruptible && zp::isValidHandle(stopEvent_)) {
      if (zp::waitForOne(stopEvent_, kPollIntervalMs)) return Wait::kInterrupted;
    } else {
      zp::sleepFor(kPollIntervalMs);
    }
    zp::ServiceStatus next;
    if (!zp::queryServiceStatus(handle, &next)) return Wait::kFailed;
    if (next.checkPoint != last.checkPoint || next.currentState != last.currentState) {
      progress = Clock::now();
    }
    last = next;
  }
}

bool zuServiceHost::sendStop(zp::ScHandle handle, const Service& service,
                             Clock::time_point deadline, bool& stopped) {
  stopped = false;
  for (;;) {
    zp::ServiceStatus status;
    if (zp::controlService(handle, zp::kServiceControlStop, &status)) {
      stopped = status.currentState == zp::kServiceStopped;
      return true;
    }
    const u32 err = zp::getLastError();
    if (err == zp::kErrorServiceNotActive) {
      stopped = true;
      return true;
    }
    if (err == zp::kErrorServiceCannotAcceptControl && zp::queryServiceStatus(handle, &status)) {
      if (status.currentState == zp::kServiceStopPending) return true;
      if (status.currentState == zp::kServiceStopped) {
        stopped = true;
        return true;
      }
      if (status.currentState == zp::kServiceStartPending) {
        // Still starting: it takes the control once it runs, if it gets there in time.
        switch (waitFor(handle, zp::kServiceRunning, deadline, false, status)) {
          case Wait::kReached:
            continue;
          case Wait::kStopped:
            stopped = true;
            return true;
          case Wait::kTimedOut:
            failure(theService(service.name) + " was still starting past its wait hint (" +
                    std::to_string(stepWaitMs(status)) + " ms) and did not take the stop control.");
            return false;
          case Wait::kInterrupted:
          case Wait::kFailed:
            break;
        }
      }
    }
    failure(theService(service.name) + " did not take the stop control: error " +
            std::to_string(err) + ".");
    return false;
  }
}

bool zuServiceHost::stopAll(std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  std::vector<Service> services;
  if (!loadServices(services)) return false;
  std::vector<Service> pending;
  for (Service& service : services) {
    if (service.status.currentState != zp::kServiceStopped) pending.push_back(std::move(service));
  }
  bool everyStopped = true;
  while (!pending.empty()) {
    // Those no other running service depends on go first; a cycle goes all at once.
    std::vector<Service> wave;
    std::vector<Service> later;
    for (Service& service : pending) {
      const bool needed = std::any_of(pending.begin(), pending.end(), [&](const Service& other) {
        return &other != &service &&
               std::any_of(other.dependencies.begin(), other.dependencies.end(),
                           [&](const std::string& d) { return sameName(d, service.name); });
      });
      (needed ? later : wave).push_back(service);
    }
    if (wave.empty()) wave.swap(later);

    struct Stopping {
      const Service* service;
      std::unique_ptr<ScopedService> handle;
      bool waiting;
    };
    std::vector<Stopping> stopping;
    for (const Service& service : wave) {
      auto handle = std::make_unique<ScopedService>(manager_, service.name,
                                                    zp::kServiceStop | zp::kServiceQueryStatus);
      out_ << "Stopping " << service.name << "." << std::endl;
      bool stopped = false;
      if (Clock::now() >= deadline) {
        failure(theService(service.name) +
                " was not sent the stop control: the host's stop bound (" +
                std::to_string(bound.count()) + " ms) had passed.");
        everyStopped = false;
      } else if (!sendStop(handle->get(), service, deadline, stopped)) {
        everyStopped = false;
      } else if (stopped) {
        note(theService(service.name) + " entered the stopped state.");
      } else {
        stopping.push_back({&service, std::move(handle), true});
      }
    }
    for (Stopping& s : stopping) {
      zp::ServiceStatus status;
      switch (waitFor(s.handle->get(), zp::kServiceStopped, deadline, false, status)) {
        case Wait::kReached:
        case Wait::kStopped:
          note(theService(s.service->name) + " entered the stopped state.");
          break;
        case Wait::kTimedOut:
          failure(theService(s.service->name) + " did not stop within its wait hint (" +
                  std::to_string(stepWaitMs(status)) + " ms) or the host's stop bound: error " +
                  std::to_string(zp::kErrorServiceRequestTimeout) + ".");
          everyStopped = false;
          break;
        case Wait::kInterrupted:
        case Wait::kFailed:
          failure(theService(s.service->name) + " cannot be queried: error " +
                  std::to_string(zp::getLastError()) + ".");
          everyStopped = false;
          break;
      }
    }
    pending.swap(later);
  }
  return everyStopped;
}
