#pragma once
// The demo's caster: the bundled recordings served on 127.0.0.1 from inside ntrip-host, and the
// final check that the raw output holds exactly what the caster sent.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "replay_caster.h"

namespace ntrip_host {

inline constexpr const char* kDemoMount = "DEMO";
inline constexpr const char* kDemoRecording = "pygpsdata-RTCM3.log";
inline constexpr const char* kDemoUser = "demo";
inline constexpr const char* kDemoPassword = "demo";
inline constexpr const char* kDemoPosition = "48.8584,2.2945,35,0.02";

// <bin>/../share/ntrip-host/data, where the build tree and an installed prefix hold the
// recordings; throws std::runtime_error when the demo recording is not there.
std::filesystem::path FindDemoData(const std::filesystem::path& executable);

// Mount "DEMO" serves the demo recording; every other recording is served under its file stem.
// Binds 127.0.0.1 on a free port and requires the demo user and password.
std::unique_ptr<caster::ReplayCaster> StartDemoCaster(const std::filesystem::path& data_directory,
                                                      std::vector<std::string>& mount_names);

// Where the demo writes its raw output and log files unless told otherwise: the build folder
// when the program runs from a build tree it may write, else a new private folder in the
// temporary directory. Throws std::runtime_error when that folder cannot be made.
std::filesystem::path DemoOutputFolder(const std::filesystem::path& executable);

// "yes", or "no (<why>)": the file against every connection's served bytes, in accept order.
std::string CompareRawWithServed(const std::filesystem::path& raw_file,
                                 const caster::ReplayCaster& caster);

// Total payload bytes the caster has sent over every connection.
std::size_t ServedBytes(const caster::ReplayCaster& caster);

}  // namespace ntrip_host
