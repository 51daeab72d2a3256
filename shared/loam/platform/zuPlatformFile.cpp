#include "loam/platform/zuPlatformFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

namespace zuPlatform {

namespace {

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(foldAscii(a[i]));
    const auto cb = static_cast<unsigned char>(foldAscii(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names that differ only in case keep a fixed order
}

// An errno where a missing piece means the folder part of the path.
u32 pathError(int err) {
  return (err == ENOENT || err == ENOTDIR) ? kFileErrorPathNotFound : fileErrorFromErrno(err);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

void fillFromStat(const struct stat& st, FindData& out) {
  out.directory = S_ISDIR(st.st_mode);
  out.link = S_ISLNK(st.st_mode);
  out.readOnly = !out.link && (st.st_mode & S_IWUSR) == 0;
  out.size = st.st_size > 0 ? static_cast<u64>(st.st_size) : 0;
  out.lastWrite.seconds = static_cast<i64>(st.st_mtim.tv_sec);
  out.lastWrite.nanoseconds = static_cast<u32>(st.st_mtim.tv_nsec);
}

std::string lastComponent(const std::string& native) {
  const size_t slash = native.rfind('/');
  return slash == std::string::npos ? native : native.substr(slash + 1);
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

u32 copyContents(int from, int to) {
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileErrorFromErrno(errno);
    }
    if (n == 0) return kFileErrorNone;
    if (!writeAll(to, buffer.data(), static_cast<size_t>(n))) return fileErrorFromErrno(errno);
  }
}

u32 initialTempNumber() {
  try {
    std::random_device rd;
    return rd();
  } catch (...) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<u32>(now) ^ static_cast<u32>(::getpid());
  }
}

// The file a write to path lands in: a link's final target, so the link
// stays. A dangling link has no target to resolve and is replaced itself.
std::string followLinks(const std::string& native) {
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return native;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(native.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : native;
}

std::string folderOf(const std::string& native) {
  const size_t slash = native.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : native.substr(0, slash);
}

}  // namespace

u32 fileErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kFileErrorNone;
    case ENOENT:
      return kFileErrorFileNotFound;
    case ENOTDIR:
      return kFileErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kFileErrorAccessDenied;
    case EROFS:
      return kFileErrorWriteProtect;
    case EEXIST:
      return kFileErrorAlreadyExists;
    case ETXTBSY:
    case EBUSY:
      return kFileErrorSharingViolation;
    case ENOTEMPTY:
      return kFileErrorDirNotEmpty;
    case ENAMETOOLONG:
      return kFileErrorNameTooLong;
    case ENOSPC:
    case EDQUOT:
      return kFileErrorDiskFull;
    case EXDEV:
      return kFileErrorNotSameDevice;
    case ENOMEM:
      return kFileErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kFileErrorTooManyOpenFiles;
    case EINVAL:
      return kFileErrorInvalidParameter;
    case ERANGE:
      return kFileErrorBufferOverflow;
    case ELOOP:
      return kFileErrorCantResolve;
    case EIO:
      return kFileErrorIoDevice;
    default:
      return kFileErrorGeneralFailure;
  }
}

std::string nativePath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

bool matchFileName(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*") return true;
  size_t p = 0;
  size_t n = 0;
  size_t starP = std::string::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || foldAscii(pattern[p]) == foldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

u32 fileInfo(const std::string& path, FindData& out) {
  const std::string native = nativePath(path);
  struct stat st {};
  if (native.empty()) return kFileErrorPathNotFound;
  if (::lstat(native.c_str(), &st) != 0) return fileErrorFromErrno(errno);
  out = FindData{};
  out.name = lastComponent(native);
  fillFromStat(st, out);
  if (out.link) {
    struct stat target {};
    out.directory = ::stat(native.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  }
  return kFileErrorNone;
}

u32 searchFiles(const std::string& path, std::vector<FindData>& out) {
  out.clear();
  const std::string native = nativePath(path);
  if (native.empty() || native.back() == '/') return kFileErrorFileNotFound;
  const size_t slash = native.rfind('/');
  const std::string dir =
      slash == std::string::npos ? std::string(".") : native.substr(0, slash == 0 ? 1 : slash);
  const std::string pattern = lastComponent(native);

  if (pattern.find_first_of("*?") == std::string::npos) {
    FindData one;
    const u32 err = fileInfo(native, one);
    if (err != kFileErrorNone) return err;
    out.push_back(std::move(one));
    return kFileErrorNone;
  }

  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.valid()) return pathError(errno);
  std::unique_ptr<DIR, DirCloser> stream(::fdopendir(dirFd.get()));
  if (!stream) return fileErrorFromErrno(errno);
  const int fd = dirFd.release();  // now owned by the stream

  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (!entry) {
      if (errno != 0) {
        const int err = errno;
        out.clear();
        return fileErrorFromErrno(err);
      }
      break;
    }
    const std::string name = entry->d_name;
    if (!matchFileName(pattern, name)) continue;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    FindData data;
    data.name = name;
    fillFromStat(st, data);
    if (data.link) {
      struct stat target {};
      data.directory = ::fstatat(fd, name.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    out.push_back(std::move(data));
  }
  if (out.empty()) return kFileErrorFileNotFound;
  std::sort(out.begin(), out.end(),
            [](const FindData& a, const FindData& b) { return lessIgnoringCase(a.name, b.name); });
  return kFileErrorNone;
}

u32 currentDirectory(std::string& out) {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) {
      buffer.resize(std::char_traits<char>::length(buffer.c_str()));
      out = std::move(buffer);
      return kFileErrorNone;
    }
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return fileErrorFromErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
}

u32 setCurrentDirectory(const std::string& path) {
  const std::string native = nativePath(path);
  if (::chdir(native.c_str()) != 0) return fileErrorFromErrno(errno);
  return kFileErrorNone;
}

u32 createDirectory(const std::string& path) {
  const std::string native = nativePath(path);
  if (::mkdir(native.c_str(), 0777) != 0) return pathError(errno);
  return kFileErrorNone;
}

u32 removeDirectory(const std::string& path) {
  const std::string native = nativePath(path);
  if (::rmdir(native.c_str()) != 0) {
    const int err = errno;
    if (err == ENOTEMPTY || err == EEXIST) return kFileErrorDirNotEmpty;
    if (err == ENOTDIR) return kFileErrorDirectory;
    return fileErrorFromErrno(err);
  }
  return kFileErrorNone;
}

u32 deleteFile(const std::string& path) {
  const std::string native = nativePath(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return fileErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return kFileErrorAccessDenied;
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return kFileErrorAccessDenied;
  if (::unlink(native.c_str()) != 0) return fileErrorFromErrno(errno);
  return kFileErrorNone;
}

u32 copyFile(const std::string& from, const std::string& to) {
  const std::string source = nativePath(from);
  const std::string target = nativePath(to);

  // O_NONBLOCK only so that a FIFO cannot hang the open; regular files ignore it.
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!in.valid()) return fileErrorFromErrno(errno);
  struct stat src {};
  if (::fstat(in.get(), &src) != 0) return fileErrorFromErrno(errno);
  if (!S_ISREG(src.st_mode)) return kFileErrorAccessDenied;

  const mode_t mode = src.st_mode & 07777;
  bool created = true;
  Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
  if (out.valid()) {
    ::fchmod(out.get(), mode);  // the umask must not change the source's mode
  } else {
    if (errno != EEXIST) return pathError(errno);
    created = false;
    // Written in place, so a running executable reports ETXTBSY rather than being replaced.
    Fd existing(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!existing.valid()) return fileErrorFromErrno(errno);
    struct stat dst {};
    if (::fstat(existing.get(), &dst) != 0) return fileErrorFromErrno(errno);
    if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) return kFileErrorSharingViolation;
    if (!S_ISREG(dst.st_mode) || (dst.st_mode & S_IWUSR) == 0) return kFileErrorAccessDenied;
    if (::ftruncate(existing.get(), 0) != 0) return fileErrorFromErrno(errno);
    out.reset(existing.release());
  }

  u32 err = copyContents(in.get(), out.get());
  if (::close(out.release()) != 0 && err == kFileErrorNone) err = fileErrorFromErrno(errno);
  if (err != kFileErrorNone && created) ::unlink(target.c_str());
  return err;
}

u32 moveFile(const std::string& from, const std::string& to) {
  const std::string source = nativePath(from);
  const std::string target = nativePath(to);
  struct stat dst {};
  if (::lstat(target.c_str(), &dst) == 0 && !S_ISLNK(dst.st_mode) && !S_ISDIR(dst.st_mode) &&
      (dst.st_mode & S_IWUSR) == 0)
    return kFileErrorAccessDenied;
  if (::rename(source.c_str(), target.c_str()) != 0) {
    const int err = errno;
    if (err == EISDIR || err == ENOTEMPTY || err == EEXIST) return kFileErrorAccessDenied;
    return fileErrorFromErrno(err);
  }
  return kFileErrorNone;
}

u32 checkReadable(const std::string& path) {
  const std::string native = nativePath(path);
  Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return fileErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fileErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return kFileErrorAccessDenied;
  return kFileErrorNone;
}

u32 readFile(const std::string& path, std::string& out) {
  const std::string native = nativePath(path);
  // O_NONBLOCK only so that a FIFO cannot hang the open; regular files ignore it.
  Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return fileErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fileErrorFromErrno(errno);
  // A device or pipe could feed bytes without end.
  if (!S_ISREG(st.st_mode)) return kFileErrorAccessDenied;
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileErrorFromErrno(errno);
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  out = std::move(text);
  return kFileErrorNone;
}

namespace {

// forcedMode < 0: a replaced file keeps its mode, a new one gets 0666 less
// the umask. Otherwise the result has exactly that mode.
u32 replaceFileContents(const std::string& path, std::string_view bytes, FileTime* written,
                        int forcedMode) {
  static std::atomic<u32> next{initialTempNumber()};
  const std::string native = nativePath(path);
  if (native.empty() || native.back() == '/') return kFileErrorPathNotFound;
  const std::string target = followLinks(native);

  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;
  if (!replacing && errno != ENOENT) return pathError(errno);
  if (replacing && (!S_ISREG(old.st_mode) || (old.st_mode & S_IWUSR) == 0))
    return kFileErrorAccessDenied;
  const mode_t mode = forcedMode >= 0 ? static_cast<mode_t>(forcedMode)
                     : replacing      ? (old.st_mode & 07777)
                                      : 0666;

  // Beside the target, so the rename stays on one file system.
  std::string temp;
  Fd fd;
  for (u32 attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    char number[16];
    std::snprintf(number, sizeof number, ".%08X.tmp", next.fetch_add(1, std::memory_order_relaxed));
    temp = target + number;
    fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
    if (!fd.valid() && errno != EEXIST) return pathError(errno);
  }
  if (!fd.valid()) return kFileErrorFileExists;

  u32 err = kFileErrorNone;
  if (replacing) {
    // The old owner where we may give it (a file the service rewrites stays
    // its editor's), else the writer's. Owner before mode, as a change of
    // owner clears set-id bits; and the umask must not narrow the old mode.
    const bool sameOwner = ::fchown(fd.get(), old.st_uid, old.st_gid) == 0;
    static_cast<void>(sameOwner);
  }
  if ((replacing || forcedMode >= 0) && ::fchmod(fd.get(), mode) != 0)
    err = fileErrorFromErrno(errno);
  if (err == kFileErrorNone && !writeAll(fd.get(), bytes.data(), bytes.size()))
    err = fileErrorFromErrno(errno);
  if (err == kFileErrorNone && ::fsync(fd.get()) != 0) err = fileErrorFromErrno(errno);
  struct stat st {};
  if (err == kFileErrorNone && ::fstat(fd.get(), &st) != 0) err = fileErrorFromErrno(errno);
  if (::close(fd.release()) != 0 && err == kFileErrorNone) err = fileErrorFromErrno(errno);
  if (err == kFileErrorNone && ::rename(temp.c_str(), target.c_str()) != 0)
    err = fileErrorFromErrno(errno);
  if (err != kFileErrorNone) {
    ::unlink(temp.c_str());
    return err;
  }
  // The rename itself is durable only once the folder is; some file systems
  // cannot sync a folder, and the new contents are safe on disk already.
  Fd folder(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) ::fsync(folder.get());
  if (written) {
    written->seconds = static_cast<i64>(st.st_mtim.tv_sec);
    written->nanoseconds = static_cast<u32>(st.st_mtim.tv_nsec);
  }
  return kFileErrorNone;
}

}  // namespace

u32 writeFileAtomically(const std::string& path, std::string_view bytes, FileTime* written) {
  return replaceFileContents(path, bytes, written, -1);
}

u32 writeSecretFileAtomically(const std::string& path, std::string_view bytes) {
  return replaceFileContents(path, bytes, nullptr, 0600);
}

u32 tempPath(std::string& out) {
  const char* env = std::getenv("TMPDIR");
  std::string path = (env && *env) ? std::string(env) : std::string("/tmp/");
  if (path.back() != '/' && path.back() != '\\') path += '/';
  out = std::move(path);
  return kFileErrorNone;
}

u32 createTempFile(const std::string& dir, const std::string& prefix, std::string& out) {
  static std::atomic<u32> next{initialTempNumber()};
  std::string base = dir;
  if (!base.empty() && base.back() != '/' && base.back() != '\\') base += '/';
  base += prefix.substr(0, 3);
  // The name space is that of GetTempFileName: up to four hex digits, 0 never used.
  for (u32 attempt = 0; attempt < 0xFFFFu; ++attempt) {
    const u32 unique = next.fetch_add(1, std::memory_order_relaxed) & 0xFFFFu;
    if (unique == 0) continue;
    char number[8];
    std::snprintf(number, sizeof number, "%X", unique);
    const std::string path = base + number + ".tmp";
    const int fd =
        ::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      ::close(fd);
      out = path;
      return kFileErrorNone;
    }
    if (errno != EEXIST) return pathError(errno);
  }
  return kFileErrorFileExists;
}

u32 modulePath(std::string& out) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return fileErrorFromErrno(errno);
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));  // readlink writes no terminating NUL
      out = std::move(buffer);
      return kFileErrorNone;
    }
    if (buffer.size() >= (1u << 16)) return kFileErrorNameTooLong;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace zuPlatform
