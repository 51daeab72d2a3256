#pragma once
// A folder under the temporary folder that belongs to one harness process,
// removed at exit: harnesses run side by side (the same one from other
// checkouts, or in parallel runs) must not clear each other's files.
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

struct FuzzScratchFolder {
  explicit FuzzScratchFolder(const std::string& prefix) {
    std::random_device random;
    do {
      path = std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path));
  }
  ~FuzzScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  FuzzScratchFolder(const FuzzScratchFolder&) = delete;
  FuzzScratchFolder& operator=(const FuzzScratchFolder&) = delete;

  std::filesystem::path path;
};
