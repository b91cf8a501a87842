#pragma once
// Decoder set-up and release, the byte-by-byte frame reader, bit readers and the CRC.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rtcm/decoder.h"

namespace rtcm {

// Resets every field (except utc_clock) and allocates the arrays; 1 on success, 0 otherwise.
int init_rtcm(RtcmDecoder* dec);
void free_rtcm(RtcmDecoder* dec);
// Consumes one byte; 0 until a frame with a right CRC completes, then decode_rtcm3's result
// (frame_decoded tells a decoded frame from no frame). After a CRC failure the search restarts
// at the byte after the false preamble: the first right frame found complete among the bytes
// already held is decoded on the same call, each further one on the next call.
int input_rtcm3(RtcmDecoder* dec, uint8_t data);
// The same as calling input_rtcm3 for data[0], data[1], ... in turn, stopping after the byte
// that completes a frame or at the end of the data: *used = bytes consumed, the result is
// input_rtcm3's result for the last of them. Scans for the preamble and copies frame bytes
// in runs instead of one call per byte.
int input_rtcm3_block(RtcmDecoder* dec, const uint8_t* data, size_t size, size_t* used);
// End of the input: decodes the next right frame still held (behind a false preamble that will
// now never complete) and returns its result; frame_decoded stays 0 when none is left.
int input_rtcm3_end(RtcmDecoder* dec);

// Bit readers; bit 0 is the most significant bit of buff[0].
uint32_t bits_unsigned(const uint8_t* buff, int pos, int n);
int32_t bits_signed(const uint8_t* buff, int pos, int n);
double bits_sign_magnitude(const uint8_t* buff, int pos, int n);
double bits_signed38(const uint8_t* buff, int pos);

// Appends printf-style text to dec->description, cut at its capacity.
void append_description(RtcmDecoder* dec, const char* format, ...);

// CRC-24Q of n bytes; 0 for n < 1.
uint32_t frame_crc24(const uint8_t* buff, int n);

// bits_unsigned and bits_signed for the decoder's own frame buffer (FRAME_MAX bytes), with
// the same results for every argument: one 8-byte big-endian load and two shifts instead of
// a loop over bytes. Fields near the end of the buffer, where 8 bytes are not there to load,
// go through bits_unsigned.
using FrameBuffer = uint8_t[FRAME_MAX];
inline uint32_t frame_field(const FrameBuffer& frame, int pos, int n) {
  if (n <= 0) return 0;
  if (n > 32) n = 32;
  const int first = pos >> 3;
  if (pos < 0 || first > FRAME_MAX - 8) return bits_unsigned(frame, pos, n);
  uint64_t window;
  std::memcpy(&window, frame + first, sizeof window);
  if constexpr (std::endian::native == std::endian::little) window = __builtin_bswap64(window);
  return static_cast<uint32_t>((window << (pos & 7)) >> (64 - n));
}
inline int32_t frame_field_signed(const FrameBuffer& frame, int pos, int n) {
  const uint32_t value = frame_field(frame, pos, n);
  if (n <= 0 || n >= 32) return static_cast<int32_t>(value);
  const uint32_t sign = 1u << (n - 1);
  return static_cast<int32_t>((value ^ sign) - sign);
}

// Reads consecutive fields of the frame from a bit position onwards.
class FieldReader {
 public:
  FieldReader(const FrameBuffer& frame, int pos) : _frame(frame), _pos(pos) {}
  uint32_t Unsigned(int bits) {
    const uint32_t v = frame_field(_frame, _pos, bits);
    _pos += bits;
    return v;
  }
  int32_t Signed(int bits) {
    const int32_t v = frame_field_signed(_frame, _pos, bits);
    _pos += bits;
    return v;
  }
  int pos() const { return _pos; }

 private:
  const FrameBuffer& _frame;
  int _pos;
};

}  // namespace rtcm
