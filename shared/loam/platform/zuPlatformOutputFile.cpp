#include "loam/platform/zuPlatformOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ext/stdio_filebuf.h>
#include <filesystem>
#include <fstream>
#include <system_error>

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

bool isInside(const std::filesystem::path& root, const std::filesystem::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *r != *p) return false;
  }
  return true;
}

// The descriptor of name, opened with flags and checked; -1 with error set
// when it was refused (and closed).
int openChecked(const std::string& name, const std::string& root, int flags, int& error) {
  namespace fs = std::filesystem;
  error = 0;
  const int fd = ::open(name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = errno != 0 ? errno : EIO;
    return -1;
  }
  struct stat info {};
  std::error_code ec;
  const fs::path base = fs::canonical(root, ec);
  if (::fstat(fd, &info) != 0) {
    error = errno != 0 ? errno : EIO;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(info.st_mode) || ec) {
    error = EACCES;
  } else {
    // Where the descriptor really is, whatever path led to it.
    const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    if (ec || !isInside(base, opened)) error = EACCES;
  }
  if (error == 0 && (flags & O_ACCMODE) != O_RDONLY) {
    // A file written here has one name: another (a hard link) could be
    // anywhere on the file system.
    if (info.st_nlink != 1)
      error = EACCES;
    else if (::ftruncate(fd, 0) != 0)
      error = errno != 0 ? errno : EIO;
  }
  if (error != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<std::istream> openInputFileInside(const std::string& name, const std::string& root,
                                                  int& error) {
  const int fd = openChecked(name, root, O_RDONLY, error);
  if (fd < 0) return nullptr;
  return std::make_unique<DescriptorStream<std::istream, std::ios::in>>(fd);
}

std::unique_ptr<std::ostream> openOutputFileInside(const std::string& name,
                                                   const std::string& root, int& error) {
  // Not truncated by the open: a file outside the root must stay whole.
  const int fd = openChecked(name, root, O_WRONLY, error);
  if (fd < 0) return nullptr;
  return std::make_unique<DescriptorStream<std::ostream, std::ios::out>>(fd);
}

int setStreamFileMode(std::ostream& stream, unsigned mode) {
  auto* buffer = dynamic_cast<__gnu_cxx::stdio_filebuf<char>*>(stream.rdbuf());
  if (buffer == nullptr || buffer->fd() < 0) return EBADF;
  return ::fchmod(buffer->fd(), static_cast<mode_t>(mode & 07777)) == 0 ? 0 : errno;
}

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
