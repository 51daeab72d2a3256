#pragma once
// Files and folders for the foundation's file helpers, in the shape of the
// Windows file API they were written against. Every function takes paths as
// the library writes them ('\' or '/' as separators) and reports failure as a
// Windows error number (0 for success), mapped from errno.
#include <string>
#include <string_view>
#include <vector>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// Windows error numbers the file functions report.
inline constexpr u32 kFileErrorNone = 0;
inline constexpr u32 kFileErrorFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr u32 kFileErrorPathNotFound = 3;       // ERROR_PATH_NOT_FOUND
inline constexpr u32 kFileErrorTooManyOpenFiles = 4;   // ERROR_TOO_MANY_OPEN_FILES
inline constexpr u32 kFileErrorAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr u32 kFileErrorNotEnoughMemory = 8;    // ERROR_NOT_ENOUGH_MEMORY
inline constexpr u32 kFileErrorNotSameDevice = 17;     // ERROR_NOT_SAME_DEVICE
inline constexpr u32 kFileErrorWriteProtect = 19;      // ERROR_WRITE_PROTECT
inline constexpr u32 kFileErrorGeneralFailure = 31;    // ERROR_GEN_FAILURE
inline constexpr u32 kFileErrorSharingViolation = 32;  // ERROR_SHARING_VIOLATION
inline constexpr u32 kFileErrorFileExists = 80;        // ERROR_FILE_EXISTS
inline constexpr u32 kFileErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr u32 kFileErrorBufferOverflow = 111;   // ERROR_BUFFER_OVERFLOW
inline constexpr u32 kFileErrorDiskFull = 112;         // ERROR_DISK_FULL
inline constexpr u32 kFileErrorDirNotEmpty = 145;      // ERROR_DIR_NOT_EMPTY
inline constexpr u32 kFileErrorAlreadyExists = 183;    // ERROR_ALREADY_EXISTS
inline constexpr u32 kFileErrorNameTooLong = 206;      // ERROR_FILENAME_EXCED_RANGE
inline constexpr u32 kFileErrorDirectory = 267;        // ERROR_DIRECTORY
inline constexpr u32 kFileErrorIoDevice = 1117;        // ERROR_IO_DEVICE
inline constexpr u32 kFileErrorCantResolve = 1921;     // ERROR_CANT_RESOLVE_FILENAME

// The Windows error number that stands for an errno value of a file call.
u32 fileErrorFromErrno(int err);

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
// over it (and the folder flushed). The temporary file is removed on failure.
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
