#pragma once
// A fresh directory under the system's temporary one, removed with everything in it at the end.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace test_support {

class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& label = "scratch")
      : path_(std::filesystem::temp_directory_path() /
              ("ntrip-test-" + std::to_string(getpid()) + "-" + label + "-" +
               std::to_string(next_++))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  static inline std::atomic<int> next_{0};
  std::filesystem::path path_;
};

}  // namespace test_support
