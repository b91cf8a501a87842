#include "gga_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace caster {

namespace {

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

}  // namespace

GgaLog::GgaLog(const std::string& path) : file_(path, std::ios::out | std::ios::app) {
  if (!file_) throw std::runtime_error("cannot open the GGA log " + path);
}

void GgaLog::Write(std::string_view peer, std::string_view where, std::string_view sentence) {
  const std::string line =
      UtcNow() + " " + std::string(peer) + " " + std::string(where) + " " + std::string(sentence);
  std::scoped_lock lock(mutex_);
  file_ << line << '\n';
  file_.flush();
}

}  // namespace caster
