#pragma once
// Multiple Signal Messages (MSM 1 to 7) of the six systems.
#include <cstdint>

#include "rtcm/decoder.h"

namespace rtcm {

struct MsmHeader {
  int iod = 0;
  int reserved = 0;  // the 7 bits after iod, kept as read
  int clock_steering = 0;
  int external_clock = 0;
  int smoothing = 0;
  int smoothing_interval = 0;
  int nsat = 0;
  int nsig = 0;
  uint8_t sats[64] = {};       // satellite ids 1..64, mask order
  uint8_t signals[32] = {};    // signal ids 1..32, mask order
  uint8_t cell_mask[64] = {};  // nsat x nsig flags, satellite-major
  int ncell = 0;
};

// Common header: ncell or -1; sync, iod, the header and the bit position after the cell mask.
int decode_head_msm(RtcmDecoder* dec, int sys, int* sync, int* iod, MsmHeader* header,
                    int* header_end);
// MSM 1 to 3: header only; each decoder returns -1, 0 or 1.
int decode_msm_head_only(RtcmDecoder* dec, int sys);
int decode_msm_type4(RtcmDecoder* dec, int sys);
int decode_msm_type5(RtcmDecoder* dec, int sys);
int decode_msm_type6(RtcmDecoder* dec, int sys);
int decode_msm_type7(RtcmDecoder* dec, int sys);

}  // namespace rtcm
