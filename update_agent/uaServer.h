#pragma once
// The agent's server: the library's netobject server with the agent's
// version suffix, service description, data path beside the program and its
// response factories.
#include <memory>
#include <string>
#include <vector>

#include "loam/netobjects/zuNetObject.h"
#include "loam/platform/zuTypes.h"
#include "loam/service/zuServer.h"

class uaServer : public zuServer {
 public:
  static constexpr u32 kVersionMajor = 1;
  static constexpr u32 kVersionMinor = 0;
  static constexpr const char* kServiceDescription =
      "Allows the Tarnwell Suite to perform automatic updated.  If this service is stopped, the "
      "Tarnwell Suite will not be able to perform automatic updates.";

  uaServer();
  ~uaServer() override;

  bool parseArguments(std::vector<zuOption>& options) override;
  void printVersion() override;
  // A preference file beside the program makes the program's folder the
  // data path, over "-D"; then the server's start-up; then the factories.
  void initialize() override;

  static std::unique_ptr<zuNetObject> createNResConnect(u8 type);
  static std::unique_ptr<zuNetObject> createNResUpgrade(u8 type);

 protected:
  // The program file's folder. A seam for tests, whose program folder is
  // the build's.
  virtual std::string programFolder() const;
};
