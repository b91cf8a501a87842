// Reads a receiver's stream into counted parses; the one reader of the file, TCP and serial
// NMEA sources.
#pragma once

#include "positions/nmea_stream_reader.h"
#include "positions/position_source.h"

namespace ntrip_host {

// Returns nullopt for an empty line (not counted); otherwise the parse, counted by outcome.
std::optional<NmeaParse> ParseAndCount(std::string_view line, bool too_long,
                                       PositionCounters& counters);

class NmeaInput {
 public:
  // Calls on_parse(parse) for each sentence in `bytes`; counts the sentences by outcome and the
  // bytes of other protocols.
  template <typename OnParse>
  void Feed(std::string_view bytes, PositionCounters& counters, OnParse&& on_parse) {
    counters.other_bytes += reader_.Feed(bytes, Parser(counters, on_parse));
  }
  template <typename OnParse>
  void Finish(PositionCounters& counters, OnParse&& on_parse) {
    counters.other_bytes += reader_.Finish(Parser(counters, on_parse));
  }
  void Reset() { reader_.Reset(); }

 private:
  template <typename OnParse>
  static auto Parser(PositionCounters& counters, OnParse& on_parse) {
    return [&counters, &on_parse](std::string_view text, bool too_long) {
      if (auto parse = ParseAndCount(text, too_long, counters)) on_parse(*parse);
    };
  }

  NmeaStreamReader reader_{kMaxNmeaLineLength};
};

}  // namespace ntrip_host
