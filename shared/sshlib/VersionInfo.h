#pragma once
// An identification line ("SSH-protoversion-softwareversion comments") and
// its parts.
#include <string>

namespace SSH {

struct VersionInfo {
  VersionInfo() = default;
  VersionInfo(std::string protocolVersion, std::string softwareVersion, std::string comments,
              std::string line);

  std::string protocolVersion;  // "2.0" for the local side
  std::string softwareVersion;
  std::string comments;         // may be empty
  std::string line;             // the whole line from "SSH-", without CR LF

  bool operator==(const VersionInfo&) const = default;
};

// The library's own software version.
inline constexpr const char* kLibraryVersion = "1.27";

// The local identification for an application name and version text: line
// "SSH-2.0-1.27 sshlib: " + the text without surrounding blanks. A control
// character or DEL, an empty text or a line over 253 characters (255 with
// CR LF) is refused with SSH::Err category 2.
VersionInfo makeVersionString(const std::string& appNameAndVersion);

// Splits a received identification line (CR LF already removed, starting with
// "SSH-") into its parts. A protocol version that is empty, or starts with
// '1' and is not "1.99", throws CauseToDisconnect "protocol version not
// supported".
VersionInfo parseVersionLine(const std::string& line);

}  // namespace SSH
