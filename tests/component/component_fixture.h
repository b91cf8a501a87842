#pragma once
// Runs the real package in the real engine against a replay caster on loopback, and keeps what
// the component published, for tests that check behaviour through the outputs and reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"
#include "eventually.h"
#include "replay_caster.h"
#include "report_collector.h"

namespace component_test {

using namespace std::chrono_literals;

inline std::string Recording(const std::string& name) {
  return caster::ReadFileBytes(std::string(NTRIP_DATA_DIR) + "/" + name);
}

// Everything written on one output, element by element.
class OutputLog {
 public:
  // `delay`: time the consumer takes per element, to let a backlog build up in the client.
  maps_host::OutputConsumer Consumer(std::chrono::microseconds delay = {}) {
    return [this, delay](const maps_host::OutputElement& e) {
      if (delay.count() > 0) std::this_thread::sleep_for(delay);
      {
        std::scoped_lock lock(mutex_);
        elements_.emplace_back(e.data.begin(), e.data.end());
      }
      changed_.notify_all();
    };
  }
  std::vector<std::string> Elements() const {
    std::scoped_lock lock(mutex_);
    return elements_;
  }
  std::string Bytes() const {
    std::string all;
    for (const auto& e : Elements()) all += e;
    return all;
  }
  bool WaitUntil(const std::function<bool(const OutputLog&)>& pred,
                 std::chrono::milliseconds deadline = 10s) const {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::unique_lock lock(mutex_);
    while (true) {
      lock.unlock();
      if (pred(*this)) return true;
      lock.lock();
      if (changed_.wait_until(lock, std::min(end, std::chrono::steady_clock::now() + 50ms)) ==
              std::cv_status::timeout &&
          std::chrono::steady_clock::now() >= end) {
        lock.unlock();
        return pred(*this);
      }
    }
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> elements_;
};

struct ComponentOptions {
  double sampling_scale = 0.1;  // one sample every 100 ms
  std::string mountpoint = "RTCM3";
  std::string username = "user";
  std::string password = "secret";
  bool decode = true;
  std::chrono::microseconds raw_consumer_delay{0};
  std::vector<std::pair<std::string, std::string>> properties;  // applied last
  std::string package = NTRIP_PACKAGE_PATH;
};

class ComponentHarness {
 public:
  explicit ComponentHarness(caster::CasterOptions caster_options, ComponentOptions options = {})
      : options_(std::move(options)) {
    if (caster_options.user.empty()) {
      caster_options.user = "user";
      caster_options.password = "secret";
    }
    caster_ = std::make_unique<caster::ReplayCaster>(std::move(caster_options));
    engine_ = std::make_unique<maps_host::Engine>(maps_host::EngineOptions{
        .sampling_period_scale = options_.sampling_scale, .report_sink = reports_.Sink()});
    engine_->LoadPackage(options_.package);
    instance_ = &engine_->CreateInstance("NTRIP_Client", "NTRIP_Client_1");
    Set("ip", "127.0.0.1");
    Set("port", std::to_string(caster_->Port()));
    Set("mountpoint", options_.mountpoint);
    Set("username", options_.username);
    Set("password", options_.password);
    Set("log_destination", "Console");
    Set("decode_rtcm", options_.decode ? "true" : "false");
    for (const auto& [name, value] : options_.properties) Set(name, value);
    instance_->SetOutputConsumer("oRawRTCM", raw_.Consumer(options_.raw_consumer_delay));
    instance_->SetOutputConsumer("oDecodeRTCM", decoded_.Consumer());
  }
  ~ComponentHarness() { Stop(); }

  void Set(const std::string& name, const std::string& value) {
    instance_->SetProperty(name, value);
  }
  void Start(std::vector<double> first_sample = {48.8584, 2.2945, 35.0, 0.02}) {
    instance_->PushSample("iGPSPos", std::move(first_sample));
    instance_->Start();
  }
  void Push(std::vector<double> sample) { instance_->PushSample("iGPSPos", std::move(sample)); }
  // Returns how long the stop took.
  std::chrono::milliseconds Stop() {
    const auto start = std::chrono::steady_clock::now();
    if (instance_) instance_->Stop();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    // The caster books a write when it completes, which may come after the client has read and
    // published its bytes: let it catch up before tests compare.
    const std::size_t out = raw_.Bytes().size();
    caster_->WaitUntil(
        [out](const caster::ReplayCaster& c) {
          std::size_t served = 0;
          for (std::size_t i = 0; i < c.ConnectionCount(); ++i) served += c.Connection(i).served_bytes;
          return served >= out;
        },
        2s);
    return took;
  }

  // Concatenation of what the caster served on every connection, in order.
  std::string ServedBytes() const {
    std::string all;
    for (std::size_t i = 0; i < caster_->ConnectionCount(); ++i)
      all += caster_->Connection(i).served;
    return all;
  }
  std::size_t Connections() const { return caster_->ConnectionCount(); }
  // Connections that carried a stream (a request for the mount point that got data).
  std::size_t ServingConnections() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < caster_->ConnectionCount(); ++i)
      if (!caster_->Connection(i).served.empty()) ++n;
    return n;
  }
  std::size_t CountInfo(const std::string& text) const {
    const auto texts = reports_.Texts(MAPS::ReportKind::Information);
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
  }
  bool WaitForReport(const std::string& text, std::chrono::milliseconds deadline = 10s) {
    return reports_.WaitFor([&](const maps_host::Report& r) { return r.text == text; }, deadline);
  }

  caster::ReplayCaster& Caster() { return *caster_; }
  host_test::ReportCollector& Reports() { return reports_; }
  const OutputLog& Raw() const { return raw_; }
  const OutputLog& Decoded() const { return decoded_; }
  maps_host::Instance& Instance() { return *instance_; }

 private:
  ComponentOptions options_;
  host_test::ReportCollector reports_;
  OutputLog raw_, decoded_;
  std::unique_ptr<caster::ReplayCaster> caster_;
  std::unique_ptr<maps_host::Engine> engine_;
  maps_host::Instance* instance_ = nullptr;
};

inline caster::CasterOptions ServeRecording(const std::string& file, double rate = 20000) {
  caster::CasterOptions o;
  o.mounts.push_back({"RTCM3", Recording(file)});
  o.rate = rate;
  return o;
}

}  // namespace component_test
