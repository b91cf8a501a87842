// The caster's side of the NTRIP exchange: reading requests and GGA lines, building answers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "replay_caster.h"

namespace caster {

struct Request {
  bool valid = false;  // a request line with method, target and version
  std::string method, target, version;
  bool ntrip2 = false;  // "Ntrip-Version: Ntrip/2.0"
  std::optional<std::string> authorization;
  std::vector<std::string> gga;  // from "Ntrip-GGA:" header lines
};

// Offset just past the first empty line ("\r\n\r\n" or "\n\n"), or npos.
std::size_t FindHeaderEnd(std::string_view data);
Request ParseRequest(std::string_view header_block);

// The GGA sentence a line carries ("Ntrip-GGA:$..GGA..." or a bare "$..GGA,..." line), if any.
// The line comes without its line ending.
std::optional<std::string> GgaFromLine(std::string_view line);

std::string Base64Encode(std::string_view bytes);
// True when `authorization` is "Basic " + Base64(user ":" password).
bool CredentialsMatch(const std::optional<std::string>& authorization, const std::string& user,
                      const std::string& password);

// coding_header: the lines that name the stream's codings and framing (NTRIP 2.0 only).
std::string StreamAnswer(bool ntrip2, const std::string& coding_header, bool icy_blank_line);
// The sourcetable's rows and its end line.
std::string SourcetableBody(const std::vector<MountPoint>& mounts);
// coding_header: the lines that name how `body` is coded (NTRIP 2.0 only; with a
// Transfer-Encoding the close ends the body, not a Content-Length).
std::string SourcetableAnswer(bool ntrip2, const std::string& body,
                              const std::string& coding_header = "");
// A complete answer without body for an error status (401, 404, 400).
std::string ErrorAnswer(bool ntrip2, int code, std::string_view reason, std::string_view mount);
// The first line of an endless header block, then filler header lines.
std::string EndlessHeadersStart(bool ntrip2);
std::string FillerHeaderLine(std::size_t n);

}  // namespace caster
