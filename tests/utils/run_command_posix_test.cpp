// The process runner through the POSIX shell.
#include <gtest/gtest.h>

#include <string>

#include "utils.h"

TEST(RunCommand, CollectsLongLinesWholeAcrossPieces) {
  const std::string long_line(1000, 'x');
  EXPECT_EQ(tarno::RunCommand("printf '%s\\nsecond\\n' " + long_line), long_line + "\nsecond\n");
}

TEST(RunCommand, FilterKeepsOnlyTheReplyLinesAndRestoresTheMarker) {
  // The same filter the probe uses, fed by a stand-in for the ping output.
  const std::string out = tarno::RunCommand(
      "printf 'PING x\\n64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.1 ms\\n--- x ---\\n' "
      "| grep -i \"ttl=\" | sed \"s/ttl=/TTL=/I\"");
  EXPECT_EQ(out, "64 bytes from 127.0.0.1: icmp_seq=1 TTL=64 time=0.1 ms\n");
}

TEST(RunCommand, MissingProgramGivesEmptyOutputNotACrash) {
  EXPECT_EQ(tarno::RunCommand("no-such-program-here-1234 2>/dev/null"), "");
}
