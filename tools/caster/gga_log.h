// The --gga-log file: one line per GGA sentence received, with the time it came in.
#pragma once

#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

namespace caster {

class GgaLog {
 public:
  explicit GgaLog(const std::string& path);  // throws when the file cannot be opened
  // `where` says how it came: "header" (in the request) or "connection" (an update afterwards).
  void Write(std::string_view peer, std::string_view where, std::string_view sentence);

 private:
  std::mutex mutex_;
  std::ofstream file_;
};

}  // namespace caster
