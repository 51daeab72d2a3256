// An Upgrade request's payload comes straight from the network. With every
// signature refused, whatever it holds must end in a status code or a reader
// overrun, never write outside the temporary folder, and leave that folder
// empty once the response has gone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>

#include "FuzzScratchFolder.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/threads/zuLog.h"
#include "update_agent/uaNResUpgrade.h"

namespace {

bool quiet(u32, const char*) { return true; }

const std::filesystem::path& tempFolder() {
  static const FuzzScratchFolder scratch("uaNResUpgradeFuzz");
  static const std::filesystem::path folder = [] {
    const std::filesystem::path p = scratch.path / "temp";
    std::filesystem::create_directory(p);
    ::setenv("TMPDIR", p.string().c_str(), 1);
    uaNResUpgrade::setVerifier([](const std::string&, const std::string&) { return false; });
    zuLog::addListener(&quiet);
    return p;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& folder = tempFolder();
  {
    uaNResUpgrade response;
    zuNetReader reader(data, static_cast<u32>(size));
    try {
      if (response.run(reader) == 0) __builtin_trap();
    } catch (const std::out_of_range&) {
    }
  }
  // The parent holds only the temporary folder: nothing was written beside it.
  const auto beside = std::distance(std::filesystem::directory_iterator(folder.parent_path()),
                                    std::filesystem::directory_iterator());
  if (!std::filesystem::is_empty(folder) || beside != 1) __builtin_trap();
  return 0;
}
