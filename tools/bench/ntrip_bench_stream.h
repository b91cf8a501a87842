#pragma once
// Streams for the benchmark: synthetic MSM 7 epochs of about 3 kB (what a multi-constellation
// reference station sends each second), and the decoder figure over a long run of them.
#include <cstddef>
#include <string>

namespace ntrip_bench {

// `epochs` consecutive epochs, each 1077, 1087, 1097, 1117 and 1127 messages with every cell set.
std::string MsmEpochs(std::size_t epochs);
// Size in bytes of one epoch of MsmEpochs.
std::size_t MsmEpochBytes();

struct DecoderFigure {
  double megabytes = 0;
  double cpu_seconds = 0;
  double wall_seconds = 0;
};
// One persistent decoder fed the MSM 7 stream in 2048-byte reads, like the client's reads.
DecoderFigure MeasureDecoder(double megabytes);

}  // namespace ntrip_bench
