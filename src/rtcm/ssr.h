#pragma once
// State-space correction messages of the six systems; body decoders return -1, 0 or 10.
#include "rtcm/decoder.h"

namespace rtcm {

// Headers: number of satellites or -1; sync is the multiple-message indicator,
// update_interval in seconds, header_end the bit where the satellite blocks begin.
int decode_ssr1_head(RtcmDecoder* dec, int sys, int* sync, int* iod, double* update_interval,
                     int* reference_datum, int* header_end);
int decode_ssr2_head(RtcmDecoder* dec, int sys, int* sync, int* iod, double* update_interval,
                     int* header_end);

int decode_ssr_orbit(RtcmDecoder* dec, int sys);
int decode_ssr_clock(RtcmDecoder* dec, int sys);
int decode_ssr_code_bias(RtcmDecoder* dec, int sys);
int decode_ssr_orbit_clock(RtcmDecoder* dec, int sys);
int decode_ssr_ura(RtcmDecoder* dec, int sys);
int decode_ssr_high_rate_clock(RtcmDecoder* dec, int sys);

}  // namespace rtcm
