#pragma once
// Asks a caster for its sourcetable (GET / with the stream request's headers) the way a stream
// is opened, every wait bounded and the body at most 1 MiB.
#include <cstddef>
#include <stop_token>
#include <string>

#include "caster_response.h"
#include "client_timing.h"
#include "sourcetable.h"
#include "stream_opener.h"

namespace tarno {

inline constexpr std::size_t kMaxSourcetableBytes = 1024 * 1024;

struct FetchedSourcetable {
  Refusal refusal;          // kind None when the table came; otherwise why not, for the user
  std::string status_line;  // the caster's first answer line, made printable
  Sourcetable table;
  bool ntrip1 = false;  // the NTRIP 1.0 request was the one answered
};

// Never throws for the caster's faults or a bad address; a CA file that cannot be loaded is a
// refusal too. The connect, the request and the head take the timing's bounds; any read of the
// body the idle-read bound, and the whole answer no longer than the header and idle-read bounds
// together. A `stop` closes the socket, which ends whatever step the fetch is in at once (the
// name resolution before the connect excepted).
FetchedSourcetable FetchSourcetable(const CasterAddress& caster,
                                    const ClientTiming& timing = ClientTiming(),
                                    std::stop_token stop = {});

}  // namespace tarno
