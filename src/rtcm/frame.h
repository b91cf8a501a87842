#pragma once
// Decoder set-up and release, the byte-by-byte frame reader, bit readers and the CRC.
#include <cstdint>

#include "rtcm/decoder.h"

namespace rtcm {

// Resets every field (except utc_clock) and allocates the arrays; 1 on success, 0 otherwise.
int init_rtcm(RtcmDecoder* dec);
void free_rtcm(RtcmDecoder* dec);
// Consumes one byte; 0 until a frame with a right CRC completes, then decode_rtcm3's result.
int input_rtcm3(RtcmDecoder* dec, uint8_t data);

// Bit readers; bit 0 is the most significant bit of buff[0].
uint32_t bits_unsigned(const uint8_t* buff, int pos, int n);
int32_t bits_signed(const uint8_t* buff, int pos, int n);
double bits_sign_magnitude(const uint8_t* buff, int pos, int n);
double bits_signed38(const uint8_t* buff, int pos);

// CRC-24Q of n bytes; 0 for n < 1.
uint32_t frame_crc24(const uint8_t* buff, int n);

}  // namespace rtcm
