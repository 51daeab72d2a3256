#pragma once
// The library's own upgrade request (type 3): the file's name without its
// folder, two texts, a value, then the file's bytes. The agent does not
// serve this type (it answers 771); zuNetReqAgentUpgrade is the agent's form.
#include <istream>
#include <memory>
#include <string>

#include "loam/netobjects/zuNetReqStreamToNet.h"
#include "loam/platform/zuTypes.h"

class zuNetReqUpgrade : public zuNetReqStreamToNet {
 public:
  // Opens the file as raw bytes; when it does not open, 1540 "Error reading
  // from file "$f"." is logged at level 0 and thrown.
  zuNetReqUpgrade(const std::string& filePath, const std::string& text1, const std::string& text2,
                  u32 value);
  ~zuNetReqUpgrade() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  // A restart sends the file again from its start.
  void start(zuNetObjectHandler* handler) override;

 private:
  std::unique_ptr<std::istream> file_;
};
