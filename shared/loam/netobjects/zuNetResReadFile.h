#pragma once
// The ReadFile response (type 6): sends a file below the server's root
// folder. Request: file name (NUL-terminated) and text-mode flag (bool).
// Reply: the file's size (u32), then its bytes. Only regular files below
// 4 GiB are sent. Served only to a logged-in peer.
#include <istream>
#include <memory>
#include <string>

#include "loam/netobjects/zuNetResStreamToNet.h"
#include "loam/platform/zuTypes.h"

class zuNetResReadFile : public zuNetResStreamToNet {
 public:
  // The request is a name and a flag.
  static constexpr std::size_t kMaxRequestBytes = 8192;

  // Names in requests are taken inside root, which the server sets; an empty
  // root refuses every name.
  explicit zuNetResReadFile(const std::string& root);
  ~zuNetResReadFile() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  std::size_t maxGatheredBytes() const override;
  // 772 for bytes after the flag; 1538 "Error opening file "$f"." for a name
  // that is refused or a file that cannot be opened; both logged.
  u16 processData(zuNetReader& reader, u32 length) override;

  const std::string& fileName() const { return fileName_; }
  bool textMode() const { return textMode_ != 0; }
  u32 fileSize() const { return fileSize_; }

 private:
  u16 openFailed();

  std::string root_;
  std::string fileName_;
  u8 textMode_ = 0;
  u32 fileSize_ = 0;
  std::unique_ptr<std::istream> file_;
};
