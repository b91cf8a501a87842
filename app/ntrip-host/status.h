#pragma once
// What the program's outputs have carried so far, and the one-line status made of it. The output
// consumers feed it from their threads; the main thread reads it once a second.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "connection_watch.h"
#include "rtcm/frame_scanner.h"

namespace rtcm {
class ChunkSummarizer;
}

namespace ntrip_host {

// What the decoder makes of the raw stream: the latest completed epoch, its age, the station
// and the satellites each system carries in it (counted from the frames, every system).
class EpochWatch {
 public:
  EpochWatch();
  ~EpochWatch();
  void Feed(std::string_view bytes);
  // Another connection or source: its epochs are dated against the clock, not against the times
  // of the stream before, and its station and satellites are its own. The ages stay for the run.
  void Restart();
  std::optional<double> Age() const;        // seconds; none before the first epoch
  int Station() const { return station_; }  // -1 before the first 1005/1006
  // Distance in km from a position (degrees, metres) to the station's reference point.
  std::optional<double> StationKm(const std::optional<std::array<double, 3>>& from) const;
  const std::map<std::string, int>& Satellites() const { return latest_sats_; }
  // "epochs 12, age at arrival p50 0.3 s max 0.9 s": the median of the latest kAgeWindow epochs.
  std::string Summary() const;

 private:
  // `last`: the frame's multiple-message bit says no more messages of its epoch follow.
  void CountSatellites(bool last);
  std::unique_ptr<rtcm::ChunkSummarizer> decoder_;
  std::uint64_t epochs_ = 0;
  bool have_epoch_ = false;
  std::int64_t epoch_time_ = 0;  // GPS seconds and fraction of the latest completed epoch
  double epoch_fraction_ = 0;
  // The ages of the latest epochs at their completion, in a fixed ring: a run of weeks keeps the
  // same memory as a run of minutes. The median is over this window, the maximum over the run.
  static constexpr std::size_t kAgeWindow = 3600;
  std::vector<double> ages_;
  std::size_t next_age_ = 0;  // where the next age goes once the ring is full
  double max_age_ = 0;
  int station_ = -1;
  std::optional<std::array<double, 3>> station_ecef_;
  // The satellites of the epoch being received (each system's set, so that two messages of one
  // system in one epoch count a satellite once), and those of the latest complete epoch.
  bool counting_ = false;
  std::int64_t counting_time_ = 0;
  double counting_fraction_ = 0;
  std::map<std::string, std::uint64_t> counting_sets_;
  std::map<std::string, int> latest_sats_;
};

// Counts the RTCM 3 message types of a byte stream cut anywhere: a frame may straddle elements.
// Only frames with a right CRC count.
class FrameTypeCounter {
 public:
  std::size_t Feed(std::string_view bytes);  // the frames it completed
  void Restart();                            // a frame never spans two connections
  const std::map<int, std::uint64_t>& Counts() const { return counts_; }

 private:
  rtcm::FrameScanner scanner_;
  std::map<int, std::uint64_t> counts_;
};

class RunStatus {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RunStatus(Clock::time_point start) : start_(start), last_line_(start) {}

  void OnRaw(std::string_view bytes, Clock::time_point now);
  // The link is up again, to the same source or another: see EpochWatch::Restart.
  void OnNewConnection();
  void OnDecoded(std::string_view bytes);

  // Waits until the raw output has carried at least `bytes`, or until `deadline`.
  bool WaitForRawBytes(std::uint64_t bytes, Clock::time_point deadline);

  // The latest position sample: latitude, longitude (degrees), altitude (m).
  void OnPosition(double latitude, double longitude, double altitude);

  // One second's status; the rate is over the time since the previous call.
  struct Fields {
    double elapsed = 0;
    ConnectionWatch::Snapshot connection;
    std::optional<double> age;
    int station = -1;
    std::optional<double> station_km;
    std::map<std::string, int> satellites;
    std::optional<std::uint64_t> bad_nmea;  // none without an NMEA source
    std::uint64_t raw_bytes = 0, raw_elements = 0, decoded_elements = 0;
    double rate_kbps = 0;
    std::string types;
    std::optional<double> last_correction_ago;
    // The source in use: "H:P/M", from 1, switches so far; `source_text` leads the line when
    // there are fallbacks.
    std::string source, source_text;
    std::size_t source_index = 1;
    std::uint64_t switches = 0;
  };
  Fields Take(Clock::time_point now, ConnectionWatch::Snapshot connection,
              std::optional<std::uint64_t> bad_nmea);
  // "connected to H:P/M | reconnects 1, last gap 2.0 s | age 0.4 s | station 2003 12.3 km |
  // sats GPS:10 GLO:8 | bad NMEA 0 | 12 s | raw 2048 B ..."
  static std::string Line(const Fields& fields);
  // The line for a terminal, at most `width` characters: the link's state, age, satellites and
  // rate first, then what else fits.
  static std::string ShortLine(const Fields& fields, std::size_t width);
  // The line's first part: "connected to H:P/M | reconnects 1, last gap 2.0 s".
  static std::string LinkPart(const ConnectionWatch::Snapshot& link);
  static nlohmann::json Json(const Fields& fields);
  // Totals for the end of a run: "connected 55.0 s, reconnects 1, raw 2048 B in 2 elements, ...".
  std::string Summary(const ConnectionWatch::Snapshot& connection) const;

 private:
  std::string TypesText() const;  // with mutex_ held

  const Clock::time_point start_;
  mutable std::mutex mutex_;
  std::condition_variable raw_arrived_;
  std::uint64_t raw_bytes_ = 0;
  std::uint64_t raw_elements_ = 0;
  std::uint64_t decoded_bytes_ = 0;
  std::uint64_t decoded_elements_ = 0;
  FrameTypeCounter types_;
  EpochWatch epochs_;
  std::optional<Clock::time_point> last_correction_;  // the latest RTCM 3 frame with a right CRC
  Clock::time_point last_line_;
  std::uint64_t raw_bytes_at_last_line_ = 0;
  std::optional<std::array<double, 3>> position_;
};

}  // namespace ntrip_host
