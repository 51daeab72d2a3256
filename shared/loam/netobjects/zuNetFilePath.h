#pragma once
// Turns a file name that came from the network into a path inside a root
// folder that the server chose. Nothing from the network may reach a file
// outside it: absolute names, drive letters, ".." components and control
// bytes are refused, and links are resolved and must stay inside too.
#include <string>

// 0 with path set to the resolved file, or an errno value: EACCES for a name
// that is refused or leads outside the root, otherwise what the file system
// reported. For reading the file must exist; for writing its folder must,
// and an existing target may not be a folder.
int zuResolveNetFileName(const std::string& root, const std::string& name, bool forWriting,
                         std::string& path);

// The root in this system's own form (separators as '/'), as the checks on
// an opened file take it.
std::string zuNetFileRoot(const std::string& root);
