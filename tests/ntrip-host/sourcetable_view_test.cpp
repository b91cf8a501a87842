// ntrip-host's view of sourcetables that leave positions out or carry hostile names: listed with
// the distance unknown and control characters escaped, and never a refused mount point chosen.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sourcetable.h"
#include "sourcetable_view.h"

namespace {

using ntrip_host::Position;

// As a small caster writes it: no positions at all.
constexpr char kNoPositions[] =
    "STR;RAWONLY;x;RAW;;0;GPS;NET;DEU;;;0;0;gen;none;N;N;0;\r\n"
    "STR;BAD\x1b[2JNAME;x;RTCM 3.2;;2;GPS;NET;DEU;;;0;0;gen;none;N;N;0;\r\n"
    "STR;FIRST;x;RTCM 3;1004(1);2;GPS;NET;DEU;;;1;0;gen;none;N;N;0;\r\n"
    "STR;SECOND;x;RTCM 3;;2;GPS;NET;DEU;n/a;11.0;0;0;gen;none;N;N;0;\r\n"
    "CAS;caster.example;2101;EX;Op;0;DEU;;;;0\r\n"
    "ENDSOURCETABLE\r\n";

TEST(SourcetableView, StreamsWithoutPositionsAreListedWithTheDistanceUnknownAndChosenInTableOrder) {
  const tarno::Sourcetable table = tarno::ParseSourcetable(kNoPositions);
  EXPECT_EQ(table.malformed_rows, 0u);
  ASSERT_EQ(table.streams.size(), 4u);
  ASSERT_EQ(table.casters.size(), 1u);
  EXPECT_FALSE(table.casters[0].located);
  const Position here{48.1, 11.5};

  const std::string text = ntrip_host::SourcetableText(table, here);
  EXPECT_NE(text.find("\nFIRST "), std::string::npos) << text;
  EXPECT_NE(text.find("BAD\\u001b[2JNAME"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  EXPECT_NE(text.find("4 streams, 0 malformed rows skipped"), std::string::npos) << text;
  // Latitude, longitude and distance all "-".
  std::string row = text.substr(text.find("\nFIRST ") + 1);
  row = row.substr(0, row.find('\n'));
  std::istringstream words(row);
  std::vector<std::string> columns{std::istream_iterator<std::string>(words), {}};
  EXPECT_EQ(columns, (std::vector<std::string>{"FIRST", "RTCM", "3", "GPS", "NET", "DEU", "-", "-",
                                               "-", "yes", "N", "N", "1004(1)"}))
      << row;

  const std::string json = ntrip_host::SourcetableJsonLines(table, here);
  EXPECT_NE(json.find("\"latitude\":null,\"longitude\":null"), std::string::npos) << json;
  EXPECT_EQ(json.find("\"distance_km\":0"), std::string::npos) << json;

  const ntrip_host::NearestMount nearest = ntrip_host::ChooseNearestMount(table, here);
  ASSERT_TRUE(nearest.chosen);
  EXPECT_EQ(nearest.chosen->stream.mountpoint, "FIRST");
  EXPECT_LT(nearest.chosen->distance_km, 0);
  EXPECT_NE(nearest.why.find("no RTCM 3 stream of the sourcetable gives its position"),
            std::string::npos);
  ASSERT_EQ(nearest.skipped.size(), 2u);
  EXPECT_EQ(nearest.skipped[0].rfind("RAWONLY (distance unknown): format \"RAW\"", 0), 0u);
  EXPECT_EQ(nearest.skipped[1].rfind("BAD\\u001b[2JNAME (distance unknown): mountpoint \"", 0), 0u)
      << nearest.skipped[1];
}

TEST(SourcetableView, AStreamWithAPositionWinsOverOnesWithout) {
  std::string rows = kNoPositions;
  rows.insert(0, "STR;FAR;x;RTCM 3;;2;GPS;NET;ESP;40.0;-3.7;0;0;gen;none;N;N;0;\r\n");
  const tarno::Sourcetable table = tarno::ParseSourcetable(rows);
  const auto ranked = tarno::SortByDistance(table.streams, 48.1, 11.5);
  ASSERT_EQ(ranked.size(), 5u);
  EXPECT_EQ(ranked[0].stream.mountpoint, "FAR");
  EXPECT_EQ(ranked[1].stream.mountpoint, "RAWONLY");  // then the table's order
  const ntrip_host::NearestMount nearest = ntrip_host::ChooseNearestMount(table, {48.1, 11.5});
  ASSERT_TRUE(nearest.chosen);
  EXPECT_EQ(nearest.chosen->stream.mountpoint, "FAR");
  EXPECT_GT(nearest.chosen->distance_km, 1000);
  EXPECT_EQ(nearest.why, "");
}

}  // namespace
