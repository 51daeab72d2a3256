// The event log file from the disk: every line read as a record (or skipped)
// and formatted with its message text.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzScratchFolder.h"
#include "loam/platform/zuPlatformEventLog.h"

namespace zp = zuPlatform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const FuzzScratchFolder root("tw-fuzz-eventlog");
  static const std::string file = [] {
    setenv("ZU_PLATFORM_ROOT", root.path.c_str(), 1);
    const std::string folder = (root.path / "eventlog").string();
    if (mkdir(folder.c_str(), 0700) != 0) std::abort();
    return zp::eventLogFile();
  }();
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::vector<zp::EventRecord> records;
  if (!zp::readEventLog(records)) std::abort();
  for (const zp::EventRecord& record : records) {
    zp::formatEventMessage(record);
    zp::formatEventRecord(record);
  }
  return 0;
}
