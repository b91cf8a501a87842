#pragma once
// The steps that read the caster's sourcetable before a run starts: --sourcetable prints it,
// --nearest-mount takes the nearest RTCM 3 stream from it.
#include <optional>

#include "console.h"
#include "engine_names.h"
#include "positions/position_source.h"
#include "sourcetable_fetch.h"
#include "sourcetable_view.h"
#include "stop_control.h"

namespace ntrip_host {

// The caster as the instance's properties name it (proxy and TLS included).
tarno::CasterAddress CasterOf(const Instance& instance);

// Prints the table (nearest first once the source gives a position); returns the exit status.
int PrintSourcetable(const Instance& instance, ntrip_host::PositionSource* source, bool json,
                     StopRequest& stop, const Console& console);

// Sets the instance's mount point to the nearest RTCM 3 stream and says so on stdout. Returns
// where the rover was when it chose; nothing when a stop came first. Throws UsageError when no
// position came or the table lists no RTCM 3 stream, std::runtime_error when the fetch failed.
std::optional<Position> SetNearestMount(Instance& instance, ntrip_host::PositionSource* source,
                                        StopRequest& stop, const Console& console);

}  // namespace ntrip_host
