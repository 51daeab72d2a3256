#include "loam/netobjects/zuNetFilePath.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The name's components, or false when one of them is refused.
bool splitName(const std::string& name, std::vector<std::string>& parts) {
  if (name.empty() || isSeparator(name.front())) return false;
  std::string part;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || isSeparator(name[i])) {
      if (part == "..") return false;
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
      continue;
    }
    const auto b = static_cast<unsigned char>(name[i]);
    // ':' would name a drive or a stream on the system this serves.
    if (b < 0x20 || b == 0x7F || name[i] == ':') return false;
    part += name[i];
  }
  return !parts.empty();
}

bool isInside(const fs::path& root, const fs::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *r != *p) return false;
  }
  return true;
}

int errnoOf(const std::error_code& ec) { return ec.value() != 0 ? ec.value() : EIO; }

}  // namespace

std::string zuNetFileRoot(const std::string& root) {
  std::string native = root;
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

int zuResolveNetFileName(const std::string& root, const std::string& name, bool forWriting,
                         std::string& path) {
  std::vector<std::string> parts;
  if (root.empty() || !splitName(name, parts)) return EACCES;
  std::error_code ec;
  const fs::path base = fs::canonical(zuNetFileRoot(root), ec);
  if (ec) return errnoOf(ec);

  fs::path joined = base;
  for (const std::string& part : parts) joined /= part;

  fs::path resolved;
  if (!forWriting) {
    resolved = fs::canonical(joined, ec);
    if (ec) return errnoOf(ec);
  } else {
    const fs::path folder = fs::canonical(joined.parent_path(), ec);
    if (ec) return errnoOf(ec);
    if (!isInside(base, folder)) return EACCES;
    resolved = folder / joined.filename();
    const fs::file_status link = fs::symlink_status(resolved, ec);
    if (!ec && fs::is_symlink(link)) {
      // A link is written through: its target must be inside as well.
      resolved = fs::weakly_canonical(resolved, ec);
      if (ec) return errnoOf(ec);
    }
    ec.clear();
    if (fs::is_directory(resolved, ec)) return EISDIR;
  }
  if (!isInside(base, resolved)) return EACCES;
  path = resolved.string();
  return 0;
}
