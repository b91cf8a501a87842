#pragma once
// Broadcast ephemeris messages; each returns -1, 0 (unchanged) or 2 (stored).
#include "rtcm/decoder.h"

namespace rtcm {

int decode_type1019(RtcmDecoder* dec);
int decode_type1020(RtcmDecoder* dec);
int decode_type1042(RtcmDecoder* dec);  // also message 63
int decode_type1044(RtcmDecoder* dec);
int decode_type1045(RtcmDecoder* dec);
int decode_type1046(RtcmDecoder* dec);

}  // namespace rtcm
