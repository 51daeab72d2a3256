#pragma once
// File-system helpers. Every one reports failure by its result (false, an
// empty string, or nothing added) and none throws. Paths may use '\' or '/'.
#include <string>
#include <vector>

#include "loam/base/zuPath.h"

class zuDate;
class zuTimeOfDay;

// The empty path succeeds without doing anything.
bool zuSetCurrentDirectory(const std::string& path);

// Empty when it fails or does not fit a 260-byte path buffer.
std::string zuGetCurrentDirectory();

// One trailing '\' is dropped; the parent must exist; an existing folder fails.
bool zuCreateDirectory(const std::string& path);

// Removes dir with everything in it, files before the folder holding them.
// A file that cannot be deleted (read-only, in use) stops the walk and leaves
// its folder and every parent in place. Links are removed, never followed.
bool zuRemoveDirectoryTree(const std::string& dir);

// One trailing '\' is dropped (a trailing '/' is not, and fails).
bool zuIsDirectory(const std::string& path);

// The program file's full path, its folder (ending with the separator) and
// its file name; found on first use and kept. Empty when it cannot be found
// or does not fit a 260-byte path buffer; the next call tries again.
const std::string& zuGetModulePath();
const std::string& zuGetModuleDirectory();
const std::string& zuGetModuleFileName();

// The local last-write date and time (to the millisecond) of the first entry
// the path finds; false, with both left untouched, when nothing is found.
bool zuGetFileTime(const std::string& path, zuDate& date, zuTimeOfDay& time);

// The file can be opened for reading; a folder counts as missing.
bool zuFileExists(const std::string& path);

bool zuDeleteFile(const std::string& path);

// Replaces an existing target.
bool zuMoveFile(const std::string& from, const std::string& to);

// Overwrites an existing target; a file is never copied onto itself.
bool zuCopyFile(const std::string& from, const std::string& to);

// The temporary folder, ending with a separator; empty when it fails or does
// not fit a 260-byte path buffer.
std::string zuGetTempPath();

// Creates a new empty file with a unique "tmp" name in dir (the temporary
// folder when dir is empty, "." when that fails) and returns its path; empty
// when no file could be created.
std::string zuGetTempFileName(const std::string& dir);

// Appends zuAppendPath(dir, name) for every entry of dir that matches pattern
// and is not a folder; with recursive, then does the same in each subfolder
// (links to folders are neither listed nor entered). out is not cleared.
void zuFindFiles(const std::string& dir, const std::string& pattern, std::vector<std::string>& out,
                 bool recursive);
