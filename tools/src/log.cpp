#include "log.h"

#include <glog/logging.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <mutex>
#include <sstream>
#include <utility>

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

void ReportToHost(HostReportKind kind, const std::string& text) {
  std::scoped_lock lock(HostSinkMutex());
  if (HostSink()) HostSink()(kind, text);
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
  ActiveLogWriter(message, importance, where);
}

void WriteLog(const std::string& message, Importance importance, SourceLocation where) {
  ActiveLogWriter(message.c_str(), static_cast<int>(importance), where);
}

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
  // Streamed straight into glog's line: this runs for every chunk when logging to a file.
  google::LogMessage line(__FILE__, __LINE__, severity);
  std::ostream& out = line.stream();
  out << letter << LogTimestamp() << ' ' << CurrentThreadNumber() << ' ';
  StreamCaller(out, where);
  out << " - ";
  if (importance < 0 || importance > 3) {
    out << "(Error while looking importance level: " << importance << " ) ";
  }
  out << message;
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

Log::Log(const std::string& program_name, bool log_to_stdout, const std::string& directory)
    : _program_name(program_name) {
  // glog accepts one initialisation per process; a second one would abort the host.
  if (!google::IsGoogleLoggingInitialized()) google::InitGoogleLogging(_program_name.c_str());
  FLAGS_logtostdout = log_to_stdout;
  FLAGS_logtostderr = false;
  FLAGS_alsologtostderr = false;
  FLAGS_minloglevel = 0;
  FLAGS_logbufsecs = 0;
  FLAGS_log_prefix = true;
  FLAGS_colorlogtostderr = false;
  google::SetLogFilenameExtension(".log");
  FLAGS_stderrthreshold = 3;
  const std::string base = directory + "/" + _program_name;
  google::SetLogDestination(google::GLOG_INFO, base.c_str());
  // The information file already holds every severity; without this glog would open separate
  // warning and error files in its default directory, outside the one the user chose.
  google::SetLogDestination(google::GLOG_WARNING, "");
  google::SetLogDestination(google::GLOG_ERROR, "");
  google::SetLogDestination(google::GLOG_FATAL, "");
  if (log_to_stdout) google::SetStderrLogging(google::GLOG_INFO);
  google::EnableLogCleaner(1);
  // glog starts a new file past this size (in MB), so no file grows without bound in a day.
  FLAGS_max_log_size = 50;
  WriteLog("Initialization of Logger.", Importance::Info);
}

Log::~Log() {
  if (google::IsGoogleLoggingInitialized()) google::ShutdownGoogleLogging();
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
