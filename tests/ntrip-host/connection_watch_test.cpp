// The link as --status shows it: only the component's link events move it; any other warning is
// the console's to show.
#include <gtest/gtest.h>

#include <string>

#include "connection_watch.h"
#include "link_events.h"

namespace {

using ntrip_host::ConnectionWatch;

TEST(ConnectionWatch, OnlyLinkEventsMoveTheLinkAndAStreamWithoutRtcmIsShownAfterIt) {
  ConnectionWatch watch;
  const auto now = ConnectionWatch::Clock::now();
  const auto report = [&](MAPS::ReportKind kind, const std::string& text) {
    watch.OnReport({"NTRIP_Client_1", kind, text}, now);
  };
  report(MAPS::ReportKind::Information,
         tarno::ConnectedEvent("127.0.0.1", "2101", "MOUNT", "NTRIP 2.0, chunked"));
  report(MAPS::ReportKind::Warning,
         "log files in /var/log/ntrip: writing failed (No space left on device); log lines are "
         "lost until writing works again");
  report(MAPS::ReportKind::Warning, "Internet is not available");
  EXPECT_EQ(watch.Take(now).state, "connected to 127.0.0.1:2101/MOUNT");

  const std::string not_rtcm = tarno::NotRtcmEvent("MOUNT", 65536, "NMEA text");
  report(MAPS::ReportKind::Warning, not_rtcm);
  EXPECT_EQ(watch.Take(now).state, "connected to 127.0.0.1:2101/MOUNT: " + not_rtcm);
  // The next connection starts without it.
  report(MAPS::ReportKind::Information, tarno::LostEvent("the caster closed the stream"));
  report(MAPS::ReportKind::Information,
         tarno::ConnectedEvent("127.0.0.1", "2101", "MOUNT", "NTRIP 2.0"));
  EXPECT_EQ(watch.Take(now).state, "connected to 127.0.0.1:2101/MOUNT");
}

}  // namespace
