// A registry key file from the disk (anyone who can write the platform root
// can change it): every value enumerated and read back through the registry
// calls, which must refuse a malformed file rather than read past it, and
// whatever they return must fit the sizes they report.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzScratchFolder.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformRegistry.h"

namespace zp = zuPlatform;

namespace {

struct Fixture {
  FuzzScratchFolder root{"tw-fuzz-registry"};
  zp::RegKey key = zp::kRegKeyNone;
  std::string file;
  Fixture() {
    setenv("ZU_PLATFORM_ROOT", root.path.c_str(), 1);
    if (zp::regCreateKeyEx(zp::kRegLocalMachine, "SOFTWARE\\Fuzz", zp::kKeyAllAccess, &key,
                           nullptr) != 0) {
      std::abort();
    }
    file = root.path.string() + "/registry/HKEY_LOCAL_MACHINE/software/fuzz/#key";
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  std::ofstream(fixture.file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  for (u32 index = 0; index < 64; ++index) {
    std::vector<char> name(zp::kRegMaxValueNameLength + 1);
    u32 nameSize = static_cast<u32>(name.size());
    u32 type = 0;
    u32 dataSize = 0;
    const u32 err =
        zp::regEnumValue(fixture.key, index, name.data(), &nameSize, &type, nullptr, &dataSize);
    if (err != zp::kErrorSuccess) {
      if (err != zp::kErrorNoMoreItems && err != zp::kErrorBadDatabase) std::abort();
      break;
    }
    if (nameSize >= name.size() || dataSize > size) std::abort();
    std::vector<std::uint8_t> value(dataSize);
    u32 valueSize = dataSize;
    if (zp::regQueryValueEx(fixture.key, name.data(), &type, value.data(), &valueSize) != 0 ||
        valueSize != dataSize) {
      std::abort();
    }
  }
  return 0;
}
