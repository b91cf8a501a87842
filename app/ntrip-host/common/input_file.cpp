#include "common/input_file.h"

#include "common/descriptor_calls.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ntrip_host {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what, int error) {
  throw InputFileError("cannot " + what + " " + path + ": " + std::strerror(error));
}

// Opening a FIFO for reading must not wait for a writer.
int OpenForReading(const std::string& path) {
  const int fd = OpenWithoutWaiting(path, false);
  if (fd < 0) Fail(path, "open", errno);
  return fd;
}

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

std::string TooLarge(const std::string& path, std::size_t cap) {
  return path + " is larger than " + std::to_string(cap / 1024) + " KiB";
}

void CheckKindAndSize(int fd, const std::string& path, std::size_t cap) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) Fail(path, "read", errno);
  if (!S_ISREG(status.st_mode)) throw InputFileError(path + " is not a regular file");
  if (static_cast<unsigned long long>(status.st_size) > cap) {
    throw InputFileError(TooLarge(path, cap));
  }
}

}  // namespace

void RefuseIrregularFile(const std::string& path, std::size_t cap) {
  const int fd = OpenWithoutWaiting(path, false);
  if (fd < 0) return;
  const FdCloser file{fd};
  CheckKindAndSize(file.fd, path, cap);
}

std::string ReadRegularFile(const std::string& path, std::size_t cap) {
  const FdCloser file{OpenForReading(path)};
  CheckKindAndSize(file.fd, path, cap);
  const std::string too_large = TooLarge(path, cap);
  std::string content;
  char buffer[16 * 1024];
  while (true) {
    const long got = ReadSome(file.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail(path, "read", errno);
    if (got == 0) return content;
    // The file may grow while it is read.
    if (content.size() + static_cast<std::size_t>(got) > cap) throw InputFileError(too_large);
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

InputStream::InputStream(const std::string& path) : path_(path) {
  fd_ = path == "-" ? DuplicateDescriptor(STDIN_FILENO) : OpenForReading(path);
  if (fd_ < 0) Fail(path, "open", errno);
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    const int error = errno;
    ::close(fd_);
    Fail(path, "read", error);
  }
  regular_ = S_ISREG(status.st_mode);
  if (!regular_ && !S_ISFIFO(status.st_mode)) {
    ::close(fd_);
    throw InputFileError(path + " is not a regular file or a pipe");
  }
  // A pipe is never waited for: a writer may come, go and come again, and a stop must not wait
  // for its next line.
  if (!regular_) MakeReadsNonBlocking(fd_);
}

InputStream::~InputStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t InputStream::Read(char* buffer, std::size_t size) {
  while (true) {
    const long got = ReadSome(fd_, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) Fail(path_, "read", errno);
  }
}

bool InputStream::ReadLine(std::string& line, std::size_t longest) {
  while (true) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos || (ended_ && !pending_.empty())) {
      const std::size_t length = end == std::string::npos ? pending_.size() : end;
      if (length > longest) break;
      line.assign(pending_, 0, length);
      if (line.ends_with('\r')) line.pop_back();
      pending_.erase(0, end == std::string::npos ? length : length + 1);
      return true;
    }
    if (ended_) return false;
    if (pending_.size() > longest) break;
    char buffer[4096];
    const std::size_t got = Read(buffer, sizeof buffer);
    if (got == 0 && !regular_) return false;  // no whole line yet
    if (got == 0) ended_ = true;
    pending_.append(buffer, got);
  }
  throw InputFileError(path_ + ": a line longer than " + std::to_string(longest) + " bytes");
}

}  // namespace ntrip_host
