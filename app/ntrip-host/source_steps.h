#pragma once
// The steps of a run with several sources: what each new instance copies of the first, when the
// preferred caster is probed and taken back, and when a nearer mount point is taken.
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "component_slot.h"
#include "engine_names.h"
#include "nearest_follow.h"
#include "preferred_probe.h"
#include "source_switch.h"

namespace ntrip_host {

// The properties of a configured instance, for the instances of later sources.
using Settled = std::vector<std::pair<std::string, std::string>>;
Settled SettledProperties(const Instance& instance);

// The preferred source as the instance's properties name it, then the fallbacks; throws
// UsageError for a fallback whose values the component would refuse.
std::vector<Source> SourceList(const Instance& instance, const std::vector<std::string>& fallbacks);

// "switched to source 2 of 3, H:P/M: REASON"
std::string SwitchLine(const SourceSwitch& sources, std::size_t next, const std::string& reason);

// Stops the current instance and starts one for source `next`; `event` is the line that says so,
// a warning when corrections were lost.
using SwitchFunction = std::function<void(std::size_t next, const std::string& reason,
                                          const std::string& event, bool failover)>;

// Once a second while on a fallback.
void TakeThePreferredBack(PreferredProbe& probe, ProbeSpacing& spacing, const SourceSwitch& sources,
                          ComponentSlot& slot, std::chrono::steady_clock::time_point now,
                          const SwitchFunction& switch_source);
// Once a second while on the preferred caster, with --follow-nearest.
void FollowTheNearest(NearestFollow& follow, FollowSpacing& spacing, SourceSwitch& sources,
                      ComponentSlot& slot, std::chrono::steady_clock::time_point now,
                      const SwitchFunction& switch_source);

// ", switches 2 (source 1 30.2 s, source 2 12.0 s)" for the stop line; empty with one source.
std::string SwitchSummary(const SourceSwitch& sources);

}  // namespace ntrip_host
