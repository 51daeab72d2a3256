#pragma once
// The agent's form of the upgrade request (type 1, as the agent serves it):
// the installation kind, the file's name without its folder, the argument,
// the signature as hex text, the file's size (u32), then the file's bytes.
#include <istream>
#include <memory>
#include <string>

#include "loam/netobjects/zuNetReqStreamToNet.h"
#include "loam/platform/zuTypes.h"

class zuNetReqAgentUpgrade : public zuNetReqStreamToNet {
 public:
  // Opens the file as raw bytes and measures it; a file that does not open,
  // or is 4 GiB or larger, gives 1540 "Error reading from file "$f".",
  // logged at level 0 and thrown.
  zuNetReqAgentUpgrade(const std::string& filePath, u8 kind, const std::string& argument,
                       const std::string& signature);
  ~zuNetReqAgentUpgrade() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  // A restart sends the file again from its start.
  void start(zuNetObjectHandler* handler) override;

  u32 fileSize() const { return fileSize_; }

 private:
  std::unique_ptr<std::istream> file_;
  u32 fileSize_ = 0;
};
