#include "command_line.h"

#include <charconv>
#include <limits>
#include <span>
#include <stdexcept>


namespace caster {

namespace {

std::size_t ParseCount(const std::string& text, const std::string& what) {
  std::size_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw std::invalid_argument("bad " + what + ": '" + text + "'");
  }
  return value;
}

void ParseListen(const std::string& text, CasterOptions& options) {
  std::string address;
  std::string port = text;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || text.compare(close + 1, 1, ":") != 0) {
      throw std::invalid_argument("bad --listen: '" + text + "' (use [ADDR]:PORT for IPv6)");
    }
    address = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    address = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.find(':') != std::string::npos) {
      throw std::invalid_argument("bad --listen: '" + text + "' (use [ADDR]:PORT for IPv6)");
    }
  }
  const std::size_t number = ParseCount(port, "port");
  if (number > std::numeric_limits<std::uint16_t>::max()) {
    throw std::invalid_argument("bad port: '" + port + "'");
  }
  if (!address.empty()) options.listen_address = address;
  options.port = static_cast<std::uint16_t>(number);
}

Fault ParseFault(const std::string& text) {
  const std::size_t eq = text.find('=');
  const std::string name = text.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : text.substr(eq + 1);
  const bool has_value = eq != std::string::npos;
  Fault fault;
  if (name == "close-after" && has_value) {
    fault.mode = FaultMode::CloseAfter;
    fault.after_bytes = ParseCount(value, "byte count");
  } else if (name == "stall-after" && has_value) {
    fault.mode = FaultMode::StallAfter;
    fault.after_bytes = ParseCount(value, "byte count");
  } else if (name == "reset-after" && has_value) {
    fault.mode = FaultMode::Reset;
    fault.after_bytes = ParseCount(value, "byte count");
  } else if (name == "never-answer" && !has_value) {
    fault.mode = FaultMode::NeverAnswer;
  } else if (name == "endless-headers" && !has_value) {
    fault.mode = FaultMode::EndlessHeaders;
  } else if (name == "garbage" && !has_value) {
    fault.mode = FaultMode::Garbage;
  } else if (name == "sourcetable" && !has_value) {
    fault.mode = FaultMode::Sourcetable;
  } else if (name == "proxy-extra-bytes" && !has_value) {
    // Taken for a proxy: its 200 to CONNECT, then bytes of its own, then a close.
    fault.mode = FaultMode::StatusLine;
    fault.status_line = "HTTP/1.1 200 Connection established\r\n\r\nnot from the caster";
  } else if (name == "ntrip1-only" && !has_value) {
    fault.mode = FaultMode::Ntrip1Only;
  } else if (name == "status" && has_value && !value.empty()) {
    fault.mode = FaultMode::StatusLine;
    fault.status_line = value;
    if (fault.status_line.size() >= 2 && fault.status_line.front() == '"' &&
        fault.status_line.back() == '"') {
      fault.status_line = fault.status_line.substr(1, fault.status_line.size() - 2);
    }
  } else {
    throw std::invalid_argument("unknown --fault: '" + text + "'");
  }
  return fault;
}

MountPosition ParseMountPosition(const std::string& text) {
  const std::size_t eq = text.find('=');
  const std::size_t comma = text.find(',', eq == std::string::npos ? 0 : eq);
  MountPosition position;
  if (eq == 0 || eq == std::string::npos || comma == std::string::npos) {
    throw std::invalid_argument("bad --mount-position: '" + text + "' (use NAME=LAT,LON)");
  }
  position.name = text.substr(0, eq);
  const std::string lat = text.substr(eq + 1, comma - eq - 1);
  const std::string lon = text.substr(comma + 1);
  const auto [lat_end, lat_error] =
      std::from_chars(lat.data(), lat.data() + lat.size(), position.latitude);
  const auto [lon_end, lon_error] =
      std::from_chars(lon.data(), lon.data() + lon.size(), position.longitude);
  if (lat.empty() || lon.empty() || lat_error != std::errc() || lon_error != std::errc() ||
      lat_end != lat.data() + lat.size() || lon_end != lon.data() + lon.size() ||
      position.latitude < -90 || position.latitude > 90 || position.longitude < -180 ||
      position.longitude > 180) {
    throw std::invalid_argument("bad --mount-position: '" + text + "' (use NAME=LAT,LON)");
  }
  return position;
}

using Apply = void (*)(CommandLine& line, const std::string& value);

struct Option {
  cli::OptionText text;
  Apply apply = nullptr;  // nullptr for a line of help
};

void SetMount(CommandLine& line, const std::string& mount) {
  const std::size_t eq = mount.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == mount.size()) {
    throw std::invalid_argument("bad --mount: '" + mount + "' (use NAME=FILE)");
  }
  line.mount_files.emplace_back(mount.substr(0, eq), mount.substr(eq + 1));
}

void SetUser(CommandLine& line, const std::string& user) {
  const std::size_t colon = user.find(':');
  if (colon == std::string::npos || colon == 0) {
    throw std::invalid_argument("bad --user (use USER:PASSWORD)");
  }
  line.options.user = user.substr(0, colon);
  line.options.password = user.substr(colon + 1);
}

void SetCoding(CommandLine& line, const std::string& coding) {
  if (coding == "gzip") {
    line.options.coding = StreamCoding::GzipMembers;
  } else if (coding == "deflate") {
    line.options.coding = StreamCoding::DeflateFlushed;
  } else {
    throw std::invalid_argument("bad --coding: '" + coding + "' (use gzip or deflate)");
  }
}

constexpr Option kOptions[] = {
    {{"--listen", "[ADDR:]PORT",
      "address and port to listen on (default 127.0.0.1:2100, the\n"
      "port NTRIP_Client asks by default); IPv6 as [::1]:2100; port 0\n"
      "picks a free port"},
     [](CommandLine& l, const std::string& v) { ParseListen(v, l.options); }},
    {{"--mount", "NAME=FILE", "serve FILE as mount point NAME (repeatable; a regular file of at\n"
     "most 256 MiB)"}, SetMount},
    {{"--user", "USER:PASSWORD", "require HTTP Basic authentication (401 otherwise)"}, SetUser},
    {{"--rate", "BYTES_PER_SEC",
      "pacing; default: whole frames at about 1 kB/s; 0: as fast as possible"},
     [](CommandLine& l, const std::string& v) {
       l.options.rate = static_cast<double>(ParseCount(v, "rate"));
     }},
    {{"--whole-frames", "", "with --rate N: send whole frames at that average rate"},
     [](CommandLine& l, const std::string&) { l.options.whole_frames = true; }},
    {{"--no-chunked", "", "NTRIP 2.0 answers without Transfer-Encoding: chunked"},
     [](CommandLine& l, const std::string&) { l.options.chunked = false; }},
    {{"--icy-without-blank-line", "",
      "NTRIP 1.0 answer \"ICY 200 OK\" followed directly by the stream"},
     [](CommandLine& l, const std::string&) { l.options.icy_blank_line = false; }},
    {{"--gga-log", "FILE",
      "append every GGA received (request header and updates), one per line,\n"
      "with the UTC time received and the client's address"},
     [](CommandLine& l, const std::string& v) { l.options.gga_log_path = v; }},
    {{"--max-bytes", "N", "close each stream after N bytes (default: loop forever)"},
     [](CommandLine& l, const std::string& v) { l.options.max_bytes = ParseCount(v, "byte count"); }},
    {{"--separate-answer", "", "write the 200 answer on its own, not with the first stream bytes"},
     [](CommandLine& l, const std::string&) { l.options.answer_with_first_bytes = false; }},
    {{"--mount-position", "NAME=LAT,LON",
      "where mount point NAME is, for its sourcetable row\n"
      "(degrees; default 0,0)"},
     [](CommandLine& l, const std::string& v) {
       l.mount_positions.push_back(ParseMountPosition(v));
     }},
    {{"--tls-cert", "FILE", "serve TLS with this PEM certificate chain (needs --tls-key)"},
     [](CommandLine& l, const std::string& v) { l.options.tls_cert_file = v; }},
    {{"--tls-key", "FILE", "the PEM private key of --tls-cert"},
     [](CommandLine& l, const std::string& v) { l.options.tls_key_file = v; }},
    {{"--coding", "gzip|deflate",
      "NTRIP 2.0 streams compressed: each write one gzip member, or one\n"
      "deflate stream flushed at every write; named by Transfer-Encoding;\n"
      "the NTRIP 2.0 sourcetable too"},
     SetCoding},
    {{"--content-coding", "", "with --coding: named by Content-Encoding instead"},
     [](CommandLine& l, const std::string&) { l.options.coding_as_content = true; }},
    {{"--live-time", "",
      "serve each pass as if live (the default): the epoch time of every\n"
      "observation message becomes the present (each system's own time\n"
      "scale, the recording's spacing kept, CRC recomputed)"},
     [](CommandLine& l, const std::string&) { l.options.live_time = true; }},
    {{"--original-time", "", "serve the recording's bytes unchanged, with their own times"},
     [](CommandLine& l, const std::string&) { l.options.live_time = false; }},
    {{"--fault", "MODE", "misbehave on purpose, for tests:"},
     [](CommandLine& l, const std::string& v) { l.options.fault = ParseFault(v); }},
    {{"", "", "      close-after=N        close the connection after N stream bytes"}},
    {{"", "", "      stall-after=N        stop sending after N stream bytes, keep the connection open"}},
    {{"", "", "      reset-after=N        send N stream bytes, then reset the connection"}},
    {{"", "", "      never-answer         read the request and never answer"}},
    {{"", "", "      status=\"LINE\"        answer LINE and a blank line, then close"}},
    {{"", "", "                           (e.g. status=\"HTTP/1.1 401 Unauthorized\")"}},
    {{"", "", "      endless-headers      a status line, then header lines without end"}},
    {{"", "", "      garbage              a 200 answer, then random bytes that are not RTCM 3"}},
    {{"", "", "      sourcetable          answer every request with the sourcetable (for NTRIP 2.0"}},
    {{"", "", "                           requests: HTTP/1.1 200 OK, Content-Type gnss/sourcetable)"}},
    {{"", "", "      ntrip1-only          answer NTRIP 2.0 requests \"HTTP/1.1 400 Bad Request\", serve"}},
    {{"", "", "                           NTRIP 1.0 ones"}},
    {{"", "", "      proxy-extra-bytes    as a proxy (--set proxy=ADDR:PORT): a 200 to CONNECT, then"}},
    {{"", "", "                           bytes of its own, then a close"}},
    {{"--help", "", "this text"}},
    {{"--version", "", "the program's version"}},
    {{"--man", "", ""}},
};

constexpr std::size_t kHelpColumn = 25;

constexpr cli::Synopsis kSynopsis[] = {{"[options]", ""}};
constexpr cli::ExitStatus kExitStatus[] = {
    {0, "stopped by Ctrl-C or SIGTERM (or --help, --version answered)"},
    {1, "it could not serve: a recording that cannot be read, an address that cannot be bound, "
        "TLS files that do not load"},
    {2, "a bad command line, or --mount-position for a mount point that no --mount names"}};
constexpr std::string_view kSeeAlso[] = {"ntrip-host", "rtcm3-summary"};

constexpr cli::ProgramText kProgram{
    .name = "ntrip-replay-caster",
    .summary = "serve recorded RTCM 3 streams over NTRIP",
    .synopsis = kSynopsis,
    .about = "Serves recorded RTCM 3 streams to NTRIP 1.0 and 2.0 clients, in a loop.",
    .notes = "Prints \"listening on ADDR:PORT\" once it listens. Ctrl-C or SIGTERM stops it.",
    .details = "Each connection gets its mount point's recording from the start, paced as --rate\n"
               "says, and again from the start at its end, its epochs moved to the present; with\n"
               "--original-time the recording's bytes are served unchanged. The tests and the\n"
               "demo of ntrip-host run the same caster in-process.",
    .exit_status = kExitStatus,
    .see_also = kSeeAlso};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  // A client's first run against it works with both sides' defaults: the port NTRIP_Client asks
  // by default, and corrections whose age is that of live ones.
  line.options.port = 2100;
  line.options.live_time = true;
  line.answer = cli::ParseArguments(std::span<const Option>(kOptions), args, line);
  return line;
}

std::string UsageText() {
  return AnswerText(cli::Answer::kHelp, "");
}

std::string AnswerText(cli::Answer answer, std::string_view version) {
  return cli::AnswerText(answer, kProgram, version, std::span<const Option>(kOptions), kHelpColumn);
}

}  // namespace caster
