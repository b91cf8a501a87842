#include "status.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "common/decimal_text.h"
#include "rtcm/frame.h"
#include "rtcm/gnss_time.h"
#include "rtcm/summary.h"

namespace ntrip_host {

namespace {

constexpr double kSameEpoch = 0.01;  // seconds

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// WGS 84 geodetic (degrees, metres) to earth-centred, earth-fixed metres.
std::array<double, 3> Ecef(const std::array<double, 3>& position) {
  constexpr double kA = 6378137.0;
  constexpr double kF = 1.0 / 298.257223563;
  constexpr double kE2 = kF * (2.0 - kF);
  constexpr double kRadians = 3.14159265358979323846 / 180.0;
  const double lat = position[0] * kRadians, lon = position[1] * kRadians;
  const double n = kA / std::sqrt(1.0 - kE2 * std::sin(lat) * std::sin(lat));
  return {(n + position[2]) * std::cos(lat) * std::cos(lon),
          (n + position[2]) * std::cos(lat) * std::sin(lon),
          (n * (1.0 - kE2) + position[2]) * std::sin(lat)};
}

}  // namespace

std::size_t FrameTypeCounter::Feed(std::string_view bytes) {
  std::size_t frames = 0;
  scanner_.Feed({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                [this, &frames](std::span<const std::uint8_t> frame) {
                  ++frames;
                  if (const int type = rtcm::frame_message_type(frame); type != 0) ++counts_[type];
                });
  return frames;
}

void FrameTypeCounter::Restart() {
  scanner_ = rtcm::FrameScanner();
}

EpochWatch::EpochWatch() : decoder_(std::make_unique<rtcm::ChunkSummarizer>()) {}
EpochWatch::~EpochWatch() = default;

void EpochWatch::Feed(std::string_view bytes) {
  rtcm::RtcmDecoder& dec = decoder_->decoder();
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t left = bytes.size(); left > 0;) {
    std::size_t used = 0;
    const int result = rtcm::input_rtcm3_block(&dec, data, left, &used);
    data += used;
    left -= used;
    if (!dec.frame_decoded) continue;
    CountSatellites(result == 1);
    const int type = static_cast<int>(rtcm::bits_unsigned(dec.frame, 24, 12));
    if (result == 5 && (type == 1005 || type == 1006)) {
      station_ = static_cast<int>(rtcm::bits_unsigned(dec.frame, 36, 12));
      const double* ecef = dec.station.position;
      station_ecef_ = std::array<double, 3>{ecef[0], ecef[1], ecef[2]};
    }
    if (result != 1) continue;
    ++epochs_;
    have_epoch_ = true;
    epoch_time_ = dec.time.time;
    epoch_fraction_ = dec.time.sec;
    const double age = rtcm::time_diff(rtcm::current_gps_time(), dec.time);
    max_age_ = ages_.empty() ? age : std::max(max_age_, age);
    if (ages_.size() < kAgeWindow) {
      ages_.push_back(age);
    } else {
      ages_[next_age_] = age;
      next_age_ = (next_age_ + 1) % kAgeWindow;
    }
  }
}

void EpochWatch::Restart() {
  decoder_ = std::make_unique<rtcm::ChunkSummarizer>();
  have_epoch_ = false;
  station_ = -1;
  station_ecef_.reset();
  counting_ = false;
  counting_sets_.clear();
  latest_sats_.clear();
}

namespace {

// The satellites an observation message carries, one bit per satellite number; none for other
// messages. Legacy messages list their satellites record by record.
std::optional<std::pair<const char*, std::uint64_t>> SatellitesOf(const rtcm::RtcmDecoder& dec) {
  const int type = static_cast<int>(rtcm::bits_unsigned(dec.frame, 24, 12));
  static const char* const kMsmSystems[] = {"GPS", "GLO", "GAL", "SBAS", "QZSS", "BDS"};
  const auto records = [&dec](int count_at, int first, int size) {
    const int count = static_cast<int>(rtcm::bits_unsigned(dec.frame, count_at, 5));
    std::uint64_t set = 0;
    for (int i = 0; i < count && first + (i + 1) * size <= 24 + dec.len * 8; ++i) {
      const auto number = rtcm::bits_unsigned(dec.frame, first + i * size, 6);
      if (number >= 1 && number <= 64) set |= std::uint64_t{1} << (number - 1);
    }
    return set;
  };
  if (type >= 1001 && type <= 1004) {
    static constexpr int kGpsRecord[] = {58, 74, 101, 125};
    return std::pair{"GPS", records(79, 24 + 64, kGpsRecord[type - 1001])};
  }
  if (type >= 1009 && type <= 1012) {
    static constexpr int kGlonassRecord[] = {64, 79, 107, 130};
    return std::pair{"GLO", records(76, 24 + 61, kGlonassRecord[type - 1009])};
  }
  if (type >= 1071 && type <= 1127 && type % 10 >= 1 && type % 10 <= 7 && dec.len >= 24) {
    return std::pair{kMsmSystems[type / 10 - 107],
                     (std::uint64_t{rtcm::bits_unsigned(dec.frame, 97, 32)} << 32) |
                         rtcm::bits_unsigned(dec.frame, 129, 32)};
  }
  return std::nullopt;
}

}  // namespace

void EpochWatch::CountSatellites(bool last) {
  const rtcm::RtcmDecoder& dec = decoder_->decoder();
  const auto satellites = SatellitesOf(dec);
  if (!satellites) return;
  const auto publish = [this](bool whole) {
    // The next epoch started: the one before is complete, and a system it lacks is gone.
    if (whole) latest_sats_.clear();
    for (const auto& [system, set] : counting_sets_) latest_sats_[system] = std::popcount(set);
  };
  // The systems' scales resolve the same epoch to times a rounding apart, hence the tolerance.
  if (counting_ &&
      std::abs(rtcm::time_diff(dec.time, rtcm::GnssTime{counting_time_, counting_fraction_})) >
          kSameEpoch) {
    publish(true);
    counting_sets_.clear();
    counting_ = false;
  }
  if (!counting_) {
    counting_ = true;
    counting_time_ = dec.time.time;
    counting_fraction_ = dec.time.sec;
  }
  counting_sets_[satellites->first] |= satellites->second;
  // A stream may mark the end of each system's messages: what is complete shows now, the rest of
  // the epoch joins it.
  if (last) publish(false);
}

std::optional<double> EpochWatch::Age() const {
  if (!have_epoch_) return std::nullopt;
  return rtcm::time_diff(rtcm::current_gps_time(), rtcm::GnssTime{epoch_time_, epoch_fraction_});
}

std::optional<double> EpochWatch::StationKm(
    const std::optional<std::array<double, 3>>& from) const {
  if (!from || !station_ecef_) return std::nullopt;
  const std::array<double, 3> here = Ecef(*from);
  double sum = 0;
  for (int axis = 0; axis < 3; ++axis) {
    sum += ((*station_ecef_)[axis] - here[axis]) * ((*station_ecef_)[axis] - here[axis]);
  }
  return std::sqrt(sum) / 1000.0;
}

std::string EpochWatch::Summary() const {
  std::string text = "epochs " + std::to_string(epochs_);
  if (ages_.empty()) return text;
  std::vector<double> sorted = ages_;
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  return text + ", age at arrival p50 " + Fixed(*middle, 1) + " s max " + Fixed(max_age_, 1) + " s";
}

void RunStatus::OnRaw(std::string_view bytes, Clock::time_point now) {
  {
    std::scoped_lock lock(mutex_);
    raw_bytes_ += bytes.size();
    ++raw_elements_;
    // Bytes alone are no correction: garbage would look like a live stream.
    if (types_.Feed(bytes) > 0) last_correction_ = now;
    epochs_.Feed(bytes);
  }
  raw_arrived_.notify_all();
}

void RunStatus::OnNewConnection() {
  std::scoped_lock lock(mutex_);
  types_.Restart();
  epochs_.Restart();
}

bool RunStatus::WaitForRawBytes(std::uint64_t bytes, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return raw_arrived_.wait_until(lock, deadline, [&] { return raw_bytes_ >= bytes; });
}

void RunStatus::OnDecoded(std::string_view bytes) {
  std::scoped_lock lock(mutex_);
  decoded_bytes_ += bytes.size();
  ++decoded_elements_;
}

std::string RunStatus::TypesText() const {
  if (types_.Counts().empty()) return "none";
  std::string text;
  for (const auto& [type, count] : types_.Counts()) {
    if (!text.empty()) text += ' ';
    text += std::to_string(type) + ':' + std::to_string(count);
  }
  return text;
}

void RunStatus::OnPosition(double latitude, double longitude, double altitude) {
  std::scoped_lock lock(mutex_);
  position_ = std::array<double, 3>{latitude, longitude, altitude};
}

RunStatus::Fields RunStatus::Take(Clock::time_point now, ConnectionWatch::Snapshot connection,
                                  std::optional<std::uint64_t> bad_nmea) {
  std::scoped_lock lock(mutex_);
  Fields fields;
  fields.elapsed = std::chrono::duration<double>(now - start_).count();
  const double interval = std::chrono::duration<double>(now - last_line_).count();
  fields.rate_kbps =
      interval > 0 ? static_cast<double>(raw_bytes_ - raw_bytes_at_last_line_) / interval / 1000.0
                   : 0.0;
  last_line_ = now;
  raw_bytes_at_last_line_ = raw_bytes_;
  fields.connection = std::move(connection);
  fields.age = epochs_.Age();
  fields.station = epochs_.Station();
  fields.station_km = epochs_.StationKm(position_);
  fields.satellites = epochs_.Satellites();
  fields.bad_nmea = bad_nmea;
  fields.raw_bytes = raw_bytes_;
  fields.raw_elements = raw_elements_;
  fields.decoded_elements = decoded_elements_;
  fields.types = TypesText();
  if (last_correction_)
    fields.last_correction_ago = std::chrono::duration<double>(now - *last_correction_).count();
  return fields;
}

std::string RunStatus::LinkPart(const ConnectionWatch::Snapshot& link) {
  std::string text = link.state + " | reconnects " + std::to_string(link.reconnects);
  if (link.last_gap_seconds) text += ", last gap " + Fixed(*link.last_gap_seconds, 1) + " s";
  return text;
}

namespace {

std::string AgePart(const RunStatus::Fields& fields) {
  return "age " + (fields.age ? Fixed(*fields.age, 1) + " s" : std::string("-"));
}

std::string SatsPart(const RunStatus::Fields& fields) {
  std::string text = "sats";
  if (fields.satellites.empty()) text += " -";
  for (const auto& [system, count] : fields.satellites) {
    text += " " + system + ":" + std::to_string(count);
  }
  return text;
}

std::string StationPart(const RunStatus::Fields& fields) {
  std::string text =
      "station " + (fields.station < 0 ? std::string("-") : std::to_string(fields.station));
  if (fields.station_km) text += " " + Fixed(*fields.station_km, 1) + " km";
  return text;
}

std::string LastCorrectionPart(const RunStatus::Fields& fields) {
  return "last correction " + (fields.last_correction_ago
                                   ? Fixed(*fields.last_correction_ago, 1) + " s ago"
                                   : std::string("none yet"));
}

}  // namespace

std::string RunStatus::Line(const Fields& fields) {
  std::string line = fields.source_text.empty() ? std::string() : fields.source_text + " | ";
  line += LinkPart(fields.connection) + " | " + AgePart(fields) + " | " + StationPart(fields) +
          " | " + SatsPart(fields);
  line += " | bad NMEA " + (fields.bad_nmea ? std::to_string(*fields.bad_nmea) : std::string("-"));
  line += " | " + Fixed(fields.elapsed, 0) + " s | raw " + std::to_string(fields.raw_bytes) +
          " B in " + Counted(fields.raw_elements, "element") + ", " +
          Fixed(fields.rate_kbps, 1) + " kB/s | decoded " +
          Counted(fields.decoded_elements, "element") + " | types " + fields.types + " | ";
  return line + LastCorrectionPart(fields);
}

std::string RunStatus::ShortLine(const Fields& fields, std::size_t width) {
  const std::string parts[] = {
      AgePart(fields),
      SatsPart(fields),
      Fixed(fields.rate_kbps, 1) + " kB/s",
      LastCorrectionPart(fields),
      "reconnects " + std::to_string(fields.connection.reconnects),
      StationPart(fields),
      fields.source_text};
  std::string line = fields.connection.state;
  if (line.size() > width) return line.substr(0, width >= 3 ? width - 3 : 0) + "...";
  for (const std::string& part : parts) {
    if (part.empty() || line.size() + 3 + part.size() > width) continue;
    line += " | " + part;
  }
  return line;
}

nlohmann::json RunStatus::Json(const Fields& fields) {
  const auto optional = [](const auto& value) -> nlohmann::json {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
  };
  nlohmann::json sats = nlohmann::json::object();
  for (const auto& [system, count] : fields.satellites) sats[system] = count;
  return {
      {"elapsed_s", fields.elapsed},
      {"source", fields.source.empty() ? nlohmann::json(nullptr) : nlohmann::json(fields.source)},
      {"source_index", fields.source_index},
      {"switches", fields.switches},
      {"state", fields.connection.state},
      {"reconnects", fields.connection.reconnects},
      {"last_gap_s", optional(fields.connection.last_gap_seconds)},
      {"age_s", optional(fields.age)},
      {"station", fields.station < 0 ? nlohmann::json(nullptr) : nlohmann::json(fields.station)},
      {"station_km", optional(fields.station_km)},
      {"sats", sats},
      {"bad_nmea", optional(fields.bad_nmea)},
      {"raw_bytes", fields.raw_bytes},
      {"raw_elements", fields.raw_elements},
      {"decoded_elements", fields.decoded_elements},
      {"rate_kB_s", fields.rate_kbps},
      {"last_correction_s", optional(fields.last_correction_ago)}};
}

std::string RunStatus::Summary(const ConnectionWatch::Snapshot& connection) const {
  std::scoped_lock lock(mutex_);
  return "connected " + Fixed(connection.connected_seconds, 1) + " s, reconnects " +
         std::to_string(connection.reconnects) + ", raw " + std::to_string(raw_bytes_) + " B in " +
         Counted(raw_elements_, "element") + ", decoded " + std::to_string(decoded_bytes_) +
         " B in " + Counted(decoded_elements_, "element") + ", message types " + TypesText() +
         ", " + epochs_.Summary();
}

}  // namespace ntrip_host
