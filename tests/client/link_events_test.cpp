#include "link_events.h"

#include <gtest/gtest.h>

namespace {

using tarno::LinkEvent;

// The status line learns the link only from these events: each must read back as it was said,
// causes with colons and parentheses included.
TEST(LinkEvents, EveryEventReadsBackAsItWasReported) {
  const LinkEvent connecting = tarno::ParseLinkEvent(tarno::ConnectingEvent("::1", "2101"));
  EXPECT_EQ(connecting.kind, LinkEvent::Kind::Connecting);
  EXPECT_EQ(connecting.target, "::1:2101");

  const LinkEvent connected = tarno::ParseLinkEvent(
      tarno::ConnectedEvent("caster.example", "2101", "MOUNT", "NTRIP 2.0, chunked, gzip"));
  EXPECT_EQ(connected.kind, LinkEvent::Kind::Connected);
  EXPECT_EQ(connected.target, "caster.example:2101/MOUNT");
  EXPECT_EQ(connected.detail, "NTRIP 2.0, chunked, gzip");

  const LinkEvent lost = tarno::ParseLinkEvent(tarno::LostEvent("the caster closed M after 40 bytes"));
  EXPECT_EQ(lost.kind, LinkEvent::Kind::Lost);
  EXPECT_EQ(lost.detail, "the caster closed M after 40 bytes");

  const std::string cause = "caster refused the user name or password for M (HTTP/1.1 401 x): y";
  const LinkEvent retrying = tarno::ParseLinkEvent(tarno::RetryingEvent(3.2, cause));
  EXPECT_EQ(retrying.kind, LinkEvent::Kind::Retrying);
  EXPECT_DOUBLE_EQ(retrying.wait_seconds, 4.0);  // whole seconds, rounded up
  EXPECT_EQ(retrying.detail, cause);
}

TEST(LinkEvents, OtherReportsAreNoEvents) {
  for (const char* text : {"Connecting", "connected to nowhere", "retrying in soon s: x",
                           "retrying in 5 ms", "Position Accuracy : 0.02 m", ""}) {
    EXPECT_EQ(tarno::ParseLinkEvent(text).kind, LinkEvent::Kind::None) << text;
  }
}

}  // namespace
