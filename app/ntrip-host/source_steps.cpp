#include "source_steps.h"

#include "gga.h"
#include "options.h"

namespace ntrip_host {

Settled SettledProperties(const Instance& instance) {
  Settled settled;
  for (const std::string& name : instance.PropertyNames()) {
    settled.emplace_back(name, instance.PropertyText(name));
  }
  return settled;
}

std::vector<Source> SourceList(const Instance& instance, const std::vector<std::string>& fallbacks) {
  std::vector<Source> list{{instance.PropertyText("ip"), instance.PropertyText("port"),
                            instance.PropertyText("mountpoint")}};
  for (const std::string& text : fallbacks) {
    Source fallback = ParseSource(text);
    for (const auto& [name, value] : {std::pair<const char*, const std::string&>{"ip", fallback.host},
                                      {"port", fallback.port},
                                      {"mountpoint", fallback.mountpoint}}) {
      if (const std::string refused = instance.CheckPropertyValue(name, value); !refused.empty()) {
        throw UsageError("--fallback " + text + ": " + refused);
      }
    }
    list.push_back(std::move(fallback));
  }
  return list;
}

std::string SwitchLine(const SourceSwitch& sources, std::size_t next, const std::string& reason) {
  return "switched to source " + std::to_string(next + 1) + " of " +
         std::to_string(sources.Count()) + ", " + sources.At(next).Text() + ": " + reason;
}

// Probes never run while the current source itself fails: its own failure would tell nothing
// of the preferred one, and the switch to the next source comes first.
void TakeThePreferredBack(PreferredProbe& probe, ProbeSpacing& spacing, const SourceSwitch& sources,
                          ComponentSlot& slot, std::chrono::steady_clock::time_point now, const SwitchFunction& switch_source) {
  if (const std::optional<ProbeOutcome> outcome = probe.Take()) {
    if (outcome->serves) {
      const std::string reason = sources.At(0).Text() + " serves again";
      switch_source(0, reason, SwitchLine(sources, 0, reason), false);
      return;
    }
    spacing.Failed(now);
    return;
  }
  if (probe.Running() || !spacing.Due(now) || sources.Failing(now)) return;
  std::string gga;
  if (const auto sample = slot.Latest(); sample && sample->size() >= 3) {
    if (tarno::GenerateGGA((*sample)[0], (*sample)[1], (*sample)[2], &gga) != 0) gga.clear();
  }
  probe.Start(std::move(gga));
}

// Only on the preferred caster: its sourcetable lists the mount points to choose from.
void FollowTheNearest(NearestFollow& follow, FollowSpacing& spacing, SourceSwitch& sources,
                      ComponentSlot& slot, std::chrono::steady_clock::time_point now, const SwitchFunction& switch_source) {
  if (const auto outcome = follow.Take()) {
    if (*outcome) {
      sources.SetMountpoint(0, (*outcome)->mountpoint);
      switch_source(0, (*outcome)->line, (*outcome)->line, false);
    }
    return;
  }
  const auto sample = slot.Latest();
  if (!sample || sample->size() < 2) return;
  const Position here{(*sample)[0], (*sample)[1]};
  if (!spacing.Due(here, now)) return;
  if (follow.Start(here, sources.At(0).mountpoint)) spacing.Read(here, now);
}

std::string SwitchSummary(const SourceSwitch& sources) {
  const std::string summary = sources.Summary(std::chrono::steady_clock::now());
  return summary.empty() ? "" : ", " + summary;
}


}  // namespace ntrip_host
