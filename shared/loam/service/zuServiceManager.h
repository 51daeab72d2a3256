#pragma once
// The service control manager seen through one small object: it opens the
// manager on first need and one named service at a time, and keeps the
// system error of the last call that failed. Used by one thread at a time;
// each user makes its own.
#include <list>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformService.h"
#include "loam/platform/zuTypes.h"

// Status code of a service that could not be found, stopped or started.
inline constexpr u16 kzuCodeServiceFailed = 288;

class zuServiceManager {
 public:
  zuServiceManager() = default;
  ~zuServiceManager();
  zuServiceManager(const zuServiceManager&) = delete;
  zuServiceManager& operator=(const zuServiceManager&) = delete;

  // Reuses the open handle when it is for the same name (exact comparison)
  // and holds every requested access bit; otherwise opens the service anew.
  bool openService(const std::string& name, u32 access);
  bool isInstalled(const std::string& name);
  // An own-process service that starts automatically under the local system
  // account; an empty display name stands for the name. programPath is
  // stored as given (quote it yourself).
  bool create(const std::string& name, const std::string& displayName,
              const std::string& programPath, const std::list<std::string>& dependencies);
  bool remove(const std::string& name);
  bool queryStatus(const std::string& name, zuPlatform::ServiceStatus& status);
  // 1 stopped, 2 start pending, 3 stop pending, 4 running; 0 when the query fails.
  u32 currentState(const std::string& name);
  // Null on failure. Valid until the next query or the destructor.
  const zuPlatform::QueryServiceConfig* queryConfig(const std::string& name);
  bool start(const std::string& name);
  bool stop(const std::string& name);

  // The system error of the last failed call; 0 when none has failed.
  u32 lastError() const { return lastError_; }
  // The open service handle, kScHandleNone when there is none.
  zuPlatform::ScHandle serviceHandle() const { return service_; }

 private:
  bool openManager();
  void closeService();
  bool fail();

  std::string serviceName_;
  u32 access_ = 0;
  zuPlatform::ScHandle manager_ = zuPlatform::kScHandleNone;
  zuPlatform::ScHandle service_ = zuPlatform::kScHandleNone;
  u32 lastError_ = 0;
  // Elements of the record's own type, so the buffer is aligned for it.
  std::vector<zuPlatform::QueryServiceConfig> config_;
};
