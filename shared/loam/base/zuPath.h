#pragma once
// Path strings taken apart and put together without touching the file system.
// Both '\' and '/' count as separators when a path is read; '/' is the one
// written when a separator is added (the system's own, so that paths made
// here work as they are in every call that takes a path). Nothing is normalised: no case folding,
// no collapsing of ".." or of repeated separators.
#include <string>

// True for '\' and '/'.
bool zuIsPathSeparator(char c);

// "\x", "/x", "C:\x" and "C:/x" are absolute; "", "C:", "C:x" and "1:\x" are not.
bool zuIsAbsolutePath(const std::string& path);

// dir + name with a '/' between them only when neither side brings a separator;
// an empty side gives the other unchanged.
std::string zuAppendPath(const std::string& dir, const std::string& name);

// An absolute path moved under root ("D:\data\x" under "C:\copy" gives
// "C:\copy\data\x"); a relative path is returned unchanged.
std::string zuRebasePath(const std::string& root, const std::string& path);

// Splits after the last separator or ':' that is not the first character:
// "C:\dir\file.txt" gives "C:\dir\" and "file.txt"; "\file" gives "" and "\file".
void zuSplitPath(const std::string& path, std::string& dir, std::string& name);

// A single file name that is safe to join to a folder: not empty, not "." or
// "..", and without '/', '\', ':' or control bytes. For names that arrive from
// outside (the network) before they become paths.
bool zuIsPlainFileName(const std::string& name);
