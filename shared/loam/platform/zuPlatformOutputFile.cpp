#include "loam/platform/zuPlatformOutputFile.h"

#include <fcntl.h>

#include <ext/stdio_filebuf.h>
#include <fstream>

namespace zuPlatform {
namespace {

// An ostream over a descriptor it owns; the filebuf closes it.
class DescriptorStream : public std::ostream {
 public:
  explicit DescriptorStream(int fd)
      : std::ostream(nullptr), m_buf(fd, std::ios::out | std::ios::binary) {
    rdbuf(&m_buf);
  }

 private:
  __gnu_cxx::stdio_filebuf<char> m_buf;
};

}  // namespace

std::unique_ptr<std::ostream> openOutputFile(const std::string& name) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    auto closed = std::make_unique<std::ofstream>();
    closed->setstate(std::ios::failbit);
    return closed;
  }
  return std::make_unique<DescriptorStream>(fd);
}

}  // namespace zuPlatform
