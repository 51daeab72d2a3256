#include "sshlib/VersionInfo.h"

#include <utility>

#include "sshlib/Err.h"

namespace SSH {

VersionInfo::VersionInfo(std::string protocolVersion_, std::string softwareVersion_,
                         std::string comments_, std::string line_)
    : protocolVersion(std::move(protocolVersion_)),
      softwareVersion(std::move(softwareVersion_)),
      comments(std::move(comments_)),
      line(std::move(line_)) {}

VersionInfo makeVersionString(const std::string& appNameAndVersion) {
  for (const char c : appNameAndVersion) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F)
      throw Err(Err::kInvalidArgument, "appNameAndVersion contains invalid characters");
  }
  const size_t begin = appNameAndVersion.find_first_not_of(' ');
  if (begin == std::string::npos)
    throw Err(Err::kInvalidArgument, "appNameAndVersion must not be empty");
  const size_t end = appNameAndVersion.find_last_not_of(' ');
  const std::string trimmed = appNameAndVersion.substr(begin, end - begin + 1);

  VersionInfo info("2.0", kLibraryVersion, "sshlib: " + trimmed, "");
  info.line = "SSH-" + info.protocolVersion + "-" + info.softwareVersion + " " + info.comments;
  if (info.line.size() > 253) throw Err(Err::kInvalidArgument, "appNameAndVersion is too large");
  return info;
}

VersionInfo parseVersionLine(const std::string& line) {
  const std::string rest = line.rfind("SSH-", 0) == 0 ? line.substr(4) : line;
  const size_t dash = rest.find('-');
  VersionInfo info;
  info.line = line;
  info.protocolVersion = rest.substr(0, dash);
  if (dash != std::string::npos) {
    const size_t blank = rest.find(' ', dash + 1);
    info.softwareVersion = rest.substr(dash + 1, blank == std::string::npos ? std::string::npos
                                                                            : blank - dash - 1);
    if (blank != std::string::npos) info.comments = rest.substr(blank + 1);
  }
  const std::string& p = info.protocolVersion;
  if (p.empty() || (p[0] == '1' && p != "1.99")) throwProtocolError("protocol version not supported");
  return info;
}

}  // namespace SSH
