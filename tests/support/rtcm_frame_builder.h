#pragma once
// Test-side encoder of RTCM 3 frames: a bit writer, an independent CRC-24Q and the framing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rtcm_test {

// Appends fields most significant bit first, the way RTCM 3 lays them out.
class BitWriter {
 public:
  BitWriter& Unsigned(uint64_t value, int bits);
  BitWriter& Signed(int64_t value, int bits);         // two's complement
  BitWriter& SignMagnitude(int64_t value, int bits);  // sign bit then bits-1 of magnitude
  BitWriter& Signed38(int64_t value) { return Signed(value, 38); }
  BitWriter& Text(const std::string& text);  // 8 bits per character
  BitWriter& PadToByte();                    // zero bits up to a byte boundary

  int bit_count() const { return _bits; }
  // The bytes written so far; a last partial byte is padded with zeros.
  const std::vector<uint8_t>& bytes() const { return _bytes; }

 private:
  std::vector<uint8_t> _bytes;
  int _bits = 0;
};

// CRC-24Q computed bit by bit (deliberately not table driven).
uint32_t Crc24q(const uint8_t* data, size_t size);

// Preamble, 6 reserved bits (given), 10-bit length, the message, then the CRC.
std::vector<uint8_t> WrapFrame(const std::vector<uint8_t>& message, unsigned reserved_bits = 0);
// A frame whose message starts with the 12-bit type and continues with the writer's bits.
std::vector<uint8_t> FrameOf(int type, const BitWriter& rest);
// A message of the given type and total length in bytes (type first, zeros after).
std::vector<uint8_t> FrameOfLength(int type, int message_bytes);

std::string AsString(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts);
// Whole contents of a file in the recordings folder; empty when it cannot be read.
std::string ReadRecording(const std::string& name);

}  // namespace rtcm_test
