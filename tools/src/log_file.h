#pragma once
// The files of one Log: glog formats each line, this sink writes it into files of its own, so
// that several loggers in one process each keep to their directory.
#include <glog/logging.h>

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace tarno {

class LogFile : public google::LogSink {
 public:
  // Past this size a new file starts, so no file grows without bound in a day.
  static constexpr std::size_t kMaxFileBytes = 50u << 20;

  LogFile(std::string directory, std::string program_name, bool copy_to_stdout);
  ~LogFile() override;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void send(google::LogSeverity severity, const char* full_filename, const char* base_filename,
            int line, const google::LogMessageTime& time, const char* message,
            std::size_t message_len) override;

  // The warning to give when writing has just started to fail (a full disk), once per failure
  // episode; empty otherwise.
  std::string TakeFailureWarning();

 private:
  bool OpenNewFile();  // under _mutex
  void RemoveFilesOlderThanADay() const;
  void NoteFailure(const std::string& what, int error);  // under _mutex

  const std::string _directory;
  const std::string _program_name;
  const bool _copy_to_stdout;
  std::mutex _mutex;  // everything below
  std::FILE* _file = nullptr;
  std::size_t _written = 0;
  bool _failing = false;
  std::string _warning;  // due, not yet taken
};

}  // namespace tarno
