#include "sampling_reader.h"

#include <exception>

namespace maps_host {

SamplingReader::SamplingReader(InputBoard& board, Setup setup, Clock::time_point origin,
                               std::function<void(const std::string&)> report_error)
    : board_(board),
      setup_(std::move(setup)),
      origin_(origin),
      report_error_(std::move(report_error)) {}

std::int64_t SamplingReader::Microseconds(Clock::time_point instant) const {
  return std::chrono::duration_cast<std::chrono::microseconds>(instant - origin_).count();
}

int SamplingReader::Read() {
  if (board_.StopRequested()) return MAPS::kReadStopped;
  if (!fired_) {
    if (!setup_.allow_empty_inputs && !board_.WaitForSamples(setup_.inputs)) {
      return MAPS::kReadStopped;
    }
    next_instant_ = Clock::now();
  } else if (!board_.WaitUntil(next_instant_)) {
    return MAPS::kReadStopped;
  }
  const Clock::time_point instant = next_instant_;
  // A callback slower than the period skips the instants it missed instead of bursting.
  next_instant_ += setup_.period;
  if (const Clock::time_point now = Clock::now(); next_instant_ < now) next_instant_ = now;

  const InputBoard::Snapshot snapshot = board_.Take(setup_.inputs);
  std::vector<MAPS::InputElt<double>::Sample> samples;
  for (const auto& sample : snapshot) {
    if (sample) {
      samples.push_back({sample->values.data(), sample->values.size(), sample->timestamp});
    } else {
      samples.push_back({});
    }
  }
  const bool first = !fired_;
  fired_ = true;
  const MAPS::SampleCallback& callback = first ? setup_.first_time : setup_.each_sample;
  if (!callback) return MAPS::kReadDone;
  // The callback boundary: whatever leaves a callback is shown and sampling goes on.
  try {
    callback(Microseconds(instant), MAPS::InputElt<double>(std::move(samples)));
  } catch (int signal) {
    if (signal == MAPS::kStopSignal && board_.StopRequested()) return MAPS::kReadStopped;
    report_error_("Input reader callback failed with signal " + std::to_string(signal));
    return MAPS::kReadCallbackFailed;
  } catch (const std::exception& error) {
    report_error_(std::string("Input reader callback failed: ") + error.what());
    return MAPS::kReadCallbackFailed;
  } catch (...) {
    report_error_("Input reader callback failed with an unknown exception");
    return MAPS::kReadCallbackFailed;
  }
  return MAPS::kReadDone;
}

}  // namespace maps_host
