// The signature text comes straight from an Upgrade request; whatever it holds,
// the check must end with false (nobody here holds the upgrade key).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "update_agent/uaVerifyUpgradeFile.h"

namespace {

const std::string& upgradeFile() {
  static const std::string path = [] {
    const std::filesystem::path p =
        std::filesystem::temp_directory_path() / "uaVerifyUpgradeFileFuzz.bin";
    std::ofstream(p, std::ios::binary | std::ios::trunc) << "upgrade payload\n";
    return p.string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string signature(reinterpret_cast<const char*>(data), size);
  if (uaVerifyUpgradeFile(upgradeFile(), signature)) __builtin_trap();
  return 0;
}
