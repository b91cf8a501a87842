#include "run_sources.h"

#include <functional>

#include "common/option_text.h"
#include "component_names.h"
#include "link_events.h"
#include "sourcetable_steps.h"

namespace ntrip_host {

namespace {

RunSources::Clock::duration DurationOf(double seconds) {
  return std::chrono::duration_cast<RunSources::Clock::duration>(
      std::chrono::duration<double>(seconds));
}

}  // namespace

RunSources::RunSources(Engine& engine, const Instance& first, const RunOptions& options,
                       const RunOutputs& outputs, ConnectionWatch& link, const Console& console,
                       StopRequest& stop, std::shared_ptr<tarno::SetupSpacingBook> spacing)
    : engine_(engine),
      outputs_(outputs),
      link_(link),
      console_(console),
      stop_(stop),
      settled_(SettledProperties(first)),
      sources_(SourceList(first, options.fallbacks), DurationOf(options.switch_after_seconds),
               Clock::now(),
               DurationOf(static_cast<double>(tarno::ReconnectSpacing::kLongest.count()) *
                          options.sampling_scale)),
      follow_nearest_(options.follow_nearest),
      follow_period_(DurationOf(options.follow_period_seconds)),
      slot_(kPositionInput),
      probe_spacing_(DurationOf(options.probe_period_seconds)),
      spacing_(std::move(spacing)) {}

void RunSources::Start(Instance& first) {
  current_ = &first;
  first.ShareHostObject(tarno::SetupSpacingBook::kHostObjectName, spacing_);
  first.Start();
  slot_.Attach(first);
}

void RunSources::PrepareWatchers(const Instance& first, Position start_position) {
  const tarno::CasterAddress preferred_caster = CasterOf(first);
  if (sources_.Count() > 1) {
    probe_.emplace(preferred_caster, sources_.At(0).mountpoint);
  }
  if (follow_nearest_) {
    follow_.emplace(preferred_caster);
    const auto here = slot_.Latest();
    follow_spacing_.emplace(follow_period_,
                            here ? Position{(*here)[0], (*here)[1]} : start_position,
                            Clock::now());
  }
}

void RunSources::Step(Clock::time_point now) {
  const SwitchFunction switch_source = std::bind_front(&RunSources::SwitchSource, this);
  WatchAllFailed();
  // Refused, closed or unreachable, and the component's first reconnect failed too: waiting the
  // switch time would only keep the receiver without corrections.
  const ConnectionWatch::Snapshot link = link_.Take(now);
  std::optional<std::string> broken;
  if (!link.connected && link.setbacks >= 2) broken = link.setback_cause;
  if (const auto due = sources_.SwitchDue(now, broken)) {
    SwitchSource(due->next, due->reason, SwitchLine(sources_, due->next, due->reason), true);
  } else if (probe_ && sources_.Current() != 0) {
    TakeThePreferredBack(*probe_, probe_spacing_, sources_, slot_, now, switch_source);
  } else if (follow_ && sources_.Current() == 0) {
    FollowTheNearest(*follow_, *follow_spacing_, sources_, slot_, now, switch_source);
  }
}

// The old instance is stopped (its last bytes reach the outputs) before the new one starts, so
// the raw output carries each connection's bytes once and in order. `event`: the line that says
// so; a warning when corrections were lost.
void RunSources::SwitchSource(std::size_t next, const std::string& reason, const std::string& event,
                              bool failover) {
  StopCurrent();
  // A stopped instance says nothing of its link: the watch hears of the end from the host.
  if (link_.Take(Clock::now()).connected) {
    link_.OnReport(Report{kInstanceName, MAPS::ReportKind::Information,
                          tarno::LostEvent("switched to another source")},
                   Clock::now());
  }
  // An outcome that came before this switch speaks of a state that is gone.
  if (probe_) probe_->Take();
  if (follow_) follow_->Take();
  if (sources_.Current() == 0) probe_spacing_.Restart(Clock::now());
  sources_.SwitchTo(next, reason, Clock::now(), failover);
  link_.NewSource();
  if (failover && sources_.AllFailed()) {
    // The switch lines would repeat every minute for as long as the casters fail: one warning
    // said so, the rest are information.
    WatchAllFailed();
    console_.Info(event);
  } else if (failover) {
    console_.Warning(event);
  } else {
    console_.Info(event);
  }
  // A stop asked for during the switch: nothing new starts.
  if (stop_.WaitUntil(Clock::now())) return;
  Instance& made = MakeInstance(sources_.At(next));
  made.Start();
  slot_.Attach(made);
  current_ = &made;
}

void RunSources::WatchAllFailed() {
  const bool all_failed = sources_.AllFailed();
  if (all_failed == all_failed_said_) return;
  all_failed_said_ = all_failed;
  if (all_failed) {
    console_.Warning("none of the " + std::to_string(sources_.Count()) +
                     " sources gives corrections: each is now kept " +
                     std::to_string(tarno::ReconnectSpacing::kLongest.count()) +
                     " s before the next");
  } else {
    console_.Warning(sources_.Take(Clock::now()).source + " serves again");
  }
}

Instance& RunSources::MakeInstance(const Source& to) {
  Instance& made = engine_.CreateInstance(kModel, kInstanceName);
  made.ShareHostObject(tarno::SetupSpacingBook::kHostObjectName, spacing_);
  // Only what differs from the defaults: a default need not be one the host accepts as set.
  for (const auto& [name, value] : settled_) {
    if (made.PropertyText(name) != value) made.SetProperty(name, value);
  }
  made.SetProperty("ip", to.host);
  made.SetProperty("port", to.port);
  made.SetProperty("mountpoint", to.mountpoint);
  outputs_.Attach(made);
  return made;
}

void RunSources::StopWatchers() {
  probe_.reset();
  follow_.reset();
}

void RunSources::StopCurrent() {
  if (Instance* old = slot_.Detach()) {
    old->Stop();
    engine_.DestroyInstance(*old);
  }
  current_ = nullptr;
}

}  // namespace ntrip_host
