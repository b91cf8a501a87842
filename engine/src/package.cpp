#include "package.h"

#include <string>
#include <system_error>

#include "property_set.h"
#include "shared_library.h"

namespace maps_host {
namespace {

using PackageInit = int (*)(MAPS::Kernel*, int);
using ModulesGetter = const MAPS::ModuleList* (*)();

void CheckDefinition(const MAPS::ModuleDefinition& module) {
  if (module.model == nullptr || *module.model == '\0' || module.version == nullptr ||
      module.create == nullptr) {
    throw std::invalid_argument("a module has no model name, version or factory");
  }
  const std::string model = module.model;
  for (const MAPS::InputDefinition& input : module.inputs) {
    if (input.name == nullptr || *input.name == '\0') {
      throw std::invalid_argument("an input of " + model + " has no name");
    }
  }
  for (const MAPS::OutputDefinition& output : module.outputs) {
    if (output.name == nullptr || *output.name == '\0') {
      throw std::invalid_argument("an output of " + model + " has no name");
    }
    if (output.buffer_size <= 0 || output.fifo_size <= 0) {
      throw std::invalid_argument("output " + std::string(output.name) + " of " + model +
                                  " has no buffer or no FIFO");
    }
  }
  PropertySet check(module);  // throws for unusable property definitions
}

}  // namespace

std::shared_ptr<const Package> Package::Load(const std::filesystem::path& path,
                                             MAPS::Kernel& kernel) {
  const std::string shown = path.string();
  std::error_code error;
  // Checked before the loader opens it: a FIFO would hold the open until a writer comes.
  if (!std::filesystem::is_regular_file(path, error)) {
    const bool exists = std::filesystem::exists(path, error);
    throw PackageError("Cannot load package " + shown + ": " +
                       (exists ? "not a regular file" : "no such file"));
  }
  // An absolute path keeps the loader from searching the library paths for a bare name.
  std::string reason;
  void* library = OpenSharedLibrary(std::filesystem::absolute(path), reason);
  if (library == nullptr) throw PackageError("Cannot load package " + shown + ": " + reason);
  std::shared_ptr<Package> package(new Package(path, library));

  auto init = reinterpret_cast<PackageInit>(FindExport(library, "MAPSPckInit"));
  auto modules = reinterpret_cast<ModulesGetter>(FindExport(library, "MAPSGetModulesDefStruct"));
  if (init == nullptr || modules == nullptr) {
    throw PackageError(shown + " is not a package: it does not export " +
                       (init == nullptr ? "MAPSPckInit" : "MAPSGetModulesDefStruct"));
  }
  if (init(&kernel, MAPS::kKernelInterfaceVersion) != 0) {
    throw PackageError("Package " + shown + " refused kernel interface version " +
                       std::to_string(MAPS::kKernelInterfaceVersion));
  }
  const MAPS::ModuleList* list = modules();
  if (list == nullptr || list->modules.empty()) {
    throw PackageError("Package " + shown + " declares no module");
  }
  for (const MAPS::ModuleDefinition* module : list->modules) {
    if (module == nullptr) throw PackageError("Package " + shown + " declares an empty module");
    try {
      CheckDefinition(*module);
    } catch (const std::invalid_argument& bad) {
      throw PackageError("Package " + shown + ": " + bad.what());
    }
  }
  package->modules_ = list->modules;
  return package;
}

Package::~Package() {
  CloseSharedLibrary(library_);
}

const MAPS::ModuleDefinition* Package::FindModel(std::string_view model) const {
  for (const MAPS::ModuleDefinition* module : modules_) {
    if (module->model == model) return module;
  }
  return nullptr;
}

}  // namespace maps_host
