#pragma once
// Files and folders for the foundation's file helpers, in the shape of the
// Windows file API they were written against. Every function takes paths as
// the library writes them ('\' or '/' as separators) and reports failure as a
// Windows error number (0 for success), mapped from errno.
#include <string>
#include <string_view>
#include <vector>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// The Windows error numbers the file functions report, by the names the
// file helpers use (the numbers are zuPlatformError.h's).
inline constexpr u32 kFileErrorNone = kErrorSuccess;
inline constexpr u32 kFileErrorFileNotFound = kErrorFileNotFound;
inline constexpr u32 kFileErrorPathNotFound = kErrorPathNotFound;
inline constexpr u32 kFileErrorTooManyOpenFiles = kErrorTooManyOpenFiles;
inline constexpr u32 kFileErrorAccessDenied = kErrorAccessDenied;
inline constexpr u32 kFileErrorNotEnoughMemory = kErrorNotEnoughMemory;
inline constexpr u32 kFileErrorNotSameDevice = kErrorNotSameDevice;
inline constexpr u32 kFileErrorWriteProtect = kErrorWriteProtect;
inline constexpr u32 kFileErrorGeneralFailure = kErrorGenFailure;
inline constexpr u32 kFileErrorSharingViolation = kErrorSharingViolation;
inline constexpr u32 kFileErrorFileExists = kErrorFileExists;
inline constexpr u32 kFileErrorInvalidParameter = kErrorInvalidParameter;
inline constexpr u32 kFileErrorBufferOverflow = kErrorBufferOverflow;
inline constexpr u32 kFileErrorDiskFull = kErrorDiskFull;
inline constexpr u32 kFileErrorDirNotEmpty = kErrorDirNotEmpty;
inline constexpr u32 kFileErrorAlreadyExists = kErrorAlreadyExists;
inline constexpr u32 kFileErrorNameTooLong = kErrorFilenameExcedRange;
inline constexpr u32 kFileErrorDirectory = kErrorDirectory;
inline constexpr u32 kFileErrorIoDevice = kErrorIoDevice;
inline constexpr u32 kFileErrorCantResolve = kErrorCantResolveFilename;

// The path as POSIX takes it: every '\' becomes '/'.
std::string nativePath(const std::string& path);

// Last-write time as the file system keeps it (UTC, since 1970); toLocalTime
// (zuPlatformTime.h) turns it into local time.
struct FileTime {
  i64 seconds = 0;
  u32 nanoseconds = 0;
};

// One entry of a search, as WIN32_FIND_DATA describes it.
struct FindData {
  std::string name;        // the entry's name, without its folder
  bool directory = false;  // a folder, or a link whose target is a folder (as Windows marks it)
  bool link = false;       // the entry itself is a symbolic link
  bool readOnly = false;   // owner write bit clear (stands for the read-only attribute)
  u64 size = 0;
  FileTime lastWrite;
};

// The entry for the path itself, without following a final link.
u32 fileInfo(const std::string& path, FindData& out);

// What tells one version of a file from another: the file itself (a
// replacement by rename is another file), its size and its last-write time
// to the nanosecond. Equal identities mean unchanged contents, short of a
// rewrite in place within one clock tick that keeps the size.
struct FileIdentity {
  u64 device = 0;
  u64 inode = 0;
  u64 size = 0;
  FileTime lastWrite;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           lastWrite.seconds == other.lastWrite.seconds &&
           lastWrite.nanoseconds == other.lastWrite.nanoseconds;
  }
};

// The identity of the file the path names (a final link followed).
u32 fileIdentity(const std::string& path, FileIdentity& out);

// FindFirstFile/FindNextFile in one call: out receives every entry of the path's
// folder whose name matches the last component ('*' and '?' matched without
// regard to case, "*.*" every name, "." and ".." included), sorted by name
// without regard to case. A last component without wildcards names one entry
// exactly. A path that ends with a separator fails, as does a search that
// finds nothing. out is cleared first.
u32 searchFiles(const std::string& path, std::vector<FindData>& out);

// True when name matches pattern ('*' any run, '?' one byte, ASCII case folded).
bool matchFileName(const std::string& pattern, const std::string& name);

u32 currentDirectory(std::string& out);
u32 setCurrentDirectory(const std::string& path);

// The parent must exist; an existing folder is an error (kFileErrorAlreadyExists).
u32 createDirectory(const std::string& path);
u32 removeDirectory(const std::string& path);

// A file whose owner write bit is clear stands for a read-only file: it is not
// deleted (kFileErrorAccessDenied), whoever asks. A link is removed itself.
u32 deleteFile(const std::string& path);

// Copies over an existing target in place (a running executable gives
// kFileErrorSharingViolation); an existing target keeps its mode, a new one
// takes the source's. Copying a file onto itself is refused.
u32 copyFile(const std::string& from, const std::string& to);

// Rename, replacing an existing target unless that target is read-only.
u32 moveFile(const std::string& from, const std::string& to);

// Opens the path for reading and closes it again; a folder is refused.
u32 checkReadable(const std::string& path);

// Reads the whole file into out (replaced only on success); a folder is refused.
u32 readFile(const std::string& path, std::string& out);

// Replaces the file's contents so that a crash or a refused write at any point
// leaves either the old file whole or the new one: the bytes go to a new
// temporary file beside the target, which is flushed to disk and then renamed
// over it (and the folder flushed). The temporary file is removed on failure,
// and those that writers killed mid-write left beside it on the next write.
// A link is followed, so the link stays and its target is replaced. An
// existing target keeps its mode; a read-only one (owner write bit clear) or
// a folder is refused with kFileErrorAccessDenied, as writing it in place
// would be. written, when given, receives the new file's last-write time.
u32 writeFileAtomically(const std::string& path, std::string_view bytes,
                        FileTime* written = nullptr);

// As writeFileAtomically, for secrets such as private keys: the new file is
// created, and stays, readable and writable by its owner only (0600), even
// when the file it replaces had a looser mode.
u32 writeSecretFileAtomically(const std::string& path, std::string_view bytes);

// $TMPDIR, or "/tmp/", always with a trailing separator.
u32 tempPath(std::string& out);

// Creates a new empty file "<prefix><hex>.tmp" in dir, exclusively, and gives its path.
u32 createTempFile(const std::string& dir, const std::string& prefix, std::string& out);

// The full path of the running program file.
u32 modulePath(std::string& out);

}  // namespace zuPlatform
