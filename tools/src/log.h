#pragma once
// The one logging call of the system and its interchangeable writers.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "log_location.h"

namespace tarno {

enum class Importance : int { Info = 0, Debug = 1, Warning = 2, Error = 3 };

using LogWriter = std::function<void(const char* message, int importance, SourceLocation where)>;

// Process-wide; replaced only while a component starts, before any worker thread runs.
extern LogWriter ActiveLogWriter;

void WriteLog(const char* message, int importance,
              SourceLocation where = SourceLocation::current());
void WriteLog(const std::string& message, Importance importance = Importance::Info,
              SourceLocation where = SourceLocation::current());

void WriteLogToStdout(const char* message, int importance, SourceLocation where);
void WriteLogToFile(const char* message, int importance, SourceLocation where);
void WriteLogToHost(const char* message, int importance, SourceLocation where);
void WriteLogNowhere(const char* message, int importance, SourceLocation where);

// The host writer reaches the host's reports through this sink, installed by the component.
enum class HostReportKind { Information, Warning, Error };
using HostReportSink = std::function<void(HostReportKind kind, const std::string& text)>;
void SetHostReportSink(HostReportSink sink);

std::string LogTimestamp();
// The same layout for a given instant (local time, microseconds always six digits).
std::string LogTimestampAt(std::chrono::system_clock::time_point when);
std::string SourceBaseName(std::string_view path);

// The log-file logger: glog is initialised for exactly the lifetime of one Log.
class Log {
 public:
  Log(const std::string& program_name, bool log_to_stdout, const std::string& directory);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

 private:
  std::string _program_name;
};

// The writer chosen by the log_destination index ("Log|Console|Nothing"); empty for any other.
LogWriter WriterForDestination(int destination_index);

}  // namespace tarno
