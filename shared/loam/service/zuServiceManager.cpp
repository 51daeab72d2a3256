#include "loam/service/zuServiceManager.h"

#include "loam/platform/zuPlatformError.h"

namespace zp = zuPlatform;

zuServiceManager::~zuServiceManager() {
  closeService();
  if (manager_ != zp::kScHandleNone) zp::closeServiceHandle(manager_);
}

bool zuServiceManager::fail() {
  lastError_ = zp::getLastError();
  return false;
}

bool zuServiceManager::openManager() {
  if (manager_ != zp::kScHandleNone) return true;
  manager_ = zp::openScManager(zp::kScManagerAllAccess);
  return manager_ != zp::kScHandleNone ? true : fail();
}

void zuServiceManager::closeService() {
  if (service_ != zp::kScHandleNone) zp::closeServiceHandle(service_);
  service_ = zp::kScHandleNone;
  serviceName_.clear();
  access_ = 0;
}

bool zuServiceManager::openService(const std::string& name, u32 access) {
  if (service_ != zp::kScHandleNone && serviceName_ == name && (access_ & access) == access) {
    return true;
  }
  closeService();
  if (!openManager()) return false;
  service_ = zp::openService(manager_, name.c_str(), access);
  if (service_ == zp::kScHandleNone) return fail();
  serviceName_ = name;
  access_ = access;
  return true;
}

bool zuServiceManager::isInstalled(const std::string& name) {
  return openService(name, zp::kServiceQueryConfig);
}

bool zuServiceManager::create(const std::string& name, const std::string& displayName,
                              const std::string& programPath,
                              const std::list<std::string>& dependencies) {
  closeService();
  if (!openManager()) return false;
  // NUL-terminated names and one more NUL; no block at all for no names.
  std::string block;
  for (const std::string& d : dependencies) {
    block += d;
    block += '\0';
  }
  if (!block.empty()) block += '\0';
  service_ =
      zp::createService(manager_, name.c_str(), displayName.empty() ? nullptr : displayName.c_str(),
                        zp::kServiceAllAccess, zp::kServiceWin32OwnProcess, zp::kServiceAutoStart,
                        zp::kServiceErrorNormal, programPath.c_str(),
                        block.empty() ? nullptr : block.c_str(), nullptr);
  if (service_ == zp::kScHandleNone) return fail();
  serviceName_ = name;
  access_ = zp::kServiceAllAccess;
  return true;
}

bool zuServiceManager::remove(const std::string& name) {
  if (!openService(name, zp::kDelete)) return false;
  return zp::deleteService(service_) ? true : fail();
}

bool zuServiceManager::queryStatus(const std::string& name, zp::ServiceStatus& status) {
  if (!openService(name, zp::kServiceQueryStatus)) return false;
  return zp::queryServiceStatus(service_, &status) ? true : fail();
}

u32 zuServiceManager::currentState(const std::string& name) {
  zp::ServiceStatus status;
  return queryStatus(name, status) ? status.currentState : 0;
}

const zp::QueryServiceConfig* zuServiceManager::queryConfig(const std::string& name) {
  if (!openService(name, zp::kServiceQueryConfig)) return nullptr;
  u32 needed = 0;
  if (!zp::queryServiceConfig(service_, nullptr, 0, &needed) &&
      zp::getLastError() != zp::kErrorInsufficientBuffer) {
    fail();
    return nullptr;
  }
  const size_t bytes = size_t{needed} + 1;
  const size_t records =
      (bytes + sizeof(zp::QueryServiceConfig) - 1) / sizeof(zp::QueryServiceConfig);
  if (config_.size() < records) config_.resize(records);
  const size_t size = config_.size() * sizeof(zp::QueryServiceConfig);
  const u32 bufSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(size);
  if (!zp::queryServiceConfig(service_, config_.data(), bufSize, &needed)) {
    fail();
    return nullptr;
  }
  return config_.data();
}

bool zuServiceManager::start(const std::string& name) {
  if (!openService(name, zp::kServiceStart)) return false;
  return zp::startService(service_, 0, nullptr) ? true : fail();
}

bool zuServiceManager::stop(const std::string& name) {
  if (!openService(name, zp::kServiceStop)) return false;
  zp::ServiceStatus status;
  return zp::controlService(service_, zp::kServiceControlStop, &status) ? true : fail();
}
