#include "gga_log.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace caster {

namespace {

std::string UtcNow() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

}  // namespace

namespace {

// A FIFO's open waits for its reader, which would hold the caster's start and its stop.
const std::string& NotAFifo(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_fifo(path, error) || std::filesystem::is_socket(path, error)) {
    throw std::runtime_error("the GGA log " + path + " is a FIFO or a socket: give a file");
  }
  return path;
}

}  // namespace

GgaLog::GgaLog(const std::string& path)
    : file_(NotAFifo(path), std::ios::out | std::ios::app) {
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
