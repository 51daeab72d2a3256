#include "loam/platform/zuPlatformOutputFile.h"

#include <fcntl.h>

#include <ext/stdio_filebuf.h>
#include <fstream>

namespace zuPlatform {
namespace {

// A stream over a descriptor it owns; the filebuf closes it.
template <typename Stream, std::ios::openmode kMode>
class DescriptorStream : public Stream {
 public:
  explicit DescriptorStream(int fd) : Stream(nullptr), m_buf(fd, kMode | std::ios::binary) {
    this->rdbuf(&m_buf);
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
  return std::make_unique<DescriptorStream<std::ostream, std::ios::out>>(fd);
}

std::unique_ptr<std::istream> openInputFile(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    auto closed = std::make_unique<std::ifstream>();
    closed->setstate(std::ios::failbit);
    return closed;
  }
  return std::make_unique<DescriptorStream<std::istream, std::ios::in>>(fd);
}

}  // namespace zuPlatform
