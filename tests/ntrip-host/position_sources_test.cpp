#include "common/option_text.h"
#include "positions/position_source.h"

#include "temp_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>


namespace ntrip_host {
namespace {

using ::testing::HasSubstr;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const OptionError& error) {
    return error.what();
  }
  return "no error";
}

TEST(PositionText, FourNumbersWithSpacesAndSignsMakeASample) {
  EXPECT_EQ(ParsePositionText(" 48.1173, -11.5 ,545.4,0.02", "--position"),
            MakeSample(48.1173, -11.5, 545.4, 0.02));
  EXPECT_EQ(ParsePositionText("90,-180,0,0", "--position"), MakeSample(90, -180, 0, 0));
  // The component could not use them: refused at start, like a value that is no number.
  EXPECT_THAT(ErrorOf([] { ParsePositionText("91,0,0,0", "--position"); }),
              HasSubstr("latitude must be -90 to 90"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("0,180.5,0,0", "--position"); }),
              HasSubstr("longitude must be -180 to 180"));
}

TEST(PositionText, AnythingButFourFiniteNumbersIsRefusedWithAReason) {
  EXPECT_THAT(ErrorOf([] { ParsePositionText("1,2,3", "--position"); }),
              HasSubstr("--position: '1,2,3': expected four comma-separated numbers"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("1,2,3,4,5", "--position"); }),
              HasSubstr("expected four"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("1,x,3,4", "--position"); }),
              HasSubstr("longitude is not a decimal number"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("1,2,nan,4", "--position"); }),
              HasSubstr("altitude is not"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("1,2,3,1e9", "--position"); }),
              HasSubstr("accuracy is not"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("1,2,3,-0.1", "--position"); }),
              HasSubstr("accuracy must not be negative"));
  EXPECT_THAT(ErrorOf([] { ParsePositionText("", "--position"); }), HasSubstr("expected four"));
}

TEST(EndpointText, HostPortFormsAndTheirErrors) {
  const HostPort v4 = ParseHostPort("127.0.0.1:2101", false, false, "--nmea");
  EXPECT_EQ(v4.host, "127.0.0.1");
  EXPECT_EQ(v4.port, 2101);
  const HostPort v6 = ParseHostPort("[::1]:5000", false, false, "--nmea");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, 5000);
  const HostPort bare = ParseHostPort("0", true, true, "--raw-out");
  EXPECT_EQ(bare.host, "");
  EXPECT_EQ(bare.port, 0);
  EXPECT_THAT(ErrorOf([] { ParseHostPort("localhost", false, false, "--nmea"); }),
              HasSubstr("expected HOST:PORT"));
  EXPECT_THAT(ErrorOf([] { ParseHostPort("::1:5000", false, false, "--nmea"); }),
              HasSubstr("must be written in brackets"));
  EXPECT_THAT(ErrorOf([] { ParseHostPort("host:65536", false, false, "--nmea"); }),
              HasSubstr("port must be a number from 1 to 65535"));
  EXPECT_THAT(ErrorOf([] { ParseHostPort("host:0", false, false, "--nmea"); }),
              HasSubstr("port must be"));
  EXPECT_THAT(ErrorOf([] { ParseHostPort("[::1]5000", false, false, "--nmea"); }),
              HasSubstr("missing :PORT"));
  EXPECT_THAT(ErrorOf([] { ParseHostPort(":5000", false, false, "--nmea"); }),
              HasSubstr("empty host"));
}

TEST(SerialText, DeviceWithOptionalBaudRate) {
  EXPECT_FALSE(ParseSerialDevice("/dev/ttyUSB0", "--nmea"));
  const auto plain = ParseSerialDevice("serial:/dev/ttyUSB0", "--nmea");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->device, "/dev/ttyUSB0");
  EXPECT_EQ(plain->baud, 115200u);
  const auto slow = ParseSerialDevice("serial:/dev/ttyS1:9600", "--nmea");
  ASSERT_TRUE(slow);
  EXPECT_EQ(slow->device, "/dev/ttyS1");
  EXPECT_EQ(slow->baud, 9600u);
  EXPECT_THAT(ErrorOf([] { ParseSerialDevice("serial:", "--nmea"); }),
              HasSubstr("expected serial:DEVICE[:BAUD]"));
  EXPECT_THAT(ErrorOf([] { ParseSerialDevice("serial::9600", "--nmea"); }),
              HasSubstr("expected serial:DEVICE"));
  EXPECT_THAT(ErrorOf([] { ParseSerialDevice("serial:/dev/ttyS1:fast", "--nmea"); }),
              HasSubstr("baud rate must be"));
  EXPECT_THAT(ErrorOf([] { ParseSerialDevice("serial:/dev/ttyS1:0", "--nmea"); }),
              HasSubstr("baud rate must be"));
}

TEST(PositionSourceFactory, BadOptionTextIsRefusedBeforeAnythingStarts) {
  EXPECT_THAT(ErrorOf([] { MakePositionSource(PositionOption::kNmea, "udp://127.0.0.1:1"); }),
              HasSubstr("unknown scheme"));
  EXPECT_THAT(ErrorOf([] { MakePositionSource(PositionOption::kNmea, "tcp://127.0.0.1"); }),
              HasSubstr("expected HOST:PORT"));
  EXPECT_THAT(ErrorOf([] { MakePositionSource(PositionOption::kNmea, ""); }),
              HasSubstr("expected FILE"));
  EXPECT_THAT(ErrorOf([] { MakePositionSource(PositionOption::kNmea, "/nonexistent/x.nmea"); }),
              HasSubstr("cannot open"));
  EXPECT_THAT(ErrorOf([] { MakePositionSource(PositionOption::kCsvFile, "/nonexistent/x.csv"); }),
              HasSubstr("cannot open"));
  EXPECT_THAT(ErrorOf([] { MakePositionSource(PositionOption::kFixed, "1,2,3"); }),
              HasSubstr("--position"));
}

TEST(FixedSource, GivesTheSamePositionEverySecond) {
  auto source = MakePositionSource(PositionOption::kFixed, "48.1,11.5,545.4,0.02");
  EXPECT_EQ(source->Next(), MakeSample(48.1, 11.5, 545.4, 0.02));
  EXPECT_EQ(source->Next(), MakeSample(48.1, 11.5, 545.4, 0.02));
  EXPECT_EQ(source->Counters().positions_produced, 2u);
}

TEST(CsvSource, GivesOneLinePerCallSkippingCommentsAndHoldsTheLast) {
  TempFile file(
      "# lat,lon,alt,acc\n\n48.0,11.0,500,0.02\r\n  # indented comment\n48.5,11.5,510,0.2\n");
  auto source = MakePositionSource(PositionOption::kCsvFile, file.Path());
  EXPECT_EQ(source->Next(), MakeSample(48.0, 11.0, 500, 0.02));
  EXPECT_EQ(source->Next(), MakeSample(48.5, 11.5, 510, 0.2));
  EXPECT_EQ(source->Next(), MakeSample(48.5, 11.5, 510, 0.2));
  EXPECT_EQ(source->Next(), MakeSample(48.5, 11.5, 510, 0.2));
}

TEST(CsvSource, ABadLineIsAnErrorNamingFileAndLine) {
  TempFile file("# header\n48.0,11.0,500,0.02\n48.5,11.5,510\n");
  EXPECT_THAT(ErrorOf([&] { MakePositionSource(PositionOption::kCsvFile, file.Path()); }),
              HasSubstr(file.Path() + ":3: '48.5,11.5,510': expected four"));
}

TEST(CsvSource, AFileWithoutPositionsIsAnError) {
  TempFile file("# only a comment\n\n");
  EXPECT_THAT(ErrorOf([&] { MakePositionSource(PositionOption::kCsvFile, file.Path()); }),
              HasSubstr("no positions"));
}

}  // namespace
}  // namespace ntrip_host
