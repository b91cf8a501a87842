#pragma once
// Reads a fuzz input front to back: the first bytes configure a run, the rest is the payload.
// Reading past the end gives zeros, so every input, however short, is a valid configuration.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string_view>
#include <vector>

namespace fuzzing {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : _data(data), _size(size) {}

  uint8_t Byte() { return _pos < _size ? _data[_pos++] : 0; }
  uint32_t Word32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // Up to n bytes (fewer at the end of the input).
  std::string_view Text(std::size_t n) {
    const std::size_t take = n < _size - _pos ? n : _size - _pos;
    const std::string_view text(reinterpret_cast<const char*>(_data + _pos), take);
    _pos += take;
    return text;
  }
  std::string_view Rest() { return Text(_size - _pos); }

 private:
  const uint8_t* _data;
  std::size_t _size;
  std::size_t _pos = 0;
};

// Cuts `whole` into consecutive pieces whose sizes cycle through `sizes` (0 = an empty piece,
// which is still delivered). An empty table means one piece.
template <typename Visit>
void ForEachPiece(std::string_view whole, const std::vector<uint8_t>& sizes, Visit&& visit) {
  if (sizes.empty()) {
    visit(whole);
    return;
  }
  std::size_t pos = 0;
  std::size_t k = 0;
  bool any_progress = false;
  while (pos < whole.size()) {
    const std::size_t n = sizes[k];
    visit(whole.substr(pos, n));
    pos += n;
    any_progress = any_progress || n > 0;
    if (++k == sizes.size()) {
      k = 0;
      // A table of zeros would never get through the input.
      if (!any_progress) {
        visit(whole.substr(pos));
        return;
      }
    }
  }
}

inline std::vector<uint8_t> ReadSizeTable(FuzzInput& in) {
  std::vector<uint8_t> sizes(in.Byte() & 15);
  for (auto& s : sizes) s = in.Byte();
  return sizes;
}

// A broken invariant: report it and abort so libFuzzer saves the input.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                     \
  do {                                                       \
    if (!(cond)) ::fuzzing::Fail(#cond, __FILE__, __LINE__); \
  } while (0)

}  // namespace fuzzing
