#pragma once
// Collects an engine's reports for tests, and waits for one with a deadline.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "output_fifo.h"
#include "reports.h"

namespace host_test {

inline std::string ElementText(const maps_host::OutputElement& element) {
  return std::string(element.data.begin(), element.data.end());
}

class ReportCollector {
 public:
  maps_host::ReportSink Sink() {
    return [this](const maps_host::Report& report) {
      {
        std::scoped_lock lock(mutex_);
        reports_.push_back(report);
        arrivals_.push_back(std::chrono::steady_clock::now());
      }
      changed_.notify_all();
    };
  }

  std::vector<maps_host::Report> All() const {
    std::scoped_lock lock(mutex_);
    return reports_;
  }

  std::vector<std::string> Texts(MAPS::ReportKind kind) const {
    std::vector<std::string> texts;
    for (const auto& report : All()) {
      if (report.kind == kind) texts.push_back(report.text);
    }
    return texts;
  }

  bool Has(MAPS::ReportKind kind, const std::string& text) const {
    for (const auto& report : All()) {
      if (report.kind == kind && report.text == text) return true;
    }
    return false;
  }

  // When each report with this text came, in order.
  std::vector<std::chrono::steady_clock::time_point> Arrivals(const std::string& text) const {
    std::scoped_lock lock(mutex_);
    std::vector<std::chrono::steady_clock::time_point> times;
    for (std::size_t i = 0; i < reports_.size(); ++i) {
      if (reports_[i].text == text) times.push_back(arrivals_[i]);
    }
    return times;
  }

  // True once a report satisfies `match`; false when the deadline passes first.
  bool WaitFor(const std::function<bool(const maps_host::Report&)>& match,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const auto& report : reports_) {
        if (match(report)) return true;
      }
      return false;
    });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<maps_host::Report> reports_;
  std::vector<std::chrono::steady_clock::time_point> arrivals_;  // one per report
};

}  // namespace host_test
