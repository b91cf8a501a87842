#pragma once
// The one logging call of the system and its interchangeable writers.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "log_location.h"

namespace tarno {

enum class Importance : int { Info = 0, Debug = 1, Warning = 2, Error = 3 };

using LogWriter = std::function<void(const char* message, int importance, SourceLocation where)>;

// Process-wide fallback: the writer of every thread that carries no LogRoute (tools, tests,
// anything before a component starts). Components never replace it: each has its own route.
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
// The fallback sink, for threads that carry no LogRoute.
void SetHostReportSink(HostReportSink sink);

class LogFile;

// Where the log lines of one component instance go: its writer, its host reports and its log
// file. Several instances share a process, so none of this may be process-wide: every thread
// that works for an instance carries the instance's route (LogRouteScope), and WriteLog follows
// the route of the calling thread.
class LogRoute : public std::enable_shared_from_this<LogRoute> {
 public:
  // Empty: the process-wide ActiveLogWriter, as before the instance chose one.
  void SetWriter(LogWriter writer);
  void SetHostReportSink(HostReportSink sink);

  void Write(const char* message, int importance, SourceLocation where);
  void Report(HostReportKind kind, const std::string& text);
  std::shared_ptr<LogFile> File();

 private:
  friend class Log;
  void SetFile(std::shared_ptr<LogFile> file);

  std::mutex _mutex;  // the three members below
  LogWriter _writer;
  std::shared_ptr<LogFile> _file;
  // Held while a report is delivered: a sink is cleared only once no report is under way.
  std::mutex _host_mutex;
  HostReportSink _host_sink;
};

// The route of the calling thread (null when it carries none).
std::shared_ptr<LogRoute> CurrentLogRoute();

// Makes the calling thread carry `route` until the scope ends; the previous route comes back.
class LogRouteScope {
 public:
  explicit LogRouteScope(std::shared_ptr<LogRoute> route);
  ~LogRouteScope();
  LogRouteScope(const LogRouteScope&) = delete;
  LogRouteScope& operator=(const LogRouteScope&) = delete;

 private:
  std::shared_ptr<LogRoute> _route;
  LogRoute* _previous;
};

std::string LogTimestamp();
// The same layout for a given instant (local time, microseconds always six digits).
std::string LogTimestampAt(std::chrono::system_clock::time_point when);
std::string SourceBaseName(std::string_view path);

// Why `directory` cannot take log files ("" when it can): empty, missing, not a directory, not
// writable. An empty path is never taken for the root.
std::string LogDirectoryProblem(const std::string& directory);

// The log-file logger. glog is initialised while at least one Log exists in the process. Each
// Log writes its own files under its directory: it attaches to the route of the thread that
// creates it (the process-wide fallback when that thread carries none), so the lines of one
// instance never land in another's files.
class Log {
 public:
  Log(const std::string& program_name, bool log_to_stdout, const std::string& directory);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

 private:
  std::string _program_name;
  std::shared_ptr<LogFile> _file;
  std::shared_ptr<LogRoute> _route;  // null: attached to the process-wide fallback
};

// The writer chosen by the log_destination index ("Log|Console|Nothing"); empty for any other.
LogWriter WriterForDestination(int destination_index);

}  // namespace tarno
