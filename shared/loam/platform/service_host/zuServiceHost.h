#pragma once
// What Windows' service control manager does at boot and at shutdown, for the
// services installed under the platform root.
//
// boot starts every service whose start type is automatic, each after the
// installed services it depends on (those are started too, whatever their
// own start type, unless disabled); "tcpip" counts as met, since the host
// runs once the network is up. After each start it waits until the service
// reports RUNNING. stopAll sends every running service the stop control,
// dependents before the services they depend on, and waits until each reports
// STOPPED.
//
// A pending service is waited for as long as its latest wait hint (the
// stand-in's wait bound, 30 s, when it gives none or more), counted from the
// last time its check point or state moved, as Windows waits. Every failure is reported to the event log
// (source "Service Control Manager", event 109, error type) and as a line on
// the host's output, and the other services go on; state changes are
// information events and lines.
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuPlatformService.h"
#include "loam/platform/zuTypes.h"

class zuServiceHost {
 public:
  // The most stopAll waits in all. A control already sent when it passes may
  // take the manager's own bound (30 s) more.
  static constexpr std::chrono::milliseconds kStopBound{60000};
  // The longest wait for one step of a pending service.
  static constexpr u32 kMaxWaitHintMs = 30000;
  static constexpr const char* kEventSource = "Service Control Manager";

  // out takes the host's lines; a signal on stopEvent (kInvalidHandle: none)
  // cuts the boot short.
  zuServiceHost(std::ostream& out, zuPlatform::Handle stopEvent);
  ~zuServiceHost();
  zuServiceHost(const zuServiceHost&) = delete;
  zuServiceHost& operator=(const zuServiceHost&) = delete;

  // The number of services that should have started and did not.
  u32 boot();
  // True when every service that was running reached STOPPED within bound.
  bool stopAll(std::chrono::milliseconds bound = kStopBound);

 private:
  struct Service {
    std::string name;
    u32 startType = 0;
    std::vector<std::string> dependencies;
    zuPlatform::ServiceStatusProcess status;
  };
  enum class Wait { kReached, kStopped, kTimedOut, kInterrupted, kFailed };

  // Every installed service with its configuration; false (reported) when
  // the database cannot be read.
  bool loadServices(std::vector<Service>& out);
  // The order in which the automatic services and their dependencies start;
  // cyclic marks those whose dependencies lead back to themselves.
  std::vector<size_t> startOrder(const std::vector<Service>& services, std::vector<bool>& cyclic);
  bool startOne(const Service& service);
  // Sends the stop control; false when the service will not stop. stopped
  // tells whether it has stopped already.
  bool sendStop(zuPlatform::ScHandle handle, const Service& service,
                std::chrono::steady_clock::time_point deadline, bool& stopped);
  // Waits until the service reports wanted, STOPPED, or stops moving.
  Wait waitFor(zuPlatform::ScHandle handle, u32 wanted, std::chrono::steady_clock::time_point end,
               bool interruptible, zuPlatform::ServiceStatus& last);
  bool stopRequested() const;
  void note(const std::string& line);
  void failure(const std::string& line);

  std::ostream& out_;
  zuPlatform::Handle stopEvent_;
  zuPlatform::ScHandle manager_ = zuPlatform::kScHandleNone;
  zuPlatform::EventSourceHandle eventSource_ = zuPlatform::kEventSourceNone;
};
