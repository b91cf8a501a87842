#pragma once
// A loaded package: the shared library, opened by path, and its module definitions.
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>

#include "maps_kernel.h"

namespace maps_host {

class PackageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Package {
 public:
  // Opens the library, checks its two exports, hands it `kernel` and checks every definition.
  // Throws PackageError naming the path.
  static std::shared_ptr<const Package> Load(const std::filesystem::path& path,
                                             MAPS::Kernel& kernel);
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::span<const MAPS::ModuleDefinition* const> Modules() const { return modules_; }
  const MAPS::ModuleDefinition* FindModel(std::string_view model) const;

 private:
  Package(std::filesystem::path path, void* library) : path_(std::move(path)), library_(library) {}

  std::filesystem::path path_;
  void* library_;
  std::span<const MAPS::ModuleDefinition* const> modules_;
};

}  // namespace maps_host
