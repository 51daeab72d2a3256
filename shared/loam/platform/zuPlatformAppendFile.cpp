#include "loam/platform/zuPlatformAppendFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace zuPlatform {

bool appendToFile(const std::string& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return false;
  bool ok = true;
  const char* at = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace zuPlatform
