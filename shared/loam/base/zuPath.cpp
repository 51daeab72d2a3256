#include "loam/base/zuPath.h"

namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool startsWithDrive(const std::string& path) {
  return path.size() >= 3 && isAsciiLetter(path[0]) && path[1] == ':' && zuIsPathSeparator(path[2]);
}

}  // namespace

bool zuIsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool zuIsAbsolutePath(const std::string& path) {
  if (path.empty()) return false;
  return zuIsPathSeparator(path[0]) || startsWithDrive(path);
}

std::string zuAppendPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (name.empty()) return dir;
  std::string out = dir;
  if (!zuIsPathSeparator(dir.back()) && !zuIsPathSeparator(name.front())) out += '/';
  out += name;
  return out;
}

std::string zuRebasePath(const std::string& root, const std::string& path) {
  if (!zuIsAbsolutePath(path)) return path;
  return zuAppendPath(root, startsWithDrive(path) ? path.substr(2) : path);
}

void zuSplitPath(const std::string& pathIn, std::string& dir, std::string& name) {
  const std::string path = pathIn;  // dir or name may be the caller's path itself
  // The first character is never a split point, so "\file" stays one name.
  for (size_t i = path.size(); i-- > 1;) {
    if (zuIsPathSeparator(path[i]) || path[i] == ':') {
      dir = path.substr(0, i + 1);
      name = path.substr(i + 1);
      return;
    }
  }
  dir.clear();
  name = path;
}

bool zuIsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}
