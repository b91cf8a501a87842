#pragma once
// The engine's names that the program uses. The program is in namespace ntrip_host; the engine,
// which knows nothing of it, in maps_host.
#include "engine.h"
#include "property_set.h"
#include "reports.h"

namespace ntrip_host {

using maps_host::Engine;
using maps_host::EngineOptions;
using maps_host::Instance;
using maps_host::OutputConsumer;
using maps_host::OutputElement;
using maps_host::Package;
using maps_host::PackageError;
using maps_host::KindName;
using maps_host::PropertyError;
using maps_host::PropertyInfo;
using maps_host::PropertySet;
using maps_host::Report;
using maps_host::ReportSink;

}  // namespace ntrip_host
