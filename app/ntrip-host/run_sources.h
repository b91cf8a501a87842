#pragma once
// The sources of a run and the switches between them: the preferred caster and its fallbacks,
// the probe that takes the preferred one back, and the follower of the nearest base. The
// instance that runs now belongs here: a switch stops it and starts the next one.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component_slot.h"
#include "connection_watch.h"
#include "console.h"
#include "engine_names.h"
#include "nearest_follow.h"
#include "options.h"
#include "preferred_probe.h"
#include "run_outputs.h"
#include "setup_spacing_book.h"
#include "source_steps.h"
#include "source_switch.h"
#include "stop_control.h"

namespace ntrip_host {

class RunSources {
 public:
  using Clock = std::chrono::steady_clock;

  // `first`: the configured instance; the other sources' instances copy its properties.
  // `spacing`: handed to every instance, so a caster's set-ups stay spaced across switches and
  // reloads. Throws UsageError for a fallback the component would refuse.
  RunSources(Engine& engine, const Instance& first, const RunOptions& options,
             const RunOutputs& outputs, ConnectionWatch& link, const Console& console,
             StopRequest& stop, std::shared_ptr<tarno::SetupSpacingBook> spacing);

  SourceSwitch& Switch() { return sources_; }
  const SourceSwitch& Switch() const { return sources_; }
  Instance* Current() const { return current_; }

  void Start(Instance& first);
  // While on a fallback, the preferred source is probed on a connection of its own; with
  // --follow-nearest, the preferred caster's table is read again as the rover moves.
  void PrepareWatchers(const Instance& first, Position start_position);
  // A position for whichever instance runs now (and the next one).
  void Push(const std::vector<double>& sample) { slot_.Push(sample); }
  // Once a second: at most one change of source.
  void Step(Clock::time_point now);
  // Their threads end here: a probe at once (its socket is closed), a table read within its
  // bounds.
  void StopWatchers();
  // The last instance: its last bytes reach the outputs before it goes.
  void StopCurrent();

 private:
  void SwitchSource(std::size_t next, const std::string& reason, const std::string& event,
                    bool failover);
  Instance& MakeInstance(const Source& to);
  // One warning when every source has failed, one when one serves again.
  void WatchAllFailed();

  Engine& engine_;
  const RunOutputs& outputs_;
  ConnectionWatch& link_;
  const Console& console_;
  StopRequest& stop_;
  const Settled settled_;
  SourceSwitch sources_;
  const bool follow_nearest_;
  const Clock::duration follow_period_;
  ComponentSlot slot_;
  Instance* current_ = nullptr;
  std::optional<PreferredProbe> probe_;
  std::optional<NearestFollow> follow_;
  std::optional<FollowSpacing> follow_spacing_;
  ProbeSpacing probe_spacing_;
  const std::shared_ptr<tarno::SetupSpacingBook> spacing_;
  bool all_failed_said_ = false;
};

}  // namespace ntrip_host
