// The input reader's package side: set-up and reads go to the engine through the kernel.
#include "kernel_link.h"

using MAPS::sdk::TheKernel;

namespace MAPS {

InputReader::~InputReader() {
  if (handle_ != nullptr) TheKernel().DestroyReader(handle_);
}

std::unique_ptr<InputReader> CreateInputReader(MAPSComponent& component, InputReaderPolicy policy,
                                               std::int64_t period_us, bool allow_empty_inputs,
                                               const std::vector<InputPort>& inputs,
                                               SampleCallback first_time,
                                               SampleCallback each_sample) {
  ReaderSettings settings;
  settings.policy = policy;
  settings.period_us = period_us;
  settings.allow_empty_inputs = allow_empty_inputs;
  for (const InputPort& input : inputs) settings.inputs.push_back(input.Handle());
  settings.first_time = std::move(first_time);
  settings.each_sample = std::move(each_sample);
  // A refused set-up still gives a reader: its reads fail, which Core turns into the error signal.
  return std::make_unique<InputReader>(
      TheKernel().CreateReader(component.Instance(), std::move(settings)));
}

}  // namespace MAPS

int maps_input_reader_read(MAPS::InputReader* reader) {
  if (reader == nullptr) return MAPS::kReadFailed;
  if (reader->Handle() == nullptr) return MAPS::kReadBadSetup;
  return TheKernel().Read(reader->Handle());
}
