// The process runner through the Windows command interpreter, and the probe's command line.
#include <gtest/gtest.h>

#include <string>

#include "utils.h"

TEST(RunCommand, CollectsLongLinesWholeAcrossPiecesWithoutCarriageReturns) {
  const std::string long_line(1000, 'x');
  EXPECT_EQ(tarno::RunCommand("echo " + long_line + "& echo second"), long_line + "\nsecond\n");
}

TEST(RunCommand, MissingProgramGivesEmptyOutputNotACrash) {
  EXPECT_EQ(tarno::RunCommand("no-such-program-here-1234 2>NUL"), "");
}

TEST(InternetProbe, RunsOneEchoRequestFilteredOnTheReplyMarker) {
  std::string seen;
  tarno::IsInternetAvailable([&seen](const std::string& command_line) {
    seen = command_line;
    return std::string("Reply from 142.250.1.1: bytes=32 time=12ms TTL=117\n");
  });
  EXPECT_EQ(seen, std::string("ping -n 1 ") + tarno::kProbeHost + " | find \"TTL=\"");
}
