#pragma once
// Every file the program reads comes through here: settings and secrets whole and small, position
// streams line by line. No open waits for a FIFO's writer, so a stop is never held up by a file.
#include <cstddef>
#include <stdexcept>
#include <string>

namespace ntrip_host {

// The message names the file and what is wrong with it ("F is not a regular file").
class InputFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kSecretFileCap = 64 * 1024;
inline constexpr std::size_t kSettingsFileCap = 1024 * 1024;

// The content of the regular file `path`, refused beyond `cap` bytes: a FIFO, a device, a
// directory or a socket could make the read wait or never end.
std::string ReadRegularFile(const std::string& path, std::size_t cap);

// Refuses as ReadRegularFile does a file that another reader opens later; a file that cannot be
// opened at all is left to that reader's own check and message.
void RefuseIrregularFile(const std::string& path, std::size_t cap);

// A file of positions read as it comes: a regular file, a FIFO or a pipe ("-" is standard input).
// Neither the open nor a read of a pipe ever waits: a pipe with nothing to read reads as empty
// for now, and more may come later.
class InputStream {
 public:
  explicit InputStream(const std::string& path);
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // Up to `size` bytes; 0 at the end of a regular file, or when a pipe holds nothing now.
  // Throws InputFileError on a read error.
  std::size_t Read(char* buffer, std::size_t size);
  // The next line without its line end (and "\r"); false at the end, or when a pipe holds no
  // whole line yet. A line longer than `longest` throws
  // InputFileError: a stream without line ends must not fill the memory.
  bool ReadLine(std::string& line, std::size_t longest);
  bool IsRegularFile() const { return regular_; }

 private:
  const std::string path_;
  int fd_ = -1;
  bool regular_ = false;
  std::string pending_;  // read past the last line handed out
  bool ended_ = false;
};

}  // namespace ntrip_host
