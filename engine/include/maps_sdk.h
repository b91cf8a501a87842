#pragma once
// The whole host API a component package compiles against.
//
// A package is a shared library that exports two functions:
//
//   extern "C" MAPS_PACKAGE_EXPORT int MAPSPckInit(MAPS::Kernel* kernel, int interface_version);
//       Called once at load; forward it to MAPS::InstallKernel and return its result.
//   extern "C" MAPS_PACKAGE_EXPORT const MAPS::ModuleList* MAPSGetModulesDefStruct();
//       Returns the package's static definition tables (below).
//
// and links the static library `maps_sdk`, which implements the methods of MAPSComponent and the
// input reader by calling the engine's kernel interface. Package and engine never link each other.
//
// Life of a component, as the engine drives it:
//   factory (ModuleDefinition::create) -> Birth() -> Core(), Core(), ... on the component's own
//   thread -> stop flag set -> Banzai() -> Death() -> destructor.
// Core() must come back regularly: typically it performs one maps_input_reader_read() and returns.
// Property values are set by the engine before Birth and cannot change afterwards.
//
// Host signals: host operations throw a plain int. MAPS::kStopSignal (57005) once the component is
// stopping, MAPS::kErrorSignal (-5) on failure, after an error report saying what failed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A DLL exports only what is marked so; a shared object built with hidden visibility likewise.
#ifdef _WIN32
#define MAPS_PACKAGE_EXPORT __declspec(dllexport)
#else
#define MAPS_PACKAGE_EXPORT __attribute__((visibility("default")))
#endif

class MAPSComponent;
class MAPSIOElt;

namespace MAPS {

class Kernel;  // the engine's operations, handed over by MAPSPckInit (maps_kernel.h)

// Opaque engine objects; a component only passes them back to the host.
struct InstanceHandle;
struct InputHandle;
struct OutputHandle;
struct ReaderHandle;

// 2: HostObject, the objects a host hands an instance.
inline constexpr int kKernelInterfaceVersion = 2;

// ---- Host signals (thrown as int) ----------------------------------------------------------
inline constexpr int kStopSignal = 57005;
inline constexpr int kErrorSignal = -5;

// Bit of the engine state word (MAPSComponent::EngineState) set once the engine stops this
// component.
inline constexpr std::uint32_t kEngineStateStopping = 4;

// ---- Definition tables ------------------------------------------------------------------------
enum class PropertyKind : int { Boolean, Integer, Float, String, Enumeration };

// Sub-type bits of a string property.
inline constexpr int kSubTypeNone = 0;
inline constexpr int kSubTypeDirectory = 32;  // the value names a directory
inline constexpr int kSubTypePathCheck = 64;  // the engine checks the path when the value is set

struct PropertyDefinition {
  const char* name;
  PropertyKind kind;
  // Default as text: "true"/"false", a decimal number, the string itself, or for an Enumeration
  // its items separated by '|' ("Log|Console|Nothing").
  const char* default_value;
  int default_index;  // Enumeration only: the item selected by default
  int sub_type;       // kSubType* bits
  const char* description;
  // The component's own rule for a String value: why the value is refused (naming the
  // property), or an empty text when it is accepted. The component applies it at start under
  // any host; a host may ask it earlier (Instance::CheckPropertyValue) to refuse a value before
  // start. Null: every text is accepted.
  std::string (*check)(std::string_view value) = nullptr;
  // The value is a secret (a password): a host shows only whether it is set, never the value.
  bool secret = false;
};

// Data type codes carried by the definitions.
inline constexpr int kTypeFloat64Vector = 4;
inline constexpr int kTypeBytes = 0x1000;

struct InputDefinition {
  const char* name;
  int type_code;
};

struct OutputDefinition {
  const char* name;
  int type_code;
  const char* description;
  const char* unit;
  int buffer_size;  // elements (bytes) per output element
  int fifo_size;    // output elements held for the consumer
  int settings[2];  // carried for the host, not interpreted by this engine
};

using ComponentFactory = MAPSComponent* (*)(InstanceHandle* instance);

// One component model. A model declares no actions.
struct ModuleDefinition {
  const char* model;
  const char* version;
  const char* class_name;
  const char* base_class_name;
  const char* identification;
  std::span<const InputDefinition> inputs;
  std::span<const OutputDefinition> outputs;
  std::span<const PropertyDefinition> properties;
  int priority;      // built-in property "priority"; 0..255, anything else becomes 128
  int host_setting;  // carried for the host, not interpreted by this engine
  int threaded;      // built-in property "threaded"
  ComponentFactory create;
};

struct ModuleList {
  std::span<const ModuleDefinition* const> modules;
};

// Stores the engine's kernel for every later host call of this package. Returns 0, or -1 when the
// interface version differs from the one this package was built with.
int InstallKernel(Kernel* kernel, int interface_version);

// ---- Inputs and outputs -----------------------------------------------------------------------
class InputPort {
 public:
  InputPort(InputHandle* handle, std::string name) : handle_(handle), name_(std::move(name)) {}
  InputHandle* Handle() const { return handle_; }
  const std::string& Name() const { return name_; }

 private:
  InputHandle* handle_;
  std::string name_;
};

class OutputPort {
 public:
  OutputPort(OutputHandle* handle, std::string name) : handle_(handle), name_(std::move(name)) {}
  OutputHandle* Handle() const { return handle_; }
  const std::string& Name() const { return name_; }

 private:
  OutputHandle* handle_;
  std::string name_;
};

enum class ReportKind : int { Information, Warning, Error };

// ---- Input reader ---------------------------------------------------------------------------
// The samples handed to a reader callback: one per input of the reader, in the reader's order.
// Only valid during the callback.
template <typename T>
class InputElt {
 public:
  struct Sample {
    const T* data = nullptr;  // null when that input has no sample yet (empty inputs allowed)
    std::size_t size = 0;
    std::int64_t timestamp = 0;  // microseconds on the engine clock
  };

  explicit InputElt(std::vector<Sample> samples) : samples_(std::move(samples)) {}

  // Values of the input at `input_index` in the reader's list.
  const T* DataPointer(std::size_t input_index = 0) const { return At(input_index).data; }
  std::size_t VectorSize(std::size_t input_index = 0) const { return At(input_index).size; }
  std::int64_t Timestamp(std::size_t input_index = 0) const { return At(input_index).timestamp; }

 private:
  const Sample& At(std::size_t index) const {
    static const Sample kNone{};
    return index < samples_.size() ? samples_[index] : kNone;
  }
  std::vector<Sample> samples_;
};

enum class InputReaderPolicy : int { PeriodicSampling };

// Called with the sampling instant (microseconds on the engine clock) and the latest samples.
using SampleCallback = std::function<void(std::int64_t timestamp, InputElt<double> sample)>;

// Results of maps_input_reader_read.
inline constexpr int kReadDone = 0;            // a callback ran
inline constexpr int kReadCallbackFailed = 1;  // a callback threw; reported, sampling goes on
inline constexpr int kReadStopped = -15;       // the component is stopping
// Failures: -14 to -11, -2 and -1. This engine gives -1 (no reader) and -14 (bad set-up).
inline constexpr int kReadFailed = -1;
inline constexpr int kReadBadSetup = -14;

// Owned by the component (std::unique_ptr); destroy it before Death returns.
class InputReader {
 public:
  explicit InputReader(ReaderHandle* handle) : handle_(handle) {}
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;
  ReaderHandle* Handle() const { return handle_; }

 private:
  ReaderHandle* handle_;
};

// PeriodicSampling: each read waits for the next sampling instant (every `period_us`
// microseconds) and runs one callback with the latest sample of every input. Unless empty inputs
// are allowed, the first read first waits until every input has a sample and fires at once.
// `first_time` runs on the first firing, `each_sample` on every later one. Both run inside
// maps_input_reader_read on the calling thread. An exception that leaves a callback is caught
// and reported by the host; the read then returns kReadCallbackFailed.
std::unique_ptr<InputReader> CreateInputReader(MAPSComponent& component, InputReaderPolicy policy,
                                               std::int64_t period_us, bool allow_empty_inputs,
                                               const std::vector<InputPort>& inputs,
                                               SampleCallback first_time,
                                               SampleCallback each_sample);

}  // namespace MAPS

// One read of the reader: waits for the next sampling instant, runs the callback and returns one
// of the MAPS::kRead* results. Returns MAPS::kReadStopped promptly once the component is stopping.
int maps_input_reader_read(MAPS::InputReader* reader);

// ---- Output element ---------------------------------------------------------------------------
// Given by StartWriting with a data buffer of the output's buffer size; handed back by
// StopWriting. Write at most BufferSize() bytes and set VectorSize to the number written.
class MAPSIOElt {
 public:
  MAPSIOElt(MAPS::OutputHandle* output, std::size_t buffer_size)
      : output_(output), buffer_(buffer_size) {}
  unsigned char* Data() { return buffer_.data(); }
  const unsigned char* Data() const { return buffer_.data(); }
  std::size_t BufferSize() const { return buffer_.size(); }
  std::size_t VectorSize() const { return vector_size_; }
  void VectorSize(std::size_t size) { vector_size_ = size; }
  std::int64_t Timestamp() const { return timestamp_; }
  void Timestamp(std::int64_t microseconds) { timestamp_ = microseconds; }  // 0: engine stamps it
  MAPS::OutputHandle* Output() const { return output_; }
  // For the engine: the written bytes leave the element without a copy; the element is spent.
  std::vector<unsigned char> TakeBytes() {
    buffer_.resize(std::min(vector_size_, buffer_.size()));
    return std::move(buffer_);
  }

 private:
  MAPS::OutputHandle* output_;
  std::vector<unsigned char> buffer_;
  std::size_t vector_size_ = 0;
  std::int64_t timestamp_ = 0;
};

// ---- The component base class -----------------------------------------------------------------
class MAPSComponent {
 public:
  explicit MAPSComponent(MAPS::InstanceHandle* instance) : instance_(instance) {}
  // Inline, like every virtual here: the engine and the package each hold the class's type
  // information, so neither needs a symbol of the other.
  virtual ~MAPSComponent() = default;
  MAPSComponent(const MAPSComponent&) = delete;
  MAPSComponent& operator=(const MAPSComponent&) = delete;

  // Called again and again on the component's own thread while it runs.
  virtual void Core() = 0;
  // Start: called once on the component's thread, before the first Core.
  virtual void Birth() {}
  // Stop, first step: called after the stop flag is set and Core has returned for good.
  virtual void Banzai() {}
  // Stop, second step: release what Birth acquired.
  virtual void Death() {}

  // Typed property getters. An enumeration read as integer gives the selected index; every kind
  // reads as a string. Unknown names and other kinds: error report, then MAPS::kErrorSignal.
  bool GetBoolProperty(const char* name) const;
  double GetFloatProperty(const char* name) const;
  std::int64_t GetIntegerProperty(const char* name) const;
  std::string GetStringProperty(const char* name) const;

  // Declared inputs and outputs; unknown names: error report, then MAPS::kErrorSignal.
  MAPS::InputPort FindInput(const char* name) const;
  MAPS::OutputPort FindOutput(const char* name) const;

  // Waits while the output's FIFO is full; throws MAPS::kStopSignal once the component is
  // stopping and the stop's short drain (1 s, for what the component already holds) is over.
  // The element must go back through StopWriting.
  MAPSIOElt* StartWriting(const MAPS::OutputPort& output);
  // Publishes the element (or drops it when `discard`). A VectorSize larger than the buffer size
  // is reported, the element dropped and MAPS::kErrorSignal thrown.
  void StopWriting(MAPSIOElt* element, bool discard = false);

  // Reports shown on the engine's console.
  void ReportInfo(const std::string& text) const;
  void ReportWarning(const std::string& text) const;
  void ReportError(const std::string& text) const;

  // The stop flag of the component's status word: set once the engine stops this component.
  bool IsStopping() const;
  // The engine state word; see MAPS::kEngineStateStopping.
  std::uint32_t EngineState() const;
  std::string InstanceName() const;
  // How fast the engine's clock runs: 1 in production. A test engine may run sampling faster
  // (0.1: a one-second period every 100 ms); a component scales its own waits by the same factor.
  double TimeScale() const;
  // An object the host handed this instance under `name` before start, null when it handed none.
  // Its type is a contract between the host and the component, both built from one header.
  std::shared_ptr<void> HostObject(const char* name) const;
  MAPS::InstanceHandle* Instance() const { return instance_; }

 private:
  MAPS::InstanceHandle* instance_;
};
