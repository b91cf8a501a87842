#include "platform_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstring>
#include <system_error>

namespace ntrip_host {

namespace fs = std::filesystem;

namespace {

std::string Variable(const EnvironmentLookup& environment, const char* name) {
  const char* value = environment(name);
  return value != nullptr ? value : "";
}

}  // namespace

#ifdef _WIN32

fs::path CurrentExecutable() {
  std::wstring name(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) return fs::path(name.substr(0, length));
    name.resize(name.size() * 2);
  }
}

fs::path DefaultLogDirectory(const EnvironmentLookup& environment) {
  const std::string local = Variable(environment, "LOCALAPPDATA");
  if (local.empty()) return {};
  return fs::path(local) / "ntrip-host" / "logs";
}

// A folder under the user's profile inherits the profile's access list: the user's alone.
std::string CreatePrivately(const fs::path& directory) {
  std::error_code error;
  fs::create_directories(directory, error);
  return error ? "cannot create " + directory.string() + ": " + error.message() : std::string();
}

#else

fs::path CurrentExecutable() {
  std::error_code error;
  fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : path;
}

fs::path DefaultLogDirectory(const EnvironmentLookup& environment) {
  // systemd may list several directories, separated by colons: the first is the unit's own.
  const std::string service = Variable(environment, "STATE_DIRECTORY");
  if (!service.empty()) return fs::path(service.substr(0, service.find(':'))) / "logs";
  // A relative XDG_STATE_HOME is invalid and ignored.
  const std::string xdg = Variable(environment, "XDG_STATE_HOME");
  if (!xdg.empty() && xdg.front() == '/') return fs::path(xdg) / "ntrip-host" / "logs";
  const std::string home = Variable(environment, "HOME");
  if (!home.empty()) return fs::path(home) / ".local" / "state" / "ntrip-host" / "logs";
  return {};
}

std::string CreatePrivately(const fs::path& directory) {
  fs::path made;
  for (const fs::path& part : directory) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + made.string() + ": " + std::strerror(errno);
    }
  }
  return {};
}

#endif

}  // namespace ntrip_host
