#include "ExternalTool.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace tw::test {

bool haveTool(const std::string& name) {
  return runTool("command -v " + shellQuote(name) + " >/dev/null 2>&1") == 0;
}

int runTool(const std::string& commandLine, std::string* output) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(commandLine.c_str(), "r"), pclose);
  if (!pipe) return -1;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe.get())) > 0) {
    if (output) output->append(chunk, n);
  }
  const int status = pclose(pipe.release());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string shellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string readFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace tw::test
