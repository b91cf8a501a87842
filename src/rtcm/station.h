#pragma once
// Station messages: coordinates, antenna and receiver descriptors. Each returns 5 or -1.
#include "rtcm/decoder.h"

namespace rtcm {

int decode_type1005(RtcmDecoder* dec);
int decode_type1006(RtcmDecoder* dec);
int decode_type1007(RtcmDecoder* dec);
int decode_type1008(RtcmDecoder* dec);
int decode_type1033(RtcmDecoder* dec);

}  // namespace rtcm
