#include "loam/platform/zuPlatformAppendFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "internal/zuPlatformStore.h"

namespace zuPlatform {

bool appendToFile(const std::string& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return false;
  bool ok = store::writeAll(fd, data);
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace zuPlatform
