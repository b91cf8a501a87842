#include "demo.h"

#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <system_error>

namespace ntrip_host {

namespace fs = std::filesystem;

fs::path FindDemoData(const fs::path& executable) {
  const fs::path directory = executable.parent_path().parent_path() / NTRIP_DEMO_DATA_SUBDIR;
  std::error_code error;
  if (fs::is_regular_file(directory / kDemoRecording, error)) return directory;
  throw std::runtime_error(std::string("the demo recording ") + kDemoRecording + " is not in " +
                           directory.string());
}

std::unique_ptr<caster::ReplayCaster> StartDemoCaster(const fs::path& data_directory,
                                                      std::vector<std::string>& mount_names) {
  caster::CasterOptions options;
  options.listen_address = "127.0.0.1";
  options.port = 0;
  options.user = kDemoUser;
  options.password = kDemoPassword;
  options.live_time = true;  // so the age of the corrections on the status line is real
  // The recording holds one epoch per pass; at 3 kB/s a pass takes under a second, so the age
  // shown stays under a second as with a live 1 Hz stream.
  options.rate = 3000;
  options.whole_frames = true;
  options.mounts.push_back(
      {kDemoMount, caster::ReadFileBytes((data_directory / kDemoRecording).string())});

  std::vector<fs::path> others;
  for (const fs::directory_entry& entry : fs::directory_iterator(data_directory)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || path.filename() == kDemoRecording) continue;
    if (path.extension() == ".md" || path.extension() == ".txt") continue;  // attributions
    others.push_back(path);
  }
  std::sort(others.begin(), others.end());
  for (const fs::path& path : others) {
    options.mounts.push_back({path.stem().string(), caster::ReadFileBytes(path.string())});
  }
  mount_names.clear();
  for (const caster::MountPoint& mount : options.mounts) mount_names.push_back(mount.name);
  return std::make_unique<caster::ReplayCaster>(std::move(options));
}

fs::path DemoOutputFolder(const fs::path& executable) {
  const fs::path build_directory = executable.parent_path().parent_path();
  std::error_code error;
  if (fs::is_regular_file(build_directory / "CMakeCache.txt", error) &&
      access(build_directory.string().c_str(), W_OK) == 0) {
    return build_directory;
  }
  // Installed: never beside the program (root could write into /usr), but a folder this run
  // makes for itself, readable by its user alone (the logs name the position). Only a folder
  // this call created is used, never one that someone else left under that name.
  const fs::path temp = fs::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path folder = temp / ("ntrip-host-demo-" + std::to_string(random() % 1000000000));
    if (fs::create_directory(folder, error)) {
      fs::permissions(folder, fs::perms::owner_all, error);
      return folder;
    }
  }
  throw std::runtime_error("cannot create a folder for the demo's output in " + temp.string() +
                           (error ? ": " + error.message() : std::string()));
}

std::size_t ServedBytes(const caster::ReplayCaster& caster) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < caster.ConnectionCount(); ++i) {
    total += caster.Connection(i).served_bytes;
  }
  return total;
}

std::string CompareRawWithServed(const fs::path& raw_file, const caster::ReplayCaster& caster) {
  std::string served;
  for (std::size_t i = 0; i < caster.ConnectionCount(); ++i) served += caster.Connection(i).served;
  std::string raw;
  try {
    raw = caster::ReadFileBytes(raw_file.string());
  } catch (const std::exception& error) {
    return std::string("no (") + error.what() + ")";
  }
  if (served.empty()) return "no (the caster served nothing: the component never got the stream)";
  if (raw == served) return "yes";
  const auto mismatch = std::mismatch(raw.begin(), raw.end(), served.begin(), served.end());
  const auto offset = static_cast<std::size_t>(mismatch.first - raw.begin());
  std::string why = std::to_string(raw.size()) + " bytes written, " +
                    std::to_string(served.size()) + " served over " +
                    std::to_string(caster.ConnectionCount()) + " connection(s), ";
  if (offset == raw.size()) {
    why += "the output is a prefix of what was served";
  } else if (offset == served.size()) {
    why += "the output holds everything served and more";
  } else {
    why += "first difference at byte " + std::to_string(offset);
  }
  return "no (" + why + ")";
}

}  // namespace ntrip_host
