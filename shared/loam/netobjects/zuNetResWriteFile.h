#pragma once
// The WriteFile response (type 7): stores a file below the server's root
// folder. First chunk: file name (NUL-terminated), text-mode flag (bool),
// announced size (u32, not checked), then file bytes; later chunks: file
// bytes. The bytes go to a temporary file beside the target as they arrive;
// only a whole transfer is renamed over the target, so a failed or cut one
// leaves the target as it was. Served only to a logged-in peer.
#include <memory>
#include <ostream>
#include <string>

#include "loam/netobjects/zuNetResNetToStream.h"
#include "loam/platform/zuTypes.h"

class zuNetResWriteFile : public zuNetResNetToStream {
 public:
  // A stored file stays below 4 GiB; the head is a name and two values.
  static constexpr std::size_t kMaxFileBytes = 0xFFFFFFFFu;
  static constexpr std::size_t kMaxHeadBytes = 8192;

  // Names in requests are taken inside root, which the server sets; an empty
  // root refuses every name.
  explicit zuNetResWriteFile(const std::string& root);
  // Closes the file; removes the temporary file of a transfer that did not
  // finish.
  ~zuNetResWriteFile() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  std::size_t maxGatheredBytes() const override;
  // Reads the head and creates the temporary file. A refused name or a file
  // that cannot be created: 1538 "Error opening file "$f" error: $e." ($e
  // "0x" and the C run-time error number in upper-case hexadecimal), logged
  // and thrown.
  u32 handleData(const u8* data, u32 length, bool last) override;

  const std::string& fileName() const { return fileName_; }
  bool textMode() const { return textMode_ != 0; }
  u32 announcedSize() const { return announcedSize_; }

 protected:
  // Renames the temporary file over the target and gives it the mode of
  // the file it replaced (1541 when either fails).
  u16 finishData() override;
  // Gives the renamed file, still open, the stored file's mode: 0 or an
  // errno value, which fails the transfer. A seam for tests.
  virtual int restoreMode(std::ostream& file, unsigned mode);

 private:
  std::string root_;
  std::string fileName_;
  u8 textMode_ = 0;
  u32 announcedSize_ = 0;
  std::unique_ptr<std::ostream> file_;
  std::string targetPath_;
  std::string tempPath_;
};
