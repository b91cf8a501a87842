#pragma once
// The periodic-sampling input reader: each Read waits for the next sampling instant and runs one
// callback with the latest sample of each input.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "input_board.h"
#include "maps_sdk.h"

namespace maps_host {

class SamplingReader {
 public:
  using Clock = std::chrono::steady_clock;

  struct Setup {
    std::vector<std::size_t> inputs;  // indexes on the board
    Clock::duration period{};
    bool allow_empty_inputs = false;
    MAPS::SampleCallback first_time;
    MAPS::SampleCallback each_sample;
  };

  // `origin` is the engine clock's zero; `report_error` shows a callback's failure.
  SamplingReader(InputBoard& board, Setup setup, Clock::time_point origin,
                 std::function<void(const std::string&)> report_error);

  int Read();

 private:
  std::int64_t Microseconds(Clock::time_point instant) const;

  InputBoard& board_;
  Setup setup_;
  Clock::time_point origin_;
  std::function<void(const std::string&)> report_error_;
  bool fired_ = false;
  Clock::time_point next_instant_{};
};

}  // namespace maps_host
