#include "log.h"

#include <glog/logging.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "log_file.h"
#include "platform.h"

namespace tarno {

LogWriter ActiveLogWriter = WriteLogToStdout;

namespace {

// The host sink changes only when a component starts; the mutex keeps a late report from a
// thread of an earlier run from racing with that change.
std::mutex& HostSinkMutex() {
  static std::mutex m;
  return m;
}
HostReportSink& HostSink() {
  static HostReportSink sink;
  return sink;
}

// Raw pointer: a thread-local with a destructor would pin the package in memory until the
// thread ends. The LogRouteScope that set it holds the route alive.
thread_local LogRoute* t_route = nullptr;

// The file of threads without a route: the last Log made on such a thread.
std::mutex& FallbackFileMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<LogFile>& FallbackFile() {
  static std::shared_ptr<LogFile> file;
  return file;
}

void ReportToHost(HostReportKind kind, const std::string& text) {
  if (t_route != nullptr) {
    t_route->Report(kind, text);
    return;
  }
  std::scoped_lock lock(HostSinkMutex());
  if (HostSink()) HostSink()(kind, text);
}

std::shared_ptr<LogFile> CurrentFile() {
  if (t_route != nullptr) return t_route->File();
  std::scoped_lock lock(FallbackFileMutex());
  return FallbackFile();
}

// glog is initialised while any Log exists; the count keeps one instance's stop from shutting
// it down under another.
std::mutex& GlogMutex() {
  static std::mutex m;
  return m;
}
int glog_users = 0;             // under GlogMutex
bool glog_initialised = false;  // by this logger, under GlogMutex

void StartGlog() {
  std::scoped_lock lock(GlogMutex());
  if (glog_users++ > 0) return;
  if (!google::IsGoogleLoggingInitialized()) {
    // glog keeps the pointer while initialised; the name of whichever Log came first may go
    // before the others, so glog gets a name of its own.
    static const std::string kGlogName = "ntrip-client";
    google::InitGoogleLogging(kGlogName.c_str());
    glog_initialised = true;
  }
  FLAGS_logtostdout = false;
  FLAGS_logtostderr = false;
  FLAGS_alsologtostderr = false;
  FLAGS_minloglevel = 0;
  FLAGS_logbufsecs = 0;
  FLAGS_log_prefix = true;
  FLAGS_colorlogtostderr = false;
  google::SetLogFilenameExtension(".log");
  FLAGS_stderrthreshold = 3;
  // Lines reach the Logs' own files through their sinks only: glog itself writes no file of its
  // own (which would land in one directory for every instance, or complain on stderr).
  for (google::LogSeverity s : {google::GLOG_INFO, google::GLOG_WARNING, google::GLOG_ERROR,
                                google::GLOG_FATAL}) {
    google::SetLogDestination(s, "");
  }
  FLAGS_max_log_size = LogFile::kMaxFileBytes >> 20;
}

void StopGlog() {
  std::scoped_lock lock(GlogMutex());
  if (--glog_users > 0 || !glog_initialised) return;
  if (google::IsGoogleLoggingInitialized()) google::ShutdownGoogleLogging();
  glog_initialised = false;
}

void StreamCaller(std::ostream& out, SourceLocation where) {
  out << SourceBaseName(where.file_name() ? where.file_name() : "") << ':' << where.line() << ':'
      << (where.function_name() ? where.function_name() : "");
}

std::string CallerPrefix(SourceLocation where) {
  std::ostringstream out;
  StreamCaller(out, where);
  return out.str();
}

}  // namespace

void WriteLog(const char* message, int importance, SourceLocation where) {
  if (t_route != nullptr) {
    t_route->Write(message, importance, where);
  } else {
    ActiveLogWriter(message, importance, where);
  }
}

void WriteLog(const std::string& message, Importance importance, SourceLocation where) {
  WriteLog(message.c_str(), static_cast<int>(importance), where);
}

void LogRoute::SetWriter(LogWriter writer) {
  std::scoped_lock lock(_mutex);
  _writer = std::move(writer);
}

void LogRoute::SetHostReportSink(HostReportSink sink) {
  std::scoped_lock lock(_host_mutex);
  _host_sink = std::move(sink);
}

void LogRoute::Write(const char* message, int importance, SourceLocation where) {
  LogWriter writer;
  {
    std::scoped_lock lock(_mutex);
    writer = _writer;
  }
  // Called unlocked: the file writer comes back for the route's file.
  if (writer) {
    writer(message, importance, where);
  } else {
    ActiveLogWriter(message, importance, where);
  }
}

void LogRoute::Report(HostReportKind kind, const std::string& text) {
  std::scoped_lock lock(_host_mutex);
  if (_host_sink) _host_sink(kind, text);
}

std::shared_ptr<LogFile> LogRoute::File() {
  std::scoped_lock lock(_mutex);
  return _file;
}

void LogRoute::SetFile(std::shared_ptr<LogFile> file) {
  std::scoped_lock lock(_mutex);
  _file = std::move(file);
}

std::shared_ptr<LogRoute> CurrentLogRoute() {
  return t_route != nullptr ? t_route->shared_from_this() : nullptr;
}

LogRouteScope::LogRouteScope(std::shared_ptr<LogRoute> route)
    : _route(std::move(route)), _previous(t_route) {
  t_route = _route.get();
}

LogRouteScope::~LogRouteScope() { t_route = _previous; }

void WriteLogToStdout(const char* message, int importance, SourceLocation) {
  std::FILE* out = importance == static_cast<int>(Importance::Error) ? stderr : stdout;
  std::fputs(message, out);
  std::fputc('\n', out);
  std::fflush(out);
}

void WriteLogToFile(const char* message, int importance, SourceLocation where) {
  google::LogSeverity severity = google::GLOG_ERROR;
  char letter = 'I';
  switch (importance) {
    case 0:
      severity = google::GLOG_INFO;
      break;
    case 1:
      return;
    case 2:
      severity = google::GLOG_WARNING;
      letter = 'W';
      break;
    case 3:
      letter = 'E';
      break;
    default:
      break;
  }
  const std::shared_ptr<LogFile> file = CurrentFile();
  if (!file) return;  // no usable log directory: the instance logs nowhere
  {
    // Streamed straight into glog's line: this runs for every chunk when logging to a file.
    // glog formats it and hands it to this instance's files alone.
    google::LogMessage line(__FILE__, __LINE__, severity, file.get(), false);
    std::ostream& out = line.stream();
    out << letter << LogTimestamp() << ' ' << CurrentThreadNumber() << ' ';
    StreamCaller(out, where);
    out << " - ";
    if (importance < 0 || importance > 3) {
      out << "(Error while looking importance level: " << importance << " ) ";
    }
    out << message;
  }
  // A full disk is said once; the stream goes on either way.
  if (std::string warning = file->TakeFailureWarning(); !warning.empty()) {
    ReportToHost(HostReportKind::Warning, warning);
  }
}

void WriteLogToHost(const char* message, int importance, SourceLocation where) {
  switch (importance) {
    case 0:
      ReportToHost(HostReportKind::Information, message);
      break;
    case 1:
      ReportToHost(HostReportKind::Information, CallerPrefix(where) + " - " + message);
      break;
    case 2:
      ReportToHost(HostReportKind::Warning, message);
      break;
    case 3:
      ReportToHost(HostReportKind::Error, message);
      break;
    default:
      ReportToHost(HostReportKind::Error, CallerPrefix(where) +
                                              " - (Error while looking importance level: " +
                                              std::to_string(importance) + " ) " + message);
      break;
  }
}

void WriteLogNowhere(const char*, int, SourceLocation) {}

void SetHostReportSink(HostReportSink sink) {
  std::scoped_lock lock(HostSinkMutex());
  HostSink() = std::move(sink);
}

std::string LogTimestamp() {
  return LogTimestampAt(std::chrono::system_clock::now());
}

std::string LogTimestampAt(std::chrono::system_clock::time_point when) {
  const auto since_epoch = when.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(since_epoch - seconds).count();
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  LocalTime(whole, &local);
  std::ostringstream out;
  out << std::put_time(&local, "%Y%m%d %H:%M:%S") << '.' << std::setw(6) << std::setfill('0')
      << micros;
  return out.str();
}

std::string SourceBaseName(std::string_view path) {
  const auto cut = path.find_last_of("/\\");
  if (cut == std::string_view::npos) return std::string(path);
  return std::string(path.substr(cut + 1));
}

std::string LogDirectoryProblem(const std::string& directory) {
  namespace fs = std::filesystem;
  if (directory.empty()) return "the path is empty";
  std::error_code error;
  const fs::file_status status = fs::status(fs::path(directory), error);
  if (!fs::exists(status)) return "no such directory";
  if (!fs::is_directory(status)) return "not a directory";
#ifndef _WIN32
  if (::access(directory.c_str(), W_OK | X_OK) != 0) return "not writable";
#endif
  return {};
}

Log::Log(const std::string& program_name, bool log_to_stdout, const std::string& directory)
    : _program_name(program_name),
      _file(std::make_shared<LogFile>(directory, _program_name, log_to_stdout)),
      _route(CurrentLogRoute()) {
  StartGlog();
  if (_route) {
    _route->SetFile(_file);
  } else {
    std::scoped_lock lock(FallbackFileMutex());
    FallbackFile() = _file;
  }
  // Through the writer active so far: at the first start, the default one.
  WriteLog("Initialization of Logger.", Importance::Info);
}

Log::~Log() {
  if (_route) {
    if (_route->File() == _file) _route->SetFile(nullptr);
  } else {
    std::scoped_lock lock(FallbackFileMutex());
    if (FallbackFile() == _file) FallbackFile().reset();
  }
  StopGlog();
}

LogWriter WriterForDestination(int destination_index) {
  switch (destination_index) {
    case 0:
      return WriteLogToFile;
    case 1:
      return WriteLogToHost;
    case 2:
      return WriteLogNowhere;
    default:
      return {};
  }
}

}  // namespace tarno
