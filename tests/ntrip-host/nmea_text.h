// Builds NMEA lines with a correct checksum, so tests state only the sentence body.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

inline std::string Nmea(std::string_view body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  char trailer[4];
  std::snprintf(trailer, sizeof trailer, "*%02X", sum);
  return "$" + std::string(body) + trailer;
}
