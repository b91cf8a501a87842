#include "rtcm_frame_builder.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace rtcm_test {

BitWriter& BitWriter::Unsigned(uint64_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    if (_bits % 8 == 0) _bytes.push_back(0);
    // Bits above the 64 of the value are zeros, so long runs of padding can be written.
    if (i < 64 && ((value >> i) & 1u)) _bytes.back() |= static_cast<uint8_t>(0x80u >> (_bits % 8));
    ++_bits;
  }
  return *this;
}

BitWriter& BitWriter::Signed(int64_t value, int bits) {
  if (bits > 64) {  // sign extension beyond the 64 bits of the value
    for (int i = 64; i < bits; ++i) Unsigned(value < 0 ? 1 : 0, 1);
    bits = 64;
  }
  const uint64_t mask = bits >= 64 ? ~0ull : ((1ull << bits) - 1);
  return Unsigned(static_cast<uint64_t>(value) & mask, bits);
}

BitWriter& BitWriter::SignMagnitude(int64_t value, int bits) {
  Unsigned(value < 0 ? 1 : 0, 1);
  return Unsigned(static_cast<uint64_t>(value < 0 ? -value : value), bits - 1);
}

BitWriter& BitWriter::Text(const std::string& text) {
  for (const char c : text) Unsigned(static_cast<uint8_t>(c), 8);
  return *this;
}

BitWriter& BitWriter::PadToByte() {
  while (_bits % 8 != 0) Unsigned(0, 1);
  return *this;
}

uint32_t Crc24q(const uint8_t* data, size_t size) {
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= 0x1864CFB;
    }
  }
  return crc & 0xFFFFFF;
}

std::vector<uint8_t> WrapFrame(const std::vector<uint8_t>& message, unsigned reserved_bits) {
  BitWriter header;
  header.Unsigned(0xD3, 8).Unsigned(reserved_bits, 6).Unsigned(message.size(), 10);
  std::vector<uint8_t> frame = header.bytes();
  frame.insert(frame.end(), message.begin(), message.end());
  const uint32_t crc = Crc24q(frame.data(), frame.size());
  frame.push_back(static_cast<uint8_t>(crc >> 16));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc));
  return frame;
}

std::vector<uint8_t> FrameOf(int type, const BitWriter& rest) {
  BitWriter message;
  message.Unsigned(static_cast<uint64_t>(type), 12);
  // Copy the rest bit by bit so its fields follow the type without a gap.
  const std::vector<uint8_t>& bytes = rest.bytes();
  for (int i = 0; i < rest.bit_count(); ++i) {
    message.Unsigned((bytes[i / 8] >> (7 - i % 8)) & 1u, 1);
  }
  message.PadToByte();
  return WrapFrame(message.bytes());
}

std::vector<uint8_t> FrameOfLength(int type, int message_bytes) {
  BitWriter message;
  message.Unsigned(static_cast<uint64_t>(type), 12);
  while (message.bit_count() < message_bytes * 8) message.Unsigned(0, 1);
  return WrapFrame(message.bytes());
}

std::string AsString(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string ReadRecording(const std::string& name) {
  std::ifstream in(std::string(NTRIP_DATA_DIR) + "/" + name, std::ios::binary);
  if (!in) return {};
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace rtcm_test
