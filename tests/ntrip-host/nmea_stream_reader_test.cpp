// A receiver port carrying NMEA among binary protocols: UBX frames and RTCM 3 frames between the
// sentences, some sentences right after a frame without a line break.
#include "positions/live_nmea_source.h"
#include "eventually.h"
#include "positions/nmea_file_source.h"
#include "positions/nmea_line_stats.h"

#include "loopback_server.h"
#include "nmea_text.h"
#include "rtcm_frame_builder.h"
#include "temp_file.h"

#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace ntrip_host {
namespace {

using namespace std::chrono_literals;

// Sync B5 62, class, id, little-endian length, payload, two-byte Fletcher checksum.
std::string Ubx(std::uint8_t message_class, std::uint8_t id, const std::string& payload) {
  std::string frame = "\xB5\x62";
  frame += static_cast<char>(message_class);
  frame += static_cast<char>(id);
  frame += static_cast<char>(payload.size() & 0xFF);
  frame += static_cast<char>(payload.size() >> 8);
  frame += payload;
  std::uint8_t a = 0, b = 0;
  for (std::size_t i = 2; i < frame.size(); ++i) {
    a = static_cast<std::uint8_t>(a + static_cast<std::uint8_t>(frame[i]));
    b = static_cast<std::uint8_t>(b + a);
  }
  frame += static_cast<char>(a);
  frame += static_cast<char>(b);
  return frame;
}

// A NAV-PVT-sized payload whose bytes include '$', CR, LF and the start of a sentence's name.
std::string BinaryPayload(std::size_t size, unsigned seed) {
  std::string payload;
  for (std::size_t i = 0; i < size; ++i) payload += static_cast<char>((i * 37 + seed) & 0xFF);
  payload.replace(10, 3, "$\r\n");
  payload.replace(40, 6, "$GNG\r\n");
  payload.replace(70, 2, "\n$");
  return payload;
}

// An RTCM 3 text message (1029) carrying what looks like a sentence's start.
std::string RtcmText() {
  fixtures::BitWriter rest;
  rest.Unsigned(2003, 12).Unsigned(60000, 16).Unsigned(28800, 17).Unsigned(8, 7).Unsigned(8, 8);
  rest.Text("$GNGGA\r\n");
  return fixtures::AsString(fixtures::FrameOf(1029, rest));
}

std::string Gga(const std::string& time, const std::string& minutes) {
  return Nmea("GNGGA," + time + ",48" + minutes + ",N,01131.00000000,E,4,12,0.8,545.4,M,46.9,M,1.0,0031");
}

std::string Gst(const std::string& time) {
  return Nmea("GNGST," + time + ",0.9,0.02,0.01,0,0.012,0.016,0.03");
}

// u-blox's satellite status: valid, unused here, and far longer than NMEA's 82 characters.
std::string LongProprietary(std::size_t satellites) {
  std::string body = "PUBX,03," + std::to_string(satellites);
  for (std::size_t i = 0; i < satellites; ++i) body += ",12,U,072,45,40,040";
  return Nmea(body);
}

struct MixedStream {
  std::string bytes;
  std::uint64_t binary_bytes = 0;  // frame bytes that are not line breaks
  int gga = 0, gst = 0, unused = 0;

  void Binary(const std::string& frame) {
    bytes += frame;
    binary_bytes += static_cast<std::uint64_t>(
        std::count_if(frame.begin(), frame.end(), [](char c) { return c != '\r' && c != '\n'; }));
  }
  void Sentence(const std::string& text, int& kind, const char* end = "\r\n") {
    bytes += text + end;
    ++kind;
  }
};

// Three epochs, the last one's latitude 48° 7.03812345' (eight decimals of minutes, as Unicore
// boards send it).
MixedStream ReceiverPort() {
  MixedStream s;
  const char* const times[] = {"080000.00", "080001.00", "080002.00"};
  const char* const minutes[] = {"07.00000000", "07.50000000", "07.03812345"};
  for (int epoch = 0; epoch < 3; ++epoch) {
    s.Binary(Ubx(0x01, 0x07, BinaryPayload(92, static_cast<unsigned>(epoch))));
    s.Sentence(Gga(times[epoch], minutes[epoch]), s.gga);  // no line break before it
    s.Binary(fixtures::AsString(fixtures::FrameOfLength(1077, 60)));
    s.Sentence(Nmea("GNGGAH," + std::string(times[epoch]) + ",4807.03812345,N,01131.0,E,4,12,"
                    "0.8,545.4,M,46.9,M,1.0,0031"),
               s.unused, "\n");
    s.Sentence(Gst(times[epoch]), s.gst, "\r");
    s.Binary(RtcmText());
    s.Sentence(LongProprietary(epoch == 2 ? 53 : 22), s.unused);  // 432 B and just under 1 KiB
    s.Binary(Ubx(0x02, 0x15, BinaryPayload(120, 99)));
    s.Sentence(Nmea("GPGSV,1,1,01,01,40,083,46"), s.unused);
  }
  return s;
}

struct Read {
  PositionCounters counters;
  std::vector<NmeaParse> parses;
};

Read ReadInPieces(const std::string& bytes, std::size_t piece) {
  Read read;
  NmeaInput input;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    input.Feed(std::string_view(bytes).substr(at, piece), read.counters,
               [&](const NmeaParse& parse) { read.parses.push_back(parse); });
  }
  input.Finish(read.counters, [&](const NmeaParse& parse) { read.parses.push_back(parse); });
  return read;
}

void ExpectEverySentenceAndNothingBad(const PositionCounters& counters, const MixedStream& s) {
  EXPECT_EQ(counters.Count(NmeaStatus::kOk), static_cast<std::uint64_t>(s.gga + s.gst));
  EXPECT_EQ(counters.Count(NmeaStatus::kIgnored), static_cast<std::uint64_t>(s.unused));
  EXPECT_EQ(counters.BadSentences(), 0u) << counters.Summary();
  EXPECT_EQ(counters.other_bytes, s.binary_bytes);
}

TEST(NmeaStream, EveryGgaAndGstBetweenUbxAndRtcmFramesIsReadAndNothingCountsBad) {
  const MixedStream s = ReceiverPort();
  ASSERT_GT(LongProprietary(53).size(), 1000u);
  ASSERT_LE(LongProprietary(53).size(), kMaxNmeaLineLength);
  for (const std::size_t piece : {s.bytes.size(), std::size_t{1}, std::size_t{7}}) {
    SCOPED_TRACE("read in pieces of " + std::to_string(piece));
    const Read read = ReadInPieces(s.bytes, piece);
    ExpectEverySentenceAndNothingBad(read.counters, s);
    const auto last = std::find_if(read.parses.rbegin(), read.parses.rend(), [](const auto& p) {
      return std::holds_alternative<GgaFix>(p.sentence);
    });
    ASSERT_NE(last, read.parses.rend());
    EXPECT_NEAR(std::get<GgaFix>(last->sentence).latitude_deg, 48 + 7.03812345 / 60, 1e-9);
  }
}

TEST(NmeaStream, WhatOnlyLooksLikeASentenceCountsBadAndTheNextSentenceIsStillRead) {
  const std::string gga = Gga("080000.00", "07.00000000");
  // A frame carrying a sentence's start, binary after it; the real GGA follows the frame at once.
  const std::string frame = Ubx(0xF5, 0x05, std::string("\x01$GPGGA,0800") + '\0' + "\xff\x12");
  const std::string too_long = LongProprietary(60);
  ASSERT_GT(too_long.size(), kMaxNmeaLineLength);
  // A frame may end in a '$' byte, right before the real one.
  const std::string bytes =
      frame + "$" + gga + "\r\n" + too_long + gga + "\r\n" + "$GPGGA,08" + gga;

  const Read read = ReadInPieces(bytes, 1);
  EXPECT_EQ(read.counters.Count(NmeaStatus::kOk), 3u);
  EXPECT_EQ(read.counters.Count(NmeaStatus::kNoChecksum), 2u);  // the frame's, the cut one
  EXPECT_EQ(read.counters.Count(NmeaStatus::kTooLong), 1u);
  EXPECT_EQ(read.counters.BadSentences(), 3u);
}

TEST(NmeaStream, FileAndTcpSourcesReadTheMixedPort) {
  const MixedStream s = ReceiverPort();
  const double last_latitude = 48 + 7.03812345 / 60;

  TempFile file(s.bytes);
  NmeaFilePositionSource replay(file.Path());
  std::optional<PositionSample> sample;
  for (int epoch = 0; epoch < 3; ++epoch) {
    sample = replay.Next();
    ASSERT_TRUE(sample) << "epoch " << epoch;
  }
  EXPECT_NEAR((*sample)[0], last_latitude, 1e-9);
  EXPECT_NEAR((*sample)[3], 0.02, 1e-12);  // the GST's 0.012 and 0.016
  ExpectEverySentenceAndNothingBad(replay.Counters(), s);

  LoopbackServer server;
  LiveNmeaSettings settings;
  settings.stale_after = 60s;
  settings.log = [](LogLevel, const std::string&) {};
  auto live = LiveNmeaSource::Tcp({"127.0.0.1", server.Port()}, settings);
  auto receiver = server.Accept();
  ASSERT_TRUE(receiver);
  for (std::size_t at = 0; at < s.bytes.size(); at += 100) {
    boost::asio::write(*receiver, boost::asio::buffer(s.bytes.substr(at, 100)));
  }
  const auto sentences = static_cast<std::uint64_t>(s.gga + s.gst + s.unused);
  ASSERT_TRUE(Eventually([&] { return live->Counters().sentences_read >= sentences; }));
  sample = live->Next();
  ASSERT_TRUE(sample);
  EXPECT_NEAR((*sample)[0], last_latitude, 1e-9);
  ExpectEverySentenceAndNothingBad(live->Counters(), s);
}

}  // namespace
}  // namespace ntrip_host
