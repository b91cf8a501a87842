#include "log_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform.h"

namespace tarno {

namespace {

namespace fs = std::filesystem;

int ProcessNumber() {
#ifdef _WIN32
  return static_cast<int>(_getpid());
#else
  return static_cast<int>(getpid());
#endif
}

// <name>YYYYMMDD-HHMMSS.<pid>.log, the names glog gives its own files.
std::string FileName(const std::string& program_name) {
  std::tm local{};
  LocalTime(std::time(nullptr), &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return program_name + stamp + "." + std::to_string(ProcessNumber()) + ".log";
}

bool IsOwnFileName(const std::string& name, const std::string& program_name) {
  if (name.size() <= program_name.size() + 4 || name.compare(0, program_name.size(), program_name) != 0 ||
      !name.ends_with(".log"))
    return false;
  // What follows the name is the stamp and the process number: digits, '-' and '.'.
  const std::string middle = name.substr(program_name.size(), name.size() - program_name.size() - 4);
  return middle.size() >= 17 && middle[8] == '-' &&
         middle.find_first_not_of("0123456789-.") == std::string::npos;
}

}  // namespace

LogFile::LogFile(std::string directory, std::string program_name, bool copy_to_stdout)
    : _directory(std::move(directory)),
      _program_name(std::move(program_name)),
      _copy_to_stdout(copy_to_stdout) {}

LogFile::~LogFile() {
  if (_file != nullptr) std::fclose(_file);
}

bool LogFile::OpenNewFile() {
  if (_file != nullptr) std::fclose(_file);
  _file = nullptr;
  _written = 0;
  if (_directory.empty()) {
    // Never the working directory, nor the root.
    NoteFailure("no directory given", EINVAL);
    return false;
  }
  RemoveFilesOlderThanADay();
  const std::string path = (fs::path(_directory) / FileName(_program_name)).string();
  _file = OpenPrivateForAppend(path);
  if (_file == nullptr) {
    NoteFailure("cannot open " + path, errno);
    return false;
  }
  std::tm local{};
  LocalTime(std::time(nullptr), &local);
  char created[64];
  std::strftime(created, sizeof created, "%Y/%m/%d %H:%M:%S", &local);
  const int header = std::fprintf(
      _file,
      "Log file created at: %s\nLog line format: [IWEF]yyyymmdd hh:mm:ss.uuuuuu threadid "
      "file:line] msg\n",
      created);
  if (header > 0) _written += static_cast<std::size_t>(header);
  return true;
}

void LogFile::RemoveFilesOlderThanADay() const {
  // Only this logger's own files: the directory may hold anything else of the user's.
  std::error_code error;
  const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(24);
  for (fs::directory_iterator it(_directory, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code ignored;
    if (!it->is_regular_file(ignored) || !IsOwnFileName(it->path().filename().string(), _program_name))
      continue;
    const auto written = it->last_write_time(ignored);
    if (!ignored && written < limit) fs::remove(it->path(), ignored);
  }
}

void LogFile::NoteFailure(const std::string& what, int error) {
  if (_failing) return;
  _failing = true;
  _warning = "log files in " + _directory + ": " + what + " (" + std::strerror(error) +
             "); log lines are lost until writing works again";
}

void LogFile::send(google::LogSeverity severity, const char*, const char* base_filename, int line,
                   const google::LogMessageTime& time, const char* message,
                   std::size_t message_len) {
  const std::string text =
      ToString(severity, base_filename, line, time, message, message_len) + "\n";
  std::scoped_lock lock(_mutex);
  if (_copy_to_stdout) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  if ((_file == nullptr || _written + text.size() > kMaxFileBytes) && !OpenNewFile()) return;
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), _file) == text.size();
  // Flushed line by line: a file is complete up to the last call at any moment.
  if (!written || std::fflush(_file) != 0) {
    NoteFailure("writing failed", errno != 0 ? errno : EIO);
    // The next line tries again: a disk that frees up takes lines again without a restart.
    std::clearerr(_file);
    return;
  }
  _written += text.size();
  _failing = false;
}

std::string LogFile::TakeFailureWarning() {
  std::scoped_lock lock(_mutex);
  return std::exchange(_warning, std::string());
}

}  // namespace tarno
