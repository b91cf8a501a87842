#pragma once
// Collects the client's log lines for a test, from every thread, and waits for given lines.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "log.h"

namespace client_test {

struct LogLine {
  std::string text;
  int importance;
};

class LogCapture {
 public:
  // Installs itself as the active writer; the writer must outlive every client of the test.
  LogCapture() : _previous(tarno::ActiveLogWriter) {
    tarno::ActiveLogWriter = [this](const char* message, int importance, tarno::SourceLocation) {
      {
        std::scoped_lock lock(_mutex);
        _lines.push_back({message, importance});
      }
      _cv.notify_all();
    };
  }
  ~LogCapture() { tarno::ActiveLogWriter = _previous; }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> Lines() const {
    std::scoped_lock lock(_mutex);
    return _lines;
  }

  bool Contains(const std::string& text) const { return Count(text) > 0; }

  std::size_t Count(const std::string& text) const {
    std::scoped_lock lock(_mutex);
    std::size_t n = 0;
    for (const auto& line : _lines) n += line.text == text ? 1 : 0;
    return n;
  }

  bool ContainsPrefix(const std::string& prefix, int importance = -1) const {
    std::scoped_lock lock(_mutex);
    for (const auto& line : _lines) {
      if (line.text.rfind(prefix, 0) == 0 && (importance < 0 || line.importance == importance)) {
        return true;
      }
    }
    return false;
  }

  // Waits until the lines written so far satisfy the predicate.
  template <typename Predicate>
  bool WaitUntil(Predicate predicate, std::chrono::milliseconds deadline) const {
    std::unique_lock lock(_mutex);
    return _cv.wait_for(lock, deadline, [&] { return predicate(_lines); });
  }

  // Waits until a line starting with one of the prefixes has been written.
  bool WaitForPrefix(const std::vector<std::string>& prefixes,
                     std::chrono::milliseconds deadline) const {
    std::unique_lock lock(_mutex);
    return _cv.wait_for(lock, deadline, [&] {
      for (const auto& line : _lines) {
        for (const auto& prefix : prefixes) {
          if (line.text.rfind(prefix, 0) == 0) return true;
        }
      }
      return false;
    });
  }

  // Waits until a line equal to `text` has been written `times` times or the deadline passes.
  bool WaitFor(const std::string& text, std::chrono::milliseconds deadline,
               std::size_t times = 1) const {
    std::unique_lock lock(_mutex);
    return _cv.wait_for(lock, deadline, [&] {
      std::size_t n = 0;
      for (const auto& line : _lines) n += line.text == text ? 1 : 0;
      return n >= times;
    });
  }

 private:
  tarno::LogWriter _previous;
  mutable std::mutex _mutex;
  mutable std::condition_variable _cv;
  std::vector<LogLine> _lines;
};

}  // namespace client_test
