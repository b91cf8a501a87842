#include "shared_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace maps_host {

#ifdef _WIN32

namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length > 0 ? std::string(text, length) : "";
  LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
    reason.pop_back();
  return reason.empty() ? "error " + std::to_string(code) : reason;
}

}  // namespace

void* OpenSharedLibrary(const std::filesystem::path& path, std::string& reason) {
  // The package's own folder is searched for the DLLs it needs, not the program's.
  HMODULE library = LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (library == nullptr) reason = LastErrorText();
  return reinterpret_cast<void*>(library);
}

void* FindExport(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSharedLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

#else

void* OpenSharedLibrary(const std::filesystem::path& path, std::string& reason) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* text = dlerror();
    reason = text != nullptr ? text : "not a shared library";
  }
  return library;
}

void* FindExport(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseSharedLibrary(void* library) {
  dlclose(library);
}

#endif

}  // namespace maps_host
