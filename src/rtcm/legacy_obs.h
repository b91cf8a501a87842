#pragma once
// Legacy GPS (1001-1004) and GLONASS (1009-1012) observation messages.
#include "rtcm/decoder.h"

namespace rtcm {

// Header of 1001-1004: number of satellites (sync through *sync), or -1.
int decode_head1001(RtcmDecoder* dec, int* sync);
// Header of 1009-1012: number of satellites (sync through *sync), or -1.
int decode_head1009(RtcmDecoder* dec, int* sync);
// Observation messages; each returns -1, 0 or 1.
int decode_type1002(RtcmDecoder* dec);
int decode_type1004(RtcmDecoder* dec);
int decode_type1010(RtcmDecoder* dec);
int decode_type1012(RtcmDecoder* dec);

}  // namespace rtcm
