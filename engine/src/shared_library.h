#pragma once
// The platform's loader of shared libraries: dlopen on Linux, LoadLibrary on Windows.
#include <filesystem>
#include <string>

namespace maps_host {

// Opens the library at `path` (absolute, so no search path is consulted). Null on failure, with
// the loader's reason in `reason`.
void* OpenSharedLibrary(const std::filesystem::path& path, std::string& reason);
// The address of an exported function, null when the library has none of that name.
void* FindExport(void* library, const char* name);
void CloseSharedLibrary(void* library);

}  // namespace maps_host
