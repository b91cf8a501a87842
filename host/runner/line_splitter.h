// Cuts a byte stream into lines with a bound on the line length, so a peer that never sends a
// newline cannot grow memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace runner {

class LineSplitter {
 public:
  explicit LineSplitter(std::size_t max_line) : max_line_(max_line) {}

  // Calls on_line(line, too_long) for each complete line. CR and LF both end a line (some
  // receivers send CR alone), so CR LF also yields an empty line, which callers skip. An
  // over-long line is reported once, with too_long set and its text cut.
  template <typename OnLine>
  void Feed(std::string_view bytes, OnLine&& on_line) {
    for (const char c : bytes) {
      if (c == '\n' || c == '\r') {
        on_line(std::string_view(line_), overflow_);
        line_.clear();
        overflow_ = false;
      } else if (line_.size() < max_line_) {
        line_.push_back(c);
      } else {
        overflow_ = true;
      }
    }
  }

  // The unterminated tail at end of input, if any.
  template <typename OnLine>
  void Finish(OnLine&& on_line) {
    if (!line_.empty() || overflow_) on_line(std::string_view(line_), overflow_);
    line_.clear();
    overflow_ = false;
  }

  void Reset() {
    line_.clear();
    overflow_ = false;
  }

 private:
  std::size_t max_line_;
  std::string line_;
  bool overflow_ = false;
};

}  // namespace runner
