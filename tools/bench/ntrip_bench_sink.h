#pragma once
// What left the raw output: a running FNV-1a hash of every byte in order, the byte count, and the
// time each element arrived with the count it reached (to match caster writes by offset).
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

namespace ntrip_bench {

struct Arrival {
  std::uint64_t end;  // bytes out, this element included
  std::chrono::steady_clock::time_point when;
  std::uint64_t hash;  // of every byte out so far, this element included
};

inline std::uint64_t Fnv1a(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}
constexpr std::uint64_t kFnvStart = 0xcbf29ce484222325ULL;

class RawSink {
 public:
  void Take(std::string_view bytes) {
    const auto now = std::chrono::steady_clock::now();  // first, before any of our own work
    std::scoped_lock lock(mutex_);
    hash_ = Fnv1a(hash_, bytes);
    total_ += bytes.size();
    ++elements_;
    arrivals_.push_back({total_, now, hash_});
  }
  std::uint64_t Total() const {
    std::scoped_lock lock(mutex_);
    return total_;
  }
  std::uint64_t Hash() const {
    std::scoped_lock lock(mutex_);
    return hash_;
  }
  std::uint64_t Elements() const {
    std::scoped_lock lock(mutex_);
    return elements_;
  }
  std::vector<Arrival> Arrivals() const {
    std::scoped_lock lock(mutex_);
    return arrivals_;
  }

 private:
  mutable std::mutex mutex_;
  std::uint64_t hash_ = kFnvStart;
  std::uint64_t total_ = 0;
  std::uint64_t elements_ = 0;
  std::vector<Arrival> arrivals_;
};

}  // namespace ntrip_bench
