// The caster's small pieces: frame boundaries, request reading and the command line.
#include <gtest/gtest.h>

#include <numeric>

#include "caster_fixture.h"
#include "command_line.h"
#include "protocol.h"
#include "rtcm_frames.h"

namespace caster_test {
namespace {

TEST(FrameUnits, RecordingSplitsIntoItsElevenFramesAndTheTextAroundThem) {
  // The recording holds two runs of other receiver output besides its eleven frames.
  const std::string recording = Recording();
  const auto ends = caster::FrameUnitEnds(recording);
  ASSERT_EQ(ends.size(), 13U);
  EXPECT_EQ(ends.back(), recording.size());
  std::size_t start = 0, frames = 0;
  for (const std::size_t end : ends) {
    if (static_cast<unsigned char>(recording[start]) == 0xD3) ++frames;
    start = end;
  }
  EXPECT_EQ(frames, 11U);
  EXPECT_EQ(ends.front(), 52U);
}

TEST(FrameUnits, BytesBetweenFramesBecomeUnitsOfTheirOwn) {
  const std::string frames = caster::ReadFileBytes(DataFile("pygpsdata-RTCMMSM3.log"));
  const auto clean = caster::FrameUnitEnds(frames);
  ASSERT_EQ(clean.size(), 3U);
  // Junk with a false preamble in front, between the first two frames, and a cut frame at the end.
  const std::string junk = "ab\xD3\x00\x05xyz";
  const std::string mixed =
      junk + frames.substr(0, clean[0]) + junk + frames.substr(clean[0]) + frames.substr(0, 10);
  const auto ends = caster::FrameUnitEnds(mixed);
  const std::size_t j = junk.size();
  EXPECT_EQ(ends, (std::vector<std::size_t>{j, j + clean[0], 2 * j + clean[0], 2 * j + clean[1],
                                            2 * j + clean[2], mixed.size()}));
  EXPECT_TRUE(caster::FrameUnitEnds("").empty());
}

TEST(FrameUnits, CorruptedCrcMakesTheFrameJunk) {
  std::string frames = caster::ReadFileBytes(DataFile("pygpsdata-RTCMMSM3.log"));
  const auto clean = caster::FrameUnitEnds(frames);
  frames[clean[0] - 1] ^= 0x01;
  EXPECT_EQ(caster::FrameUnitEnds(frames),
            (std::vector<std::size_t>{clean[0], clean[1], clean[2]}));
  EXPECT_EQ(caster::FrameUnitEnds(frames.substr(0, clean[0])),
            (std::vector<std::size_t>{clean[0]}));
}

TEST(RequestReading, HeaderBlockEndsAtTheFirstEmptyLine) {
  EXPECT_EQ(caster::FindHeaderEnd("GET / HTTP/1.0\r\n\r\nrest"), 18U);
  EXPECT_EQ(caster::FindHeaderEnd("GET / HTTP/1.0\n\nrest"), 16U);
  EXPECT_EQ(caster::FindHeaderEnd("GET / HTTP/1.0\r\n"), std::string::npos);
}

TEST(RequestReading, NtripVersionCredentialsAndGgaAreRead) {
  const auto request = caster::ParseRequest(ClientRequest("RTCM3", "dTpw"));
  EXPECT_TRUE(request.valid);
  EXPECT_EQ(request.target, "/RTCM3");
  EXPECT_TRUE(request.ntrip2);
  EXPECT_TRUE(caster::CredentialsMatch(request.authorization, "u", "p"));
  EXPECT_FALSE(caster::CredentialsMatch(request.authorization, "u", "q"));
  EXPECT_EQ(request.gga, std::vector<std::string>{kGga1});
  EXPECT_FALSE(caster::ParseRequest(V1Request("/RTCM3")).ntrip2);
}

TEST(RequestReading, GgaLinesAreRecognisedInBothForms) {
  EXPECT_EQ(caster::GgaFromLine("Ntrip-GGA:" + kGga1), kGga1);
  EXPECT_EQ(caster::GgaFromLine("ntrip-gga: " + kGga1 + "\r"), kGga1);
  EXPECT_EQ(caster::GgaFromLine("$GNGGA,1,2,3*00"), "$GNGGA,1,2,3*00");
  EXPECT_FALSE(caster::GgaFromLine("$GPRMC,1,2,3*00"));
  EXPECT_FALSE(caster::GgaFromLine("Ntrip-GGA:"));
  EXPECT_FALSE(caster::GgaFromLine(""));
}

TEST(RequestReading, Base64MatchesTheStandardVectors) {
  EXPECT_EQ(caster::Base64Encode(""), "");
  EXPECT_EQ(caster::Base64Encode("f"), "Zg==");
  EXPECT_EQ(caster::Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(caster::Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(caster::Base64Encode(":"), "Og==");
}

caster::CommandLine Parse(std::vector<std::string> args) {
  return caster::ParseCommandLine(args);
}

TEST(CommandLine, ListenTakesAPortAnIpv4AddressOrABracketedIpv6Address) {
  EXPECT_EQ(Parse({}).options.port, 2100);
  EXPECT_EQ(Parse({"--listen", "0"}).options.port, 0);
  const auto v4 = Parse({"--listen", "127.0.0.2:2102"}).options;
  EXPECT_EQ(v4.listen_address, "127.0.0.2");
  EXPECT_EQ(v4.port, 2102);
  const auto v6 = Parse({"--listen", "[::1]:2101"}).options;
  EXPECT_EQ(v6.listen_address, "::1");
  EXPECT_EQ(v6.port, 2101);
  EXPECT_THROW(Parse({"--listen", "::1:2101"}), std::invalid_argument);
  EXPECT_THROW(Parse({"--listen", "70000"}), std::invalid_argument);
  EXPECT_THROW(Parse({"--listen"}), std::invalid_argument);
}

TEST(CommandLine, MountsUserRateAndSwitchesAreRead) {
  const auto line = Parse({"--mount", "A=a.log", "--mount", "B=b.log", "--user", "u:p:w", "--rate",
                           "0", "--no-chunked", "--gga-log", "g.log", "--max-bytes", "9"});
  EXPECT_EQ(line.mount_files.size(), 2U);
  EXPECT_EQ(line.mount_files[1].first, "B");
  EXPECT_EQ(line.mount_files[1].second, "b.log");
  EXPECT_EQ(line.options.user, "u");
  EXPECT_EQ(line.options.password, "p:w");
  EXPECT_EQ(line.options.rate, 0);
  EXPECT_FALSE(line.options.chunked);
  EXPECT_EQ(line.options.gga_log_path, "g.log");
  EXPECT_EQ(line.options.max_bytes, 9U);
  EXPECT_LT(Parse({}).options.rate, 0);
  EXPECT_THROW(Parse({"--mount", "A"}), std::invalid_argument);
  EXPECT_THROW(Parse({"--user", "nobody"}), std::invalid_argument);
  EXPECT_THROW(Parse({"--bogus"}), std::invalid_argument);
}

TEST(CommandLine, EveryFaultModeIsSpelledAsInTheHelp) {
  using caster::FaultMode;
  EXPECT_EQ(Parse({"--fault", "close-after=10"}).options.fault.after_bytes, 10U);
  EXPECT_EQ(Parse({"--fault", "close-after=10"}).options.fault.mode, FaultMode::CloseAfter);
  EXPECT_EQ(Parse({"--fault", "stall-after=5"}).options.fault.mode, FaultMode::StallAfter);
  EXPECT_EQ(Parse({"--fault", "reset-after=5"}).options.fault.mode, FaultMode::Reset);
  EXPECT_EQ(Parse({"--fault", "never-answer"}).options.fault.mode, FaultMode::NeverAnswer);
  EXPECT_EQ(Parse({"--fault", "endless-headers"}).options.fault.mode, FaultMode::EndlessHeaders);
  EXPECT_EQ(Parse({"--fault", "garbage"}).options.fault.mode, FaultMode::Garbage);
  const auto status = Parse({"--fault", "status=\"HTTP/1.1 401 Unauthorized\""}).options.fault;
  EXPECT_EQ(status.mode, FaultMode::StatusLine);
  EXPECT_EQ(status.status_line, "HTTP/1.1 401 Unauthorized");
  EXPECT_THROW(Parse({"--fault", "close-after"}), std::invalid_argument);
  EXPECT_THROW(Parse({"--fault", "close-after=x"}), std::invalid_argument);
  EXPECT_THROW(Parse({"--fault", "explode"}), std::invalid_argument);
  for (const char* mode : {"close-after=N", "stall-after=N", "reset-after=N", "never-answer",
                           "status=", "endless-headers", "garbage"}) {
    EXPECT_NE(caster::UsageText().find(mode), std::string::npos) << mode;
  }
}

}  // namespace
}  // namespace caster_test
