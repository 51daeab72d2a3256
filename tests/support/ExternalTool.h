#pragma once
// Runs ordinary command-line tools (openssl, xxd) from tests as independent
// peers, with files in a scratch folder.
#include <string>
#include <vector>

namespace tw::test {

// True when the shell finds the named program.
bool haveTool(const std::string& name);

// Runs a shell command line; returns its exit status (-1 when it could not be
// run or did not exit normally). When output is given it receives stdout.
int runTool(const std::string& commandLine, std::string* output = nullptr);

// Debian's python3: the first python3 on PATH may be another one, without the
// Debian modules (python3-cryptography, python3-dnspython, ...) the peers use.
inline constexpr const char* kPython = "/usr/bin/python3";

// Single-quotes a word for the shell.
std::string shellQuote(const std::string& word);

// Whole-file helpers for the bytes handed to and taken from the tools.
void writeFileBytes(const std::string& path, const std::string& bytes);
std::string readFileBytes(const std::string& path);

}  // namespace tw::test
