#include "rtcm/station.h"

#include <cstring>

#include "rtcm/dispatch.h"
#include "rtcm/frame.h"
#include "rtcm/trace.h"

namespace rtcm {
namespace {

void AppendStationDescription(RtcmDecoder* dec, int staid) {
  if (!dec->describe_messages) return;
  append_description(dec, " staid=%4d", staid);
}

// A text of `count` characters at bit pos; the characters past KEPT_TEXT are not kept.
void ReadText(const RtcmDecoder* dec, int pos, int count, char* out) {
  const int kept = count < KEPT_TEXT ? count : KEPT_TEXT;
  for (int i = 0; i < kept; ++i) {
    out[i] = static_cast<char>(frame_field(dec->frame, pos + i * 8, 8));
  }
  out[kept] = '\0';
}

// Station id and the ECEF position shared by 1005 and 1006.
struct ArpMessage {
  int staid;
  int itrf_year;
  double position[3];
};

ArpMessage ReadArp(const RtcmDecoder* dec) {
  ArpMessage m{};
  m.staid = static_cast<int>(frame_field(dec->frame, 36, 12));
  m.itrf_year = static_cast<int>(frame_field(dec->frame, 48, 6));
  m.position[0] = bits_signed38(dec->frame, 58) * 0.0001;
  m.position[1] = bits_signed38(dec->frame, 98) * 0.0001;
  m.position[2] = bits_signed38(dec->frame, 138) * 0.0001;
  return m;
}

void StoreArp(RtcmDecoder* dec, const ArpMessage& m, int delta_type, double height) {
  StationInfo& sta = dec->station;
  sta.delta_type = delta_type;
  for (int i = 0; i < 3; ++i) {
    sta.position[i] = m.position[i];
    sta.delta[i] = 0.0;
  }
  sta.height = height;
  sta.itrf_year = m.itrf_year;
}

}  // namespace

int decode_type1005(RtcmDecoder* dec) {
  if (dec->len * 8 != 176) {
    trace(2, "rtcm3 1005 length error: len=%d\n", dec->len);
    return -1;
  }
  const ArpMessage m = ReadArp(dec);
  AppendStationDescription(dec, m.staid);
  if (!check_station_id(dec, m.staid)) return -1;
  StoreArp(dec, m, 0, 0.0);
  return 5;
}

int decode_type1006(RtcmDecoder* dec) {
  if (dec->len * 8 < 192) {
    trace(2, "rtcm3 1006 length error: len=%d\n", dec->len);
    return -1;
  }
  const ArpMessage m = ReadArp(dec);
  const double height = frame_field(dec->frame, 176, 16) * 0.0001;
  AppendStationDescription(dec, m.staid);
  if (!check_station_id(dec, m.staid)) return -1;
  StoreArp(dec, m, 1, height);
  return 5;
}

int decode_type1007(RtcmDecoder* dec) {
  const int n = static_cast<int>(frame_field(dec->frame, 48, 8));
  if (n * 8 + 64 > dec->len * 8) {
    trace(2, "rtcm3 1007 length error: len=%d\n", dec->len);
    return -1;
  }
  const int staid = static_cast<int>(frame_field(dec->frame, 36, 12));
  char descriptor[TEXT_MAX];
  ReadText(dec, 56, n, descriptor);
  const int setup = static_cast<int>(frame_field(dec->frame, 56 + n * 8, 8));
  AppendStationDescription(dec, staid);
  if (!check_station_id(dec, staid)) return -1;
  std::memcpy(dec->station.antenna_descriptor, descriptor, sizeof descriptor);
  dec->station.antenna_setup = setup;
  dec->station.antenna_serial[0] = '\0';
  return 5;
}

int decode_type1008(RtcmDecoder* dec) {
  const int n = static_cast<int>(frame_field(dec->frame, 48, 8));
  // The serial count follows the descriptor; it must lie inside the message to be read.
  if (n * 8 + 72 > dec->len * 8) {
    trace(2, "rtcm3 1008 length error: len=%d\n", dec->len);
    return -1;
  }
  const int m = static_cast<int>(frame_field(dec->frame, 64 + n * 8, 8));
  if ((n + m) * 8 + 72 > dec->len * 8) {
    trace(2, "rtcm3 1008 length error: len=%d\n", dec->len);
    return -1;
  }
  const int staid = static_cast<int>(frame_field(dec->frame, 36, 12));
  char descriptor[TEXT_MAX];
  char serial[TEXT_MAX];
  ReadText(dec, 56, n, descriptor);
  const int setup = static_cast<int>(frame_field(dec->frame, 56 + n * 8, 8));
  ReadText(dec, 72 + n * 8, m, serial);
  AppendStationDescription(dec, staid);
  if (!check_station_id(dec, staid)) return -1;
  std::memcpy(dec->station.antenna_descriptor, descriptor, sizeof descriptor);
  dec->station.antenna_setup = setup;
  std::memcpy(dec->station.antenna_serial, serial, sizeof serial);
  return 5;
}

int decode_type1033(RtcmDecoder* dec) {
  const int bits = dec->len * 8;
  int counts[5] = {};
  char texts[5][TEXT_MAX] = {};
  int setup = 0;
  int pos = 48;
  int total = 0;
  bool inside = true;
  for (int i = 0; i < 5 && inside; ++i) {
    // A count that lies outside the message makes it too short; never read past the frame.
    if (pos + 8 > bits) {
      inside = false;
      break;
    }
    counts[i] = static_cast<int>(frame_field(dec->frame, pos, 8));
    total += counts[i];
    pos += 8 + counts[i] * 8;
    if (i == 0) pos += 8;  // setup id after the antenna descriptor
  }
  if (!inside || total * 8 + 96 > bits) {
    trace(2, "rtcm3 1033 length error: len=%d\n", dec->len);
    return -1;
  }
  pos = 48;
  for (int i = 0; i < 5; ++i) {
    ReadText(dec, pos + 8, counts[i], texts[i]);
    pos += 8 + counts[i] * 8;
    if (i == 0) {
      setup = static_cast<int>(frame_field(dec->frame, pos, 8));
      pos += 8;
    }
  }
  const int staid = static_cast<int>(frame_field(dec->frame, 36, 12));
  AppendStationDescription(dec, staid);
  if (!check_station_id(dec, staid)) return -1;
  StationInfo& sta = dec->station;
  std::memcpy(sta.antenna_descriptor, texts[0], TEXT_MAX);
  sta.antenna_setup = setup;
  std::memcpy(sta.antenna_serial, texts[1], TEXT_MAX);
  std::memcpy(sta.receiver_type, texts[2], TEXT_MAX);
  std::memcpy(sta.receiver_version, texts[3], TEXT_MAX);
  std::memcpy(sta.receiver_serial, texts[4], TEXT_MAX);
  trace(3, "rtcm3 1033: ant=%s:%s rec=%s:%s:%s\n", sta.antenna_descriptor, sta.antenna_serial,
        sta.receiver_type, sta.receiver_version, sta.receiver_serial);
  return 5;
}

}  // namespace rtcm
