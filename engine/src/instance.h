#pragma once
// One component instance: its properties, inputs, output FIFOs, readers, and the component
// object with its own thread. Start runs Birth then Core again and again on that thread; Stop sets
// the stop flag, waits for Core to return, then runs Banzai and Death and destroys the component.
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input_board.h"
#include "output_fifo.h"
#include "package.h"
#include "property_set.h"
#include "reports.h"
#include "sampling_reader.h"
#include "thread_progress.h"

namespace maps_host {

// A name the model does not declare, or a value that is not one of the property's kind.
class PropertyError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

using OutputConsumer = std::function<void(const OutputElement& element)>;

class Instance {
 public:
  using Clock = std::chrono::steady_clock;

  struct Settings {
    double sampling_period_scale = 1.0;
    Clock::time_point origin{};  // zero of the engine clock
  };

  Instance(std::shared_ptr<const Package> package, const MAPS::ModuleDefinition& definition,
           std::string name, Settings settings, const ReportRouter& reports);
  ~Instance();  // stops the component if it runs
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  const std::string& Name() const { return name_; }

  // Applies a value given as text before start. Throws PropertyError for an unknown name or a
  // bad value. After start: reports the refusal, keeps the value and returns false.
  bool SetProperty(std::string_view name, std::string_view text);
  // Why the component's own rule refuses `text` for the property (empty: accepted, or no rule).
  // SetProperty does not apply the rule: the component does at start, as under any host.
  std::string CheckPropertyValue(std::string_view name, std::string_view text) const;
  // Declared properties in declaration order, then the built-in ones.
  std::vector<std::string> PropertyNames() const;
  // Current value as text; throws PropertyError for an unknown name.
  std::string PropertyText(std::string_view name) const;

  // Latest sample of a declared input (std::invalid_argument for an unknown input).
  void PushSample(std::string_view input, std::vector<double> values);
  // Oldest element of a declared output, waiting at most `timeout`; nothing at once when the
  // component is gone and the FIFO empty.
  std::optional<OutputElement> PopOutput(std::string_view output, Clock::duration timeout);
  // Before Start: every element of the output goes to `consumer` in the thread that publishes
  // it, within the component's StopWriting, and never joins the FIFO. A consumer that may block
  // hands the element to a thread of its own: while it runs, that writer of the component waits.
  void SetOutputConsumer(std::string_view output, OutputConsumer consumer);

  // Before Start: an object of the host's that the component may ask for by `name`
  // (MAPSComponent::HostObject), such as what it should remember beyond this instance's life.
  void ShareHostObject(std::string name, std::shared_ptr<void> object);

  void Start();
  void Stop();
  // Birth or Core failed (reported); the component waits for Stop.
  bool HasFailed() const { return failed_.load(); }

  // How long the laggard among the component's threads (its host thread after each Core, and
  // every thread that asks whether it is stopping) has not passed a checkpoint; none before
  // start. A watchdog stops its pings when this grows.
  std::optional<ThreadProgress::Silence> LongestSilence(Clock::time_point now) const {
    return progress_.LongestSilence(now);
  }

  // ---- For the kernel -------------------------------------------------------------------------
  void MarkProgress() { progress_.Mark(); }
  MAPS::InstanceHandle* Handle() { return reinterpret_cast<MAPS::InstanceHandle*>(this); }
  static Instance& FromHandle(MAPS::InstanceHandle* handle) {
    return *reinterpret_cast<Instance*>(handle);
  }
  bool ReadBool(const char* name) const;
  double ReadFloat(const char* name) const;
  std::int64_t ReadInteger(const char* name) const;
  std::string ReadString(const char* name) const;
  MAPS::InputHandle* FindInput(const char* name) const;
  MAPS::OutputHandle* FindOutput(const char* name) const;
  static MAPSIOElt* StartWriting(MAPS::OutputHandle* output);
  static void StopWriting(MAPSIOElt* element, bool discard);
  void Report(MAPS::ReportKind kind, const std::string& text) const;
  bool IsStopping() const { return stopping_.load(); }
  double TimeScale() const { return settings_.sampling_period_scale; }
  std::shared_ptr<void> HostObject(const char* name) const;
  MAPS::ReaderHandle* CreateReader(MAPS::ReaderSettings settings);
  static int Read(MAPS::ReaderHandle* reader);
  static void DestroyReader(MAPS::ReaderHandle* reader);

 private:
  enum class State { Created, Running, Stopped };
  struct InputPortSlot {
    std::string name;
    std::size_t index;
  };
  struct OutputPortSlot {
    Instance* owner;
    std::string name;
    std::unique_ptr<OutputFifo> fifo;
    OutputConsumer consumer;
  };
  struct ReaderSlot {
    Instance* owner;
    std::unique_ptr<SamplingReader> reader;
  };

  void RunComponent();
  void Consume(OutputPortSlot& slot, const OutputElement& element) const;
  bool CallStep(const char* step, const std::function<void()>& call, bool fatal);
  PropertySet::Entry EntryForRead(const char* name) const;
  [[noreturn]] void FailRead(const char* name, std::string_view kind) const;
  OutputPortSlot& OutputNamed(std::string_view name);
  std::int64_t NowMicroseconds() const;

  std::shared_ptr<const Package> package_;  // first in, last out: the code of the component
  const MAPS::ModuleDefinition& definition_;
  const std::string name_;
  const Settings settings_;
  const ReportRouter& reports_;

  mutable std::mutex properties_mutex_;
  PropertySet properties_;
  bool started_ = false;
  std::map<std::string, std::shared_ptr<void>, std::less<>> host_objects_;  // fixed at Start

  std::vector<std::unique_ptr<InputPortSlot>> inputs_;
  InputBoard board_;
  std::vector<std::unique_ptr<OutputPortSlot>> outputs_;

  std::mutex readers_mutex_;
  std::vector<std::unique_ptr<ReaderSlot>> readers_;

  std::mutex lifecycle_mutex_;
  std::atomic<State> state_{State::Created};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> failed_{false};
  ThreadProgress progress_;
  std::unique_ptr<MAPSComponent> component_;
  std::jthread component_thread_;
};

}  // namespace maps_host
