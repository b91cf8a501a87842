#include "sinks/file_sink.h"

#include "common/descriptor_calls.h"
#include "common/option_text.h"

#include <cerrno>
#include <cstring>

namespace ntrip_host {

FileSink::FileSink(const std::string& path, std::string_view option)
    : name_(path), file_(std::fopen(path.c_str(), "wb")), owned_(true) {
  if (!file_) {
    throw OptionError(std::string(option) + ": '" + path +
                      "': cannot create: " + std::strerror(errno));
  }
}

std::FILE* StreamStdout() {
  static std::FILE* const stream = [] {
    std::fflush(stdout);
    // A binary copy: a text-mode stdout (Windows) would turn each 0x0A into 0x0D 0x0A.
    const int kept = DuplicateDescriptor(fileno(stdout));
    std::FILE* file = kept < 0 ? nullptr : fdopen(kept, "wb");
    if (file == nullptr) return stdout;  // no descriptor left: text and stream share it
    RedirectStdout(fileno(stderr));
    return file;
  }();
  return stream;
}

FileSink::FileSink() : name_("stdout"), file_(StreamStdout()), owned_(false) {}

FileSink::~FileSink() {
  Close();
}

void FileSink::Write(std::string_view element) {
  std::scoped_lock lock(mutex_);
  if (!file_) throw SinkError(name_ + ": write after close");
  if (std::fwrite(element.data(), 1, element.size(), file_) != element.size() ||
      std::fflush(file_) != 0) {
    const int error = errno;
    std::clearerr(file_);
    throw SinkError(name_ + ": write failed: " + std::strerror(error));
  }
  counters_.bytes_written += element.size();
  ++counters_.elements_written;
}

void FileSink::Close() {
  std::scoped_lock lock(mutex_);
  if (!file_) return;
  if (owned_) {
    std::fclose(file_);
  } else {
    std::fflush(file_);
  }
  file_ = nullptr;
}

void FileSink::Reopen() {
  if (!owned_) return;
  // Appended to, not truncated: a file that was not rotated (or was truncated in place by
  // copytruncate) keeps what it holds.
  std::FILE* fresh = std::fopen(name_.c_str(), "ab");
  if (fresh == nullptr) throw SinkError(name_ + ": cannot open again: " + std::strerror(errno));
  std::scoped_lock lock(mutex_);
  if (!file_) {
    std::fclose(fresh);
    return;
  }
  std::fclose(file_);
  file_ = fresh;
}

SinkCounters FileSink::Counters() const {
  std::scoped_lock lock(mutex_);
  return counters_;
}

std::string FileSink::Description() const {
  return owned_ ? "file " + name_ : name_;
}

}  // namespace ntrip_host
