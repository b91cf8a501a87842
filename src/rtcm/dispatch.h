#pragma once
// The message dispatcher, the station id rule and the option text.
#include "rtcm/decoder.h"

namespace rtcm {

// Decodes the complete frame held in dec->frame; result -1, 0, 1, 2, 5 or 10.
int decode_rtcm3(RtcmDecoder* dec);
// 1 accepts the message's station id, 0 rejects it (the caller then returns -1).
int check_station_id(RtcmDecoder* dec, int staid);
// Whether the option text holds `option` as a substring.
bool has_option(const RtcmDecoder* dec, const char* option);

}  // namespace rtcm
