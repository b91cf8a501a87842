#pragma once
// Which of the component's reports the default console keeps back for --verbose.
#include "engine_names.h"

namespace ntrip_host {

// Information reports that trace the component's inner steps rather than tell the user an
// event: the per-sample ones (about one a second) and the component's own wording of set-up
// steps, both as the component words them (component_reports.h). The events themselves
// (connecting, connected, lost, refusals), warnings and errors always show. Other hosts and the
// log get every report unchanged.
bool IsVerboseOnlyReport(const Report& report);

}  // namespace ntrip_host
