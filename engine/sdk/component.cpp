// MAPSComponent's host operations, compiled into the package: each one forwards to the kernel.
#include "kernel_link.h"

using MAPS::sdk::TheKernel;

bool MAPSComponent::GetBoolProperty(const char* name) const {
  return TheKernel().GetBoolProperty(instance_, name);
}

double MAPSComponent::GetFloatProperty(const char* name) const {
  return TheKernel().GetFloatProperty(instance_, name);
}

std::int64_t MAPSComponent::GetIntegerProperty(const char* name) const {
  return TheKernel().GetIntegerProperty(instance_, name);
}

std::string MAPSComponent::GetStringProperty(const char* name) const {
  return TheKernel().GetStringProperty(instance_, name);
}

MAPS::InputPort MAPSComponent::FindInput(const char* name) const {
  return MAPS::InputPort(TheKernel().FindInput(instance_, name), name);
}

MAPS::OutputPort MAPSComponent::FindOutput(const char* name) const {
  return MAPS::OutputPort(TheKernel().FindOutput(instance_, name), name);
}

MAPSIOElt* MAPSComponent::StartWriting(const MAPS::OutputPort& output) {
  return TheKernel().StartWriting(output.Handle());
}

void MAPSComponent::StopWriting(MAPSIOElt* element, bool discard) {
  TheKernel().StopWriting(element, discard);
}

void MAPSComponent::ReportInfo(const std::string& text) const {
  TheKernel().Report(instance_, MAPS::ReportKind::Information, text);
}

void MAPSComponent::ReportWarning(const std::string& text) const {
  TheKernel().Report(instance_, MAPS::ReportKind::Warning, text);
}

void MAPSComponent::ReportError(const std::string& text) const {
  TheKernel().Report(instance_, MAPS::ReportKind::Error, text);
}

bool MAPSComponent::IsStopping() const {
  return TheKernel().IsStopping(instance_);
}

std::uint32_t MAPSComponent::EngineState() const {
  return TheKernel().EngineState(instance_);
}

std::string MAPSComponent::InstanceName() const {
  return TheKernel().InstanceName(instance_);
}

double MAPSComponent::TimeScale() const {
  return TheKernel().TimeScale(instance_);
}

std::shared_ptr<void> MAPSComponent::HostObject(const char* name) const {
  return TheKernel().HostObject(instance_, name);
}
