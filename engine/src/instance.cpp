#include "instance.h"

#include <cmath>
#include <filesystem>
#include <system_error>

namespace maps_host {
namespace {
// How long writers may still publish after the stop flag is set.
constexpr auto kStopDrain = std::chrono::milliseconds(1000);
}  // namespace

Instance::Instance(std::shared_ptr<const Package> package, const MAPS::ModuleDefinition& definition,
                   std::string name, Settings settings, const ReportRouter& reports)
    : package_(std::move(package)),
      definition_(definition),
      name_(std::move(name)),
      settings_(settings),
      reports_(reports),
      properties_(definition),
      board_(definition.inputs.size()) {
  for (std::size_t i = 0; i < definition.inputs.size(); ++i) {
    inputs_.push_back(std::make_unique<InputPortSlot>(InputPortSlot{definition.inputs[i].name, i}));
  }
  for (const MAPS::OutputDefinition& output : definition.outputs) {
    auto slot = std::make_unique<OutputPortSlot>();
    slot->owner = this;
    slot->name = output.name;
    slot->fifo = std::make_unique<OutputFifo>(reinterpret_cast<MAPS::OutputHandle*>(slot.get()),
                                              static_cast<std::size_t>(output.buffer_size),
                                              static_cast<std::size_t>(output.fifo_size));
    outputs_.push_back(std::move(slot));
  }
  component_.reset(definition.create(Handle()));
  if (!component_)
    throw std::runtime_error("the factory of " + std::string(definition.model) +
                             " made no component");
}

Instance::~Instance() {
  Stop();
}

// ---- Properties --------------------------------------------------------------------------------

bool Instance::SetProperty(std::string_view name, std::string_view text) {
  bool check_directory = false;
  {
    std::scoped_lock lock(properties_mutex_);
    PropertySet::Entry* entry = properties_.Find(name);
    if (entry == nullptr) {
      throw PropertyError("Unknown property " + std::string(name) + " of " + definition_.model);
    }
    if (started_) {
      Report(MAPS::ReportKind::Error, "Failure while trying to set value of property " +
                                          std::string(name) +
                                          ". This property can't be modified after start.");
      return false;
    }
    std::optional<PropertyValue> value = ParsePropertyValue(entry->info, text);
    if (!value) {
      std::string message = "Bad value \"" + std::string(text) + "\" for " +
                            std::string(KindName(entry->info.kind)) + " property " +
                            std::string(name);
      if (entry->info.kind == MAPS::PropertyKind::Enumeration) {
        message += " (one of";
        for (const std::string& item : entry->info.items) message += " " + item;
        message += ", or its index)";
      }
      throw PropertyError(message);
    }
    entry->value = PropertySet::Normalised(*entry, std::move(*value));
    check_directory = (entry->info.sub_type & MAPS::kSubTypeDirectory) != 0 && !text.empty();
  }
  std::error_code error;
  if (check_directory && !std::filesystem::is_directory(std::filesystem::path(text), error)) {
    Report(MAPS::ReportKind::Error, std::string(text) + " is not a directory.");
  }
  return true;
}

std::string Instance::CheckPropertyValue(std::string_view name, std::string_view text) const {
  std::scoped_lock lock(properties_mutex_);
  const PropertySet::Entry* entry = properties_.Find(name);
  if (entry == nullptr || entry->info.check == nullptr) return {};
  return entry->info.check(text);
}

std::vector<std::string> Instance::PropertyNames() const {
  std::scoped_lock lock(properties_mutex_);
  std::vector<std::string> names;
  for (const PropertySet::Entry& entry : properties_.Entries()) names.push_back(entry.info.name);
  return names;
}

std::string Instance::PropertyText(std::string_view name) const {
  std::scoped_lock lock(properties_mutex_);
  const PropertySet::Entry* entry = properties_.Find(name);
  if (entry == nullptr) {
    throw PropertyError("Unknown property " + std::string(name) + " of " + definition_.model);
  }
  return FormatPropertyValue(entry->info, entry->value);
}

PropertySet::Entry Instance::EntryForRead(const char* name) const {
  {
    std::scoped_lock lock(properties_mutex_);
    if (const PropertySet::Entry* entry = properties_.Find(name != nullptr ? name : "")) {
      return *entry;
    }
  }
  Report(MAPS::ReportKind::Error,
         "Property " + std::string(name != nullptr ? name : "") + " does not exist.");
  throw MAPS::kErrorSignal;
}

void Instance::FailRead(const char* name, std::string_view kind) const {
  Report(MAPS::ReportKind::Error,
         "Property " + std::string(name) + " cannot be read as " + std::string(kind) + ".");
  throw MAPS::kErrorSignal;
}

bool Instance::ReadBool(const char* name) const {
  const PropertySet::Entry entry = EntryForRead(name);
  if (const bool* value = std::get_if<bool>(&entry.value)) return *value;
  FailRead(name, "boolean");
}

double Instance::ReadFloat(const char* name) const {
  const PropertySet::Entry entry = EntryForRead(name);
  if (const double* value = std::get_if<double>(&entry.value)) return *value;
  if (entry.info.kind == MAPS::PropertyKind::Integer) {
    return static_cast<double>(std::get<std::int64_t>(entry.value));
  }
  FailRead(name, "floating point");
}

std::int64_t Instance::ReadInteger(const char* name) const {
  const PropertySet::Entry entry = EntryForRead(name);
  // An enumeration reads as its selected index.
  if (const std::int64_t* value = std::get_if<std::int64_t>(&entry.value)) return *value;
  if (const bool* value = std::get_if<bool>(&entry.value)) return *value ? 1 : 0;
  FailRead(name, "integer");
}

std::string Instance::ReadString(const char* name) const {
  const PropertySet::Entry entry = EntryForRead(name);
  return FormatPropertyValue(entry.info, entry.value);
}

// ---- Inputs and outputs ------------------------------------------------------------------------

MAPS::InputHandle* Instance::FindInput(const char* name) const {
  for (const auto& input : inputs_) {
    if (name != nullptr && input->name == name) {
      return reinterpret_cast<MAPS::InputHandle*>(input.get());
    }
  }
  Report(MAPS::ReportKind::Error,
         "Input " + std::string(name != nullptr ? name : "") + " does not exist.");
  throw MAPS::kErrorSignal;
}

MAPS::OutputHandle* Instance::FindOutput(const char* name) const {
  for (const auto& output : outputs_) {
    if (name != nullptr && output->name == name) {
      return reinterpret_cast<MAPS::OutputHandle*>(output.get());
    }
  }
  Report(MAPS::ReportKind::Error,
         "Output " + std::string(name != nullptr ? name : "") + " does not exist.");
  throw MAPS::kErrorSignal;
}

MAPSIOElt* Instance::StartWriting(MAPS::OutputHandle* output) {
  if (output == nullptr) throw MAPS::kErrorSignal;
  OutputPortSlot& slot = *reinterpret_cast<OutputPortSlot*>(output);
  // Past the stop's drain, the FIFO answers with the stop signal.
  return slot.fifo->Acquire();
}

void Instance::StopWriting(MAPSIOElt* element, bool discard) {
  if (element == nullptr || element->Output() == nullptr) throw MAPS::kErrorSignal;
  OutputPortSlot& slot = *reinterpret_cast<OutputPortSlot*>(element->Output());
  const std::size_t vector_size = element->VectorSize();
  const std::size_t buffer_size = element->BufferSize();
  const std::int64_t now_us = slot.owner->NowMicroseconds();
  OutputElement taken;
  const OutputFifo::Release release = slot.consumer
                                          ? slot.fifo->Take(element, discard, now_us, taken)
                                          : slot.fifo->Give(element, discard, now_us);
  switch (release) {
    case OutputFifo::Release::Published:
      if (slot.consumer) slot.owner->Consume(slot, taken);
      return;
    case OutputFifo::Release::Discarded:
      return;
    case OutputFifo::Release::Overflow:
      slot.owner->Report(MAPS::ReportKind::Error,
                         "Buffer overflow detected: VectorSize(" + std::to_string(vector_size) +
                             ") > BufferSize(" + std::to_string(buffer_size) + ")");
      throw MAPS::kErrorSignal;
    case OutputFifo::Release::Foreign:
      slot.owner->Report(MAPS::ReportKind::Error,
                         "StopWriting of an element output " + slot.name + " did not give out");
      throw MAPS::kErrorSignal;
  }
}

void Instance::PushSample(std::string_view input, std::vector<double> values) {
  for (const auto& slot : inputs_) {
    if (slot->name == input) {
      board_.Push(slot->index, std::move(values), NowMicroseconds());
      return;
    }
  }
  throw std::invalid_argument("Unknown input " + std::string(input) + " of " + definition_.model);
}

Instance::OutputPortSlot& Instance::OutputNamed(std::string_view name) {
  for (const auto& output : outputs_) {
    if (output->name == name) return *output;
  }
  throw std::invalid_argument("Unknown output " + std::string(name) + " of " + definition_.model);
}

std::optional<OutputElement> Instance::PopOutput(std::string_view output, Clock::duration timeout) {
  return OutputNamed(output).fifo->Pop(Clock::now() + timeout);
}

void Instance::SetOutputConsumer(std::string_view output, OutputConsumer consumer) {
  std::scoped_lock lock(lifecycle_mutex_);
  if (state_.load() != State::Created) {
    throw std::logic_error("an output consumer is set before start");
  }
  OutputNamed(output).consumer = std::move(consumer);
}

// A consumer's failure is the host's, not the component's: reported, and the writer goes on.
void Instance::Consume(OutputPortSlot& slot, const OutputElement& element) const {
  try {
    slot.consumer(element);
  } catch (const std::exception& error) {
    Report(MAPS::ReportKind::Error, "Consumer of output " + slot.name + " failed: " + error.what());
  } catch (...) {
    Report(MAPS::ReportKind::Error, "Consumer of output " + slot.name + " failed");
  }
}

// ---- Reports, state, readers -------------------------------------------------------------------

void Instance::Report(MAPS::ReportKind kind, const std::string& text) const {
  reports_.Deliver(maps_host::Report{name_, kind, text});
}

std::int64_t Instance::NowMicroseconds() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - settings_.origin)
      .count();
}

MAPS::ReaderHandle* Instance::CreateReader(MAPS::ReaderSettings settings) {
  SamplingReader::Setup setup;
  for (MAPS::InputHandle* handle : settings.inputs) {
    const auto* slot = reinterpret_cast<const InputPortSlot*>(handle);
    bool ours = false;
    for (const auto& input : inputs_) ours = ours || input.get() == slot;
    if (!ours) {
      Report(MAPS::ReportKind::Error, "Input reader given an input of another component");
      return nullptr;
    }
    setup.inputs.push_back(slot->index);
  }
  if (settings.policy != MAPS::InputReaderPolicy::PeriodicSampling || settings.period_us < 0 ||
      setup.inputs.empty()) {
    Report(MAPS::ReportKind::Error,
           "Input reader needs the periodic-sampling policy, a period and at least one input");
    return nullptr;
  }
  const double scaled_us =
      static_cast<double>(settings.period_us) * settings_.sampling_period_scale;
  setup.period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::micro>(scaled_us));
  setup.allow_empty_inputs = settings.allow_empty_inputs;
  setup.first_time = std::move(settings.first_time);
  setup.each_sample = std::move(settings.each_sample);
  auto slot = std::make_unique<ReaderSlot>();
  slot->owner = this;
  slot->reader = std::make_unique<SamplingReader>(
      board_, std::move(setup), settings_.origin,
      [this](const std::string& text) { Report(MAPS::ReportKind::Error, text); });
  std::scoped_lock lock(readers_mutex_);
  readers_.push_back(std::move(slot));
  return reinterpret_cast<MAPS::ReaderHandle*>(readers_.back().get());
}

int Instance::Read(MAPS::ReaderHandle* reader) {
  return reinterpret_cast<ReaderSlot*>(reader)->reader->Read();
}

void Instance::DestroyReader(MAPS::ReaderHandle* reader) {
  Instance& owner = *reinterpret_cast<ReaderSlot*>(reader)->owner;
  std::scoped_lock lock(owner.readers_mutex_);
  std::erase_if(owner.readers_, [&](const auto& owned) {
    return reinterpret_cast<MAPS::ReaderHandle*>(owned.get()) == reader;
  });
}

// ---- Life cycle --------------------------------------------------------------------------------

bool Instance::CallStep(const char* step, const std::function<void()>& call, bool fatal) {
  std::string failure;
  try {
    call();
    return true;
  } catch (int signal) {
    failure = std::string(step) + " ended with host signal " + std::to_string(signal);
  } catch (const std::exception& error) {
    failure = std::string(step) + " failed: " + error.what();
  } catch (...) {
    failure = std::string(step) + " failed with an unknown exception";
  }
  // Marked before the report, so whoever sees the report also sees the failure.
  if (fatal) failed_.store(true);
  Report(MAPS::ReportKind::Error, failure);
  return false;
}

void Instance::RunComponent() {
  if (!CallStep(
          "Birth", [&] { component_->Birth(); }, true))
    return;
  while (!stopping_.load()) {
    progress_.Mark();
    bool stopped = false;
    const bool done = CallStep(
        "Core",
        [&] {
          try {
            component_->Core();
          } catch (int signal) {
            // The stop signal is how Core leaves a read once the component is stopping.
            if (signal != MAPS::kStopSignal || !stopping_.load()) throw;
            stopped = true;
          }
        },
        true);
    if (!done || stopped) return;
  }
}

void Instance::ShareHostObject(std::string name, std::shared_ptr<void> object) {
  std::scoped_lock lock(properties_mutex_);
  if (started_) throw std::logic_error("host objects are handed over before start");
  host_objects_.insert_or_assign(std::move(name), std::move(object));
}

std::shared_ptr<void> Instance::HostObject(const char* name) const {
  // Fixed once started: the component's threads read it without a lock of their own.
  std::scoped_lock lock(properties_mutex_);
  const auto found = host_objects_.find(std::string_view(name));
  return found == host_objects_.end() ? nullptr : found->second;
}

void Instance::Start() {
  std::scoped_lock lock(lifecycle_mutex_);
  if (state_.load() != State::Created) throw std::logic_error("an instance starts only once");
  {
    std::scoped_lock properties_lock(properties_mutex_);
    started_ = true;
  }
  state_.store(State::Running);
  component_thread_ = std::jthread([this] { RunComponent(); });
}

void Instance::Stop() {
  std::scoped_lock lock(lifecycle_mutex_);
  if (state_.load() == State::Stopped) return;
  const bool ran = state_.load() == State::Running;
  // Every wait of the component ends now: reads with the stop result. Writers may still publish
  // what the component had received for a short drain; past it they get the stop signal, so a
  // consumer that takes nothing cannot hold the stop.
  stopping_.store(true);
  board_.RequestStop();
  const Clock::time_point drain_end = Clock::now() + kStopDrain;
  for (const auto& output : outputs_) output->fifo->RequestStop(drain_end);
  if (ran) {
    if (component_thread_.joinable()) component_thread_.join();
    CallStep(
        "Banzai", [&] { component_->Banzai(); }, false);
    CallStep(
        "Death", [&] { component_->Death(); }, false);
  }
  component_.reset();
  {
    std::scoped_lock readers_lock(readers_mutex_);
    readers_.clear();  // those the component never destroyed
  }
  for (const auto& output : outputs_) output->fifo->Close();
  state_.store(State::Stopped);
}

}  // namespace maps_host
