#pragma once
// Whether a stream carries RTCM 3 at all: a caster's mount point may serve NMEA text, a web page
// or another binary format. Pure: fed the stream's first bytes with the time they came.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rtcm {
struct RtcmDecoder;
}

namespace tarno {

class RtcmPresenceCheck {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Verdict { Pending, Rtcm, NoRtcm };

  // The stream is judged once both `window` (from `start`) and `window_bytes` have passed
  // without a frame with a right CRC.
  RtcmPresenceCheck(Clock::time_point start, std::chrono::nanoseconds window,
                    std::uint64_t window_bytes = 64 * 1024);
  ~RtcmPresenceCheck();
  RtcmPresenceCheck(const RtcmPresenceCheck&) = delete;
  RtcmPresenceCheck& operator=(const RtcmPresenceCheck&) = delete;

  // Pending until the verdict; then the same verdict for good, whatever follows.
  Verdict Feed(std::string_view bytes, Clock::time_point now);
  std::uint64_t BytesSeen() const { return _bytes; }
  // What the first bytes look like: "NMEA text", "an HTML page" or "binary data".
  std::string Kind() const;

 private:
  const Clock::time_point _deadline;
  const std::uint64_t _window_bytes;
  std::unique_ptr<rtcm::RtcmDecoder> _decoder;  // released at the verdict
  bool _ready = false;
  Verdict _verdict = Verdict::Pending;
  std::uint64_t _bytes = 0;
  std::string _sample;  // the first bytes, for Kind()
};

}  // namespace tarno
