#include "live_time.h"

#include <chrono>
#include <map>

#include "rtcm/frame.h"
#include "rtcm/frame_scanner.h"
#include "rtcm/gnss_time.h"

namespace caster {

namespace {

constexpr std::int64_t kDay = 86'400'000;
constexpr std::int64_t kWeek = 7 * kDay;
constexpr std::int64_t kGpsOriginUnixMs = 315'964'800'000;
constexpr std::int64_t kBeidouMs = static_cast<std::int64_t>(rtcm::kGpsMinusBeidouSeconds * 1000);
constexpr std::int64_t kMoscowMs = static_cast<std::int64_t>(rtcm::kGlonassMinusUtcSeconds * 1000);

// GPS - UTC now, from the decoder's leap second table.
std::int64_t LeapMs() {
  return static_cast<std::int64_t>(rtcm::gps_minus_utc_seconds(rtcm::system_utc_time()) * 1000);
}

enum class Scale { None, Gps, Glonass, GlonassMsm, Beidou };

// Every observation message carries its epoch at message bit 24 (frame bit 48).
Scale ScaleOf(int type) {
  if (type >= 1001 && type <= 1004) return Scale::Gps;
  if (type >= 1009 && type <= 1012) return Scale::Glonass;
  if (type < 1071 || type > 1127 || type % 10 < 1 || type % 10 > 7) return Scale::None;
  switch (type / 10) {
    case 107: case 109: case 110: case 111: return Scale::Gps;  // Galileo and QZSS too
    case 108: return Scale::GlonassMsm;
    case 112: return Scale::Beidou;
    default: return Scale::None;
  }
}

std::uint32_t GetBits(const std::string& b, std::size_t pos, int n);

// One key per system: the MSM family (107 GPS ... 112 BeiDou); legacy GPS and GLONASS join
// their MSM family.
int SystemOf(const std::string& bytes, std::size_t start) {
  const int type = static_cast<int>(GetBits(bytes, start * 8 + 24, 12));
  if (type <= 1004) return 107;
  if (type <= 1012) return 108;
  return type / 10;
}

std::uint32_t GetBits(const std::string& b, std::size_t pos, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i, ++pos) {
    v = (v << 1) | ((static_cast<unsigned char>(b[pos / 8]) >> (7 - pos % 8)) & 1U);
  }
  return v;
}

void SetBits(std::string& b, std::size_t pos, int n, std::uint32_t v) {
  for (int i = n - 1; i >= 0; --i, ++pos) {
    const unsigned char mask = static_cast<unsigned char>(0x80U >> (pos % 8));
    auto& byte = reinterpret_cast<unsigned char&>(b[pos / 8]);
    byte = ((v >> i) & 1U) ? (byte | mask) : (byte & ~mask);
  }
}

const std::uint8_t* Bytes(const std::string& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

std::int64_t Mod(std::int64_t a, std::int64_t m) {
  return ((a % m) + m) % m;
}

// The frame starting at `start` and ending at `end` has a right CRC and a known epoch scale.
Scale ObservationAt(const std::string& bytes, std::size_t start, std::size_t end) {
  if (end - start < 10) return Scale::None;
  const std::span<const std::uint8_t> unit(Bytes(bytes) + start, end - start);
  const rtcm::FrameProbe probe = rtcm::probe_frame(unit);
  if (probe.kind != rtcm::FrameProbe::Kind::Frame || probe.size != unit.size()) return Scale::None;
  return ScaleOf(rtcm::frame_message_type(unit));
}

// GPS time of day (ms) of the frame's epoch; the scales differ by whole offsets within a day.
std::int64_t GpsTimeOfDay(const std::string& bytes, std::size_t start, Scale scale) {
  const std::size_t at = start * 8 + 48;
  switch (scale) {
    case Scale::Gps: return Mod(GetBits(bytes, at, 30), kDay);
    case Scale::Beidou: return Mod(GetBits(bytes, at, 30) + kBeidouMs, kDay);
    case Scale::Glonass: return Mod(GetBits(bytes, at, 27) - kMoscowMs + LeapMs(), kDay);
    case Scale::GlonassMsm: return Mod(GetBits(bytes, at + 3, 27) - kMoscowMs + LeapMs(), kDay);
    case Scale::None: break;
  }
  return 0;
}

void WriteEpoch(std::string& bytes, std::size_t start, Scale scale, std::int64_t gps_ms) {
  const std::size_t at = start * 8 + 48;
  const std::int64_t moscow = gps_ms - LeapMs() + kMoscowMs;  // the GPS origin was a Sunday
  switch (scale) {
    case Scale::Gps: SetBits(bytes, at, 30, static_cast<std::uint32_t>(Mod(gps_ms, kWeek))); break;
    case Scale::Beidou:
      SetBits(bytes, at, 30, static_cast<std::uint32_t>(Mod(gps_ms - kBeidouMs, kWeek)));
      break;
    case Scale::Glonass: SetBits(bytes, at, 27, static_cast<std::uint32_t>(Mod(moscow, kDay))); break;
    case Scale::GlonassMsm:
      SetBits(bytes, at, 3, static_cast<std::uint32_t>(Mod(moscow / kDay, 7)));
      SetBits(bytes, at + 3, 27, static_cast<std::uint32_t>(Mod(moscow, kDay)));
      break;
    case Scale::None: return;
  }
}

}  // namespace

std::int64_t GpsMillisecondsNow() {
  const auto unix_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  return unix_ms - kGpsOriginUnixMs + LeapMs();
}

std::size_t FirstObservationOffset(const std::string& bytes,
                                   const std::vector<std::size_t>& unit_ends) {
  std::size_t start = 0;
  for (const std::size_t end : unit_ends) {
    if (ObservationAt(bytes, start, end) != Scale::None) return start;
    start = end;
  }
  return bytes.size();
}

void MoveEpochsTo(std::string& bytes, const std::vector<std::size_t>& unit_ends,
                  std::int64_t first_epoch_gps_ms) {
  // GPS time of day of each system's first epoch. Per system, because recordings are not always
  // consistent across systems (one here has its QZSS epoch hours away from the others).
  std::map<int, std::int64_t> anchors;
  std::size_t start = 0;
  for (const std::size_t end : unit_ends) {
    const Scale scale = ObservationAt(bytes, start, end);
    if (scale != Scale::None) {
      const std::int64_t of_day = GpsTimeOfDay(bytes, start, scale);
      const std::int64_t anchor = anchors.try_emplace(SystemOf(bytes, start), of_day).first->second;
      // Distances within a recording are taken as the shortest way round the day.
      const std::int64_t distance = Mod(of_day - anchor + kDay / 2, kDay) - kDay / 2;
      WriteEpoch(bytes, start, scale, first_epoch_gps_ms + distance);
      const std::size_t length = end - start - 6;
      SetBits(bytes, (start + 3 + length) * 8, 24,
              rtcm::frame_crc24(Bytes(bytes) + start, static_cast<int>(3 + length)));
    }
    start = end;
  }
}

}  // namespace caster
