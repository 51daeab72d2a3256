#include "update_agent/uaServer.h"

#include <new>

#include "loam/base/zuFile.h"
#include "loam/base/zuPath.h"
#include "loam/base/zuString.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "update_agent/uaNResConnect.h"
#include "update_agent/uaNResUpgrade.h"

uaServer::uaServer() : zuServer(kDefaultPort, kMaxConnections) {
  versionText_ += "[" + zuUIntToString(kVersionMajor) + "." + zuUIntToString(kVersionMinor) + "]";
  setServiceDescription(kServiceDescription);
}

uaServer::~uaServer() = default;

bool uaServer::parseArguments(std::vector<zuOption>& options) {
  return zuServer::parseArguments(options);
}

void uaServer::printVersion() { zuNTService::printVersion(); }

std::string uaServer::programFolder() const { return zuGetModuleDirectory(); }

void uaServer::initialize() {
  // Runs after the options, so this wins over "-D".
  const std::string folder = programFolder();
  if (!folder.empty() && zuFileExists(zuAppendPath(folder, kPreferenceFileName)))
    setDataPath(folder);

  zuServer::initialize();
  uaNResUpgrade::removeStaleFolders();

  factories_[zuNOT_Connect] = &uaServer::createNResConnect;
  factories_[zuNOT_Login] = &uaServer::createNResUpgrade;
}

std::unique_ptr<zuNetObject> uaServer::createNResConnect(u8) {
  return std::unique_ptr<zuNetObject>(new (std::nothrow) uaNResConnect());
}

std::unique_ptr<zuNetObject> uaServer::createNResUpgrade(u8) {
  return std::unique_ptr<zuNetObject>(new (std::nothrow) uaNResUpgrade());
}
