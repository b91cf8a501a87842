// Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/: slices of the
// recordings and frames built with the test encoder, each behind the configuration bytes its
// target reads first. Run by hand (build target fuzz_make_seeds); the output is committed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "rtcm_frame_builder.h"

namespace {

namespace fs = std::filesystem;
using fixtures::BitWriter;
using fixtures::FrameOf;
using fixtures::FrameOfLength;
using Bytes = std::vector<uint8_t>;

const fs::path kCorpus = FUZZ_CORPUS_DIR;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
  const fs::path dir = kCorpus / target;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ---- RTCM decoder seeds -------------------------------------------------------------------

constexpr uint32_t kGpsEpoch = 315964800;  // 1980-01-06, seconds since 1970
constexpr uint32_t kYear2000 = 946684800;
constexpr int kWeek = 2300;
constexpr uint32_t kTowMs = 200000000;
// Clock bytes: a little after the built frames' epoch (GPS - UTC = 18 s then).
constexpr uint32_t kBuiltNow = kGpsEpoch + kWeek * 604800u + kTowMs / 1000 - 18 + 5 - kYear2000;
// 2021-06-01, near the recordings.
constexpr uint32_t kRecordingNow = 1622505600u - kYear2000;

struct RtcmConfig {
  uint8_t flags = 0;
  uint16_t mask = 0;
  uint32_t clock = kBuiltNow;
  std::vector<uint8_t> sizes;
  std::string options;
};

std::string RtcmSeed(const RtcmConfig& c, const std::string& stream) {
  std::string s;
  s += static_cast<char>(c.flags);
  s += static_cast<char>(c.mask & 0xFF);
  s += static_cast<char>(c.mask >> 8);
  for (int i = 0; i < 4; ++i) s += static_cast<char>((c.clock >> (8 * i)) & 0xFF);
  s += static_cast<char>(c.sizes.size());
  for (uint8_t z : c.sizes) s += static_cast<char>(z);
  if (c.flags & 4) {
    s += static_cast<char>(c.options.size());
    s += c.options;
  }
  return s + stream;
}

// Legacy GPS L1/L2 observations, two satellites.
Bytes Frame1004() {
  BitWriter w;
  w.Unsigned(7, 12)
      .Unsigned(kTowMs, 30)
      .Unsigned(0, 1)
      .Unsigned(2, 5)
      .Unsigned(0, 1)
      .Unsigned(0, 3);
  for (int prn : {5, 17}) {
    w.Unsigned(prn, 6).Unsigned(0, 1).Unsigned(1234567 + prn, 24).Signed(-3456, 20);
    w.Unsigned(100, 7).Unsigned(70, 8).Unsigned(180, 8);
    w.Unsigned(0, 2).Signed(25, 14).Signed(-300, 20).Unsigned(100, 7).Unsigned(160, 8);
  }
  return FrameOf(1004, w);
}

// GLONASS L1/L2 observations, one satellite.
Bytes Frame1012() {
  BitWriter w;
  const uint32_t tod = (kTowMs - 18000 + 10800000) % 86400000;
  w.Unsigned(7, 12).Unsigned(tod, 27).Unsigned(0, 1).Unsigned(1, 5).Unsigned(0, 1).Unsigned(0, 3);
  w.Unsigned(3, 6).Unsigned(0, 1).Unsigned(12, 5).Unsigned(2345678, 25).Signed(-1200, 20);
  w.Unsigned(90, 7).Unsigned(70, 7).Unsigned(170, 8);
  w.Unsigned(0, 2).Signed(40, 14).Signed(-500, 20).Unsigned(90, 7).Unsigned(150, 8);
  return FrameOf(1012, w);
}

// MSM header; the caller adds satellite and signal data.
void MsmHeader(BitWriter& w, uint32_t epoch, uint64_t sats, uint32_t sigs, int cells) {
  w.Unsigned(7, 12).Unsigned(epoch, 30).Unsigned(0, 1).Unsigned(0, 3).Unsigned(0, 7);
  w.Unsigned(0, 2).Unsigned(0, 2).Unsigned(0, 1).Unsigned(0, 3);
  w.Unsigned(sats, 64).Unsigned(sigs, 32);
  for (int i = 0; i < cells; ++i) w.Unsigned(1, 1);
}

// Full-resolution MSM (kind 7) with two satellites and two signals each.
Bytes FrameMsm7(int type, uint32_t epoch) {
  BitWriter w;
  const uint64_t sats = (1ull << 63) >> 4 | (1ull << 63) >> 11;  // satellites 5 and 12
  const uint32_t sigs = (1u << 31) >> 1 | (1u << 31) >> 14;      // signals 2 and 15
  MsmHeader(w, epoch, sats, sigs, 4);
  for (int i = 0; i < 2; ++i) w.Unsigned(70 + i, 8);
  for (int i = 0; i < 2; ++i) w.Unsigned(0, 4);
  for (int i = 0; i < 2; ++i) w.Unsigned(300 + i, 10);
  for (int i = 0; i < 2; ++i) w.Signed(-200 + i, 14);
  for (int i = 0; i < 4; ++i) w.Signed(1000 * i - 1500, 20);
  for (int i = 0; i < 4; ++i) w.Signed(-2000 * i + 700, 24);
  for (int i = 0; i < 4; ++i) w.Unsigned(500, 10);
  for (int i = 0; i < 4; ++i) w.Unsigned(0, 1);
  for (int i = 0; i < 4; ++i) w.Unsigned(45 * 16, 10);
  for (int i = 0; i < 4; ++i) w.Signed(123 * i, 15);
  return FrameOf(type, w);
}

// Compact MSM (kind 4) with two satellites and two signals each.
Bytes FrameMsm4(int type, uint32_t epoch) {
  BitWriter w;
  const uint64_t sats = (1ull << 63) >> 2 | (1ull << 63) >> 20;
  const uint32_t sigs = (1u << 31) >> 1 | (1u << 31) >> 8;
  MsmHeader(w, epoch, sats, sigs, 4);
  for (int i = 0; i < 2; ++i) w.Unsigned(72 + i, 8);
  for (int i = 0; i < 2; ++i) w.Unsigned(200 + i, 10);
  for (int i = 0; i < 4; ++i) w.Signed(800 * i - 900, 15);
  for (int i = 0; i < 4; ++i) w.Signed(-900 * i + 300, 22);
  for (int i = 0; i < 4; ++i) w.Unsigned(9, 4);
  for (int i = 0; i < 4; ++i) w.Unsigned(0, 1);
  for (int i = 0; i < 4; ++i) w.Unsigned(44, 6);
  return FrameOf(type, w);
}

Bytes Frame1005() {
  BitWriter w;
  w.Unsigned(7, 12).Unsigned(0, 6).Unsigned(1, 1).Unsigned(1, 1).Unsigned(1, 1).Unsigned(0, 1);
  w.Signed38(39000000000).Unsigned(0, 1).Unsigned(0, 1).Signed38(7000000000).Unsigned(0, 2);
  w.Signed38(50000000000);
  return FrameOf(1005, w);
}

Bytes Frame1033() {
  BitWriter w;
  w.Unsigned(7, 12);
  const std::string antenna = "ANTENNA-X NONE", serial = "12345", receiver = "RECEIVER-Y",
                    version = "1.2.3", receiver_serial = "R99";
  w.Unsigned(antenna.size(), 8).Text(antenna).Unsigned(1, 8);
  w.Unsigned(serial.size(), 8).Text(serial);
  w.Unsigned(receiver.size(), 8).Text(receiver);
  w.Unsigned(version.size(), 8).Text(version);
  w.Unsigned(receiver_serial.size(), 8).Text(receiver_serial);
  return FrameOf(1033, w);
}

void RtcmSeeds() {
  const std::string target = "fuzz_rtcm_decoder";
  // Recordings: plain, and with descriptions, every option and odd chunk sizes.
  const std::pair<const char*, const char*> recordings[] = {
      {"pygpsdata-RTCM3.log", "rec-mixed-types"}, {"pygpsdata-MIXED-RTCM3.log", "rec-with-noise"},
      {"pygpsdata-RTCMMSM3.log", "rec-msm3"},     {"pygpsdata-1240-1264.log", "rec-ssr"},
      {"pygpsdata-MT1023.log", "rec-1023"},       {"pygpsdata-1230.bin", "rec-1230"}};
  for (const auto& [name, seed_name] : recordings) {
    const std::string stream = fixtures::ReadRecording(name);
    if (stream.empty()) {
      std::fprintf(stderr, "cannot read recording %s\n", name);
      continue;
    }
    const std::string base = seed_name;
    Write(target, base, RtcmSeed({0, 0, kRecordingNow, {}, ""}, stream));
    Write(target, base + "-described",
          RtcmSeed({1 | 2 | 8, 0xFFFF, kRecordingNow, {7, 1, 200}, ""}, stream));
  }
  // A slice of the proprietary recording: frames the decoder only counts.
  const std::string proprietary = fixtures::ReadRecording("pygpsdata-NTRIP-4076.log");
  Write(target, "rec-4076-slice",
        RtcmSeed({0, 0, kRecordingNow, {}, ""}, proprietary.substr(0, 1200)));

  // Built frames: observations that complete epochs, the station messages.
  const uint32_t glo_epoch = (kTowMs - 18000 + 10800000) % 86400000;
  const uint32_t bds_epoch = kTowMs - 14000;
  std::vector<std::pair<std::string, Bytes>> built = {
      {"1004", Frame1004()},
      {"1012", Frame1012()},
      {"1005", Frame1005()},
      {"1033", Frame1033()},
      {"1077", FrameMsm7(1077, kTowMs)},
      {"1087", FrameMsm7(1087, glo_epoch)},
      {"1097", FrameMsm7(1097, kTowMs)},
      {"1127", FrameMsm7(1127, bds_epoch)},
      {"1074", FrameMsm4(1074, kTowMs)},
      {"1114", FrameMsm4(1114, kTowMs)},
  };
  for (const auto& [name, frame] : built) {
    Write(target, "built-" + name, RtcmSeed({8, 0, kBuiltNow, {}, ""}, fixtures::AsString(frame)));
  }
  const std::string epoch =
      fixtures::AsString(fixtures::Concat({Frame1005(), Frame1004(), FrameMsm7(1077, kTowMs),
                                             FrameMsm7(1077, kTowMs + 1000), Frame1033()}));
  Write(target, "built-epochs", RtcmSeed({8, 0, kBuiltNow, {3, 0, 50, 1}, ""}, epoch));
  Write(target, "built-epochs-options",
        RtcmSeed({1 | 2 | 4 | 8, 0x4FFB, kBuiltNow, {}, "-GL2W -STA=7"}, epoch));

  // Zero-filled messages of every decoded type at its usual length: a start for the mutator.
  const std::vector<std::pair<int, int>> sized = {
      {1001, 8 + 8}, {1002, 8 + 10}, {1003, 8 + 13}, {1009, 8 + 8}, {1010, 8 + 10}, {1011, 8 + 13},
      {1006, 21},    {1007, 12},     {1008, 20},     {1013, 12},    {1019, 61},     {1020, 45},
      {63, 64},      {1042, 64},     {1044, 61},     {1045, 62},    {1046, 63},     {1230, 10},
      {1057, 30},    {1058, 20},     {1059, 20},     {1060, 40},    {1061, 20},     {1062, 20},
      {1063, 30},    {1066, 40},     {1240, 30},     {1241, 20},    {1242, 20},     {1246, 30},
      {1252, 30},    {1258, 30},     {1264, 20},     {1071, 30},    {1075, 30},     {1076, 30},
      {1085, 30},    {1093, 30},     {1102, 30},     {1123, 30}};
  for (const auto& [type, length] : sized) {
    Write(target, "zeros-" + std::to_string(type),
          RtcmSeed({8, 0, kBuiltNow, {}, ""}, fixtures::AsString(FrameOfLength(type, length))));
  }
}

// ---- caster answers ----------------------------------------------------------------------

void ResponseSeeds() {
  const std::string target = "fuzz_caster_response";
  const std::string frames =
      fixtures::AsString(fixtures::Concat({Frame1005(), FrameMsm7(1077, kTowMs)}));
  auto seed = [&](const std::string& name, uint8_t flags, std::vector<uint8_t> sizes,
                  const std::string& answer) {
    std::string s;
    s += static_cast<char>(flags);
    s += static_cast<char>(sizes.size());
    for (uint8_t z : sizes) s += static_cast<char>(z);
    Write(target, name, s + answer);
  };
  auto hex = [](std::size_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%zx", n);
    return std::string(text);
  };
  seed("icy", 0, {}, "ICY 200 OK\r\n\r\n" + frames);
  seed("icy-no-blank-line", 0, {5, 1}, "ICY 200 OK\r\n" + frames);
  seed("http10-plain", 0, {}, "HTTP/1.0 200 OK\r\nContent-Type: gnss/data\r\n\r\n" + frames);
  seed("http11-chunked", 0, {3, 1, 17},
       "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nTransfer-Encoding: chunked\r\n"
       "Content-Type: gnss/data\r\nCache-Control: no-store\r\n\r\n" +
           hex(frames.size()) + "\r\n" + frames + "\r\n" + "4;name=value\r\nabcd\r\n0\r\n" +
           "X-Trailer: 1\r\n\r\n");
  seed("http11-chunked-lowercase", 0, {1},
       "HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, Chunked\r\n\r\n"
       "A\r\n0123456789\r\n0\r\n\r\n");
  seed("http11-401", 0, {},
       "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"/MOUNT\"\r\n"
       "Content-Length: 0\r\n\r\n");
  seed("http11-404", 0, {}, "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
  seed("sourcetable", 0, {},
       "SOURCETABLE 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 64\r\n\r\n"
       "STR;MOUNT;Here;RTCM 3.3;1005(10);2;GPS;NET;XXX;50.00;10.00;1;0;sNTRIP;none;B;N;0;\r\n"
       "ENDSOURCETABLE\r\n");
  seed("http11-sourcetable-type", 0, {},
       "HTTP/1.1 200 OK\r\nContent-Type: gnss/sourcetable; charset=utf-8\r\n\r\nSTR;x\r\n");
  seed("lf-only-lines", 0, {}, "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\r\nabc\r\n");
  // A proxy's answers to CONNECT.
  seed("proxy-200", 0, {},
       "HTTP/1.1 200 Connection established\r\nProxy-Agent: test\r\n\r\n");
  seed("proxy-407", 0, {},
       "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
       "Content-Length: 0\r\n\r\n");
  seed("proxy-403-cut", 0, {}, "HTTP/1.0 403 Forbidden\r\n");
  seed(
      "endless-headers", 0, {200}, "HTTP/1.1 200 OK\r\n" + [] {
        std::string lines;
        while (lines.size() < 17 * 1024) lines += "X-Padding: 0123456\r\n";
        return lines;
      }());
  // The body decoder alone (flags: 1 skip the blank line, 2 chunked).
  seed("body-chunked", 2, {2},
       "1a\r\n" + std::string(26, 'z') + "\r\n1; ext\r\nq\r\n0\r\n\r\nafter");
  seed("body-chunked-blank", 3, {}, "\r\n5\r\nhello\r\n0\r\n\r\n");
  seed("body-plain-blank", 1, {1}, "\r\n" + frames);
  seed("body-chunked-bad", 2, {}, "5\r\nhelloXX0\r\n\r\n");
}

// ---- NMEA lines --------------------------------------------------------------------------

std::string Sentence(const std::string& body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", sum);
  return "$" + body + tail;
}

void NmeaSeeds() {
  const std::string target = "fuzz_nmea";
  auto seed = [&](const std::string& name, uint8_t flags, const std::vector<std::string>& lines) {
    std::string s(1, static_cast<char>(flags));
    for (const auto& line : lines) s += line + "\r\n";
    Write(target, name, s);
  };
  const std::string gga =
      Sentence("GPGGA,123519.00,4807.0380,N,01131.0000,E,4,12,0.9,545.4,M,46.9,M,1.0,0031");
  const std::string gst = Sentence("GPGST,123519.00,0.006,0.023,0.020,273.6,0.012,0.015,0.031");
  seed("gga-gst", 0, {gga, gst});
  seed("gst-first", 0,
       {gst, gga, Sentence("GNGGA,123520.00,4807.0381,N,01131.0001,E,5,10,1.1,545.5,M,,M,,")});
  seed("no-fix", 0, {Sentence("GPGGA,123521.00,,,,,0,00,99.99,,,,,,")});
  seed("south-west", 0,
       {Sentence("GNGGA,000000,3351.1000,S,15112.5000,W,1,05,2.5,-12.0,M,-30.1,M,,"),
        Sentence("GNGST,000000,1.2,2.0,1.5,10.0,1.8,1.7,3.0")});
  seed("leap-second", 0,
       {Sentence("GPGGA,235960.999,8959.9999,N,17959.9999,E,2,08,1.0,0,M,0,M,,")});
  seed("other-sentences", 0,
       {Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
        Sentence("PUBX,00,123519.00"), "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,",
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,*00", "garbage\x01\x02"});
  seed("fix-checksums", 1,
       {"$GPGGA,123519,4807.038,N,01131.000,E,4,08,0.9,545.4,M,46.9,M,,*",
        "$GPGST,123519,0.1,0.2,0.3,0.4,0.5,0.6,0.7"});

  // A receiver port: UBX and RTCM 3 frames between the sentences, no line break after a frame.
  std::string ubx = "\xB5\x62\x01\x07\x0B";
  ubx += std::string("\0$\r\n$GNG\n\x24\x13", 11);
  ubx += "\x5A\x9C";
  const std::string rtcm = fixtures::AsString(FrameOfLength(1077, 24));
  auto port = [&](const std::string& name, uint8_t flags, const Bytes& sizes,
                  const std::string& stream) {
    std::string s(1, static_cast<char>(flags | 2));
    s += static_cast<char>(sizes.size());
    s.append(sizes.begin(), sizes.end());
    Write(target, name, s + stream);
  };
  port("port-mixed", 0, {1, 7, 64},
       ubx + gga + "\r\n" + rtcm + gst + "\n" + Sentence("PUBX,03,00") + "\r" + ubx + gga);
  port("port-cut", 1, {},
       rtcm + "$GPGGA,123519,4807.038,N" + ubx + "$GNGST,123519,0.1,0.2,0.3,0.4,0.5,0.6*" + rtcm);
}

// ---- property texts ----------------------------------------------------------------------

void PropertySeeds() {
  const std::string target = "fuzz_property_value";
  auto seed = [&](const std::string& name, int kind, const std::string& text) {
    Write(target, name, std::string(1, static_cast<char>(kind)) + text);
  };
  seed("bool-true", 0, "true");
  seed("bool-0", 0, "0");
  seed("int", 1, "-9223372036854775808");
  seed("int-plus", 1, "+2101");
  seed("float", 2, "0.05");
  seed("float-exp", 2, "-1.5e-300");
  seed("float-inf", 2, "inf");
  seed("string", 3, "caster.example:2101/MOUNT");
  seed("enum-item", 4, std::string("Log|Console|Nothing") + '\0' + "Console");
  seed("enum-index", 4, std::string("Log|Console|Nothing") + '\0' + "2");
  seed("enum-empty-items", 4, std::string("||") + '\0' + "");
  seed("unknown-kind", 5, "1");
}

}  // namespace

int main() {
  // Start from empty folders so renamed or dropped seeds do not linger.
  for (const char* target :
       {"fuzz_rtcm_decoder", "fuzz_caster_response", "fuzz_nmea", "fuzz_property_value"}) {
    fs::remove_all(kCorpus / target);
  }
  RtcmSeeds();
  ResponseSeeds();
  NmeaSeeds();
  PropertySeeds();
  std::printf("seeds written under %s\n", kCorpus.c_str());
  return 0;
}
