#include "sourcetable_steps.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <utility>

#include "caster_response.h"
#include "common/decimal_text.h"
#include "http_proxy.h"
#include "options.h"
#include "sinks/file_sink.h"

namespace ntrip_host {

namespace {

using Clock = std::chrono::steady_clock;

// The source's first position: a live source may need a few of its seconds for a fix. A stop
// ends the wait.
std::optional<Position> FirstPosition(ntrip_host::PositionSource* source, StopRequest& stop) {
  for (int second = 0; source != nullptr && second < 10; ++second) {
    if (const auto sample = source->Next()) return Position{(*sample)[0], (*sample)[1]};
    if (stop.WaitUntil(Clock::now() + std::chrono::seconds(1))) break;
  }
  return std::nullopt;
}

// Empty when the fetch failed (said on the console) or a stop ended it (said by the caller).
std::optional<tarno::Sourcetable> Fetch(const Instance& instance, const StopRequest& stop,
                                        const Console& console) {
  const tarno::CasterAddress caster = CasterOf(instance);
  const std::stop_token stopped = stop.Token();
  tarno::FetchedSourcetable fetched = tarno::FetchSourcetable(caster, {}, stopped);
  if (stopped.stop_requested()) return std::nullopt;
  if (fetched.refusal.kind != tarno::Refusal::Kind::None) {
    console.Error("sourcetable of " + caster.host + ":" + caster.port + ": " +
                  fetched.refusal.text);
    return std::nullopt;
  }
  return std::move(fetched.table);
}

}  // namespace

tarno::CasterAddress CasterOf(const Instance& instance) {
  tarno::CasterAddress caster;
  caster.host = instance.PropertyText("ip");
  caster.port = instance.PropertyText("port");
  caster.username = instance.PropertyText("username");
  caster.password = instance.PropertyText("password");
  caster.tls = instance.PropertyText("tls") == "true";
  caster.tls_ca_file = instance.PropertyText("tls_ca_file");
  caster.proxy = tarno::ParseProxy(instance.PropertyText("proxy"));
  caster.proxy.username = instance.PropertyText("proxy_username");
  caster.proxy.password = instance.PropertyText("proxy_password");
  const std::string version = instance.PropertyText("ntrip_version");
  caster.version = version == "1.0"   ? tarno::NtripVersion::V1
                   : version == "2.0" ? tarno::NtripVersion::V2
                                      : tarno::NtripVersion::Auto;
  return caster;
}

int PrintSourcetable(const Instance& instance, ntrip_host::PositionSource* source, bool json,
                     StopRequest& stop, const Console& console) {
  const std::optional<Position> from = FirstPosition(source, stop);
  std::optional<tarno::Sourcetable> table;
  if (!stop.Token().stop_requested()) {
    if (source != nullptr && !from) console.Warning("no position came: streams in table order");
    table = Fetch(instance, stop, console);
  }
  if (stop.Token().stop_requested()) {
    console.Info("stopping (" + stop.Reason() + ")");
    return stop.Failed() ? 1 : 0;
  }
  if (!table) return 1;
  const std::string text =
      json ? SourcetableJsonLines(*table, from) : SourcetableText(*table, from);
  std::FILE* out = StreamStdout();
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return 0;
}

// The component is unchanged: the host chooses, then sets the property.
std::optional<Position> SetNearestMount(Instance& instance, ntrip_host::PositionSource* source,
                                        StopRequest& stop, const Console& console) {
  const std::optional<Position> from = FirstPosition(source, stop);
  if (stop.Token().stop_requested()) return std::nullopt;
  if (!from) throw UsageError("--nearest-mount: no position came from the position source");
  const auto table = Fetch(instance, stop, console);
  if (stop.Token().stop_requested()) return std::nullopt;
  if (!table) throw std::runtime_error("--nearest-mount: no sourcetable");
  const NearestMount nearest = ChooseNearestMount(*table, *from);
  for (const std::string& skipped : nearest.skipped) console.Info("skipped " + skipped);
  if (!nearest.chosen) {
    throw UsageError("--nearest-mount: the caster lists no RTCM 3 stream (" +
                     Counted(table->streams.size(), "stream") + ", " +
                     Counted(table->malformed_rows, "malformed row") + ")");
  }
  const std::string& name = nearest.chosen->stream.mountpoint;
  // The name passed the mount point check: it holds no control characters.
  const std::string format = tarno::PrintableStatusLine(nearest.chosen->stream.format);
  if (nearest.chosen->distance_km < 0) {
    console.Result("RTCM 3 mount point: " + name + ", distance unknown (" + format +
                   "): " + nearest.why);
  } else {
    char km[32];
    std::snprintf(km, sizeof km, "%.1f", nearest.chosen->distance_km);
    console.Result("nearest RTCM 3 mount point: " + name + ", " + km + " km away (" + format + ")");
  }
  instance.SetProperty("mountpoint", name);
  return *from;
}

}  // namespace ntrip_host
