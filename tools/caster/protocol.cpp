#include "protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace caster {

namespace {

constexpr std::string_view kServer = "Server: ntrip-replay-caster/1.0\r\n";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> Lines(std::string_view block) {
  std::vector<std::string_view> lines;
  while (!block.empty()) {
    const std::size_t nl = block.find('\n');
    std::string_view line = block.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    block.remove_prefix(nl + 1);
  }
  return lines;
}

std::string_view Word(std::string_view& s) {
  s = Trim(s);
  const std::size_t sp = s.find(' ');
  std::string_view word = s.substr(0, sp);
  s.remove_prefix(sp == std::string_view::npos ? s.size() : sp);
  return word;
}

}  // namespace

std::size_t FindHeaderEnd(std::string_view data) {
  const std::size_t crlf = data.find("\r\n\r\n");
  const std::size_t lf = data.find("\n\n");
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
  if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf))
    return crlf + 4;
  return lf + 2;
}

Request ParseRequest(std::string_view header_block) {
  Request request;
  const auto lines = Lines(header_block);
  if (lines.empty()) return request;
  std::string_view first = lines.front();
  request.method = Word(first);
  request.target = Word(first);
  request.version = Word(first);
  request.valid = !request.method.empty() && !request.target.empty() && !request.version.empty();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Ntrip-Version")) {
      request.ntrip2 = request.ntrip2 || StartsWithNoCase(value, "Ntrip/2.0");
    } else if (EqualsNoCase(name, "Authorization")) {
      request.authorization = std::string(value);
    } else if (auto gga = GgaFromLine(line)) {
      request.gga.push_back(*gga);
    }
  }
  return request;
}

std::optional<std::string> GgaFromLine(std::string_view line) {
  line = Trim(line);
  constexpr std::string_view kHeader = "Ntrip-GGA:";
  if (StartsWithNoCase(line, kHeader)) {
    const std::string_view value = Trim(line.substr(kHeader.size()));
    if (value.empty()) return std::nullopt;
    return std::string(value);
  }
  // NTRIP 1.0 clients send the bare sentence ("$GPGGA,...", "$GNGGA,...").
  if (line.size() > 6 && line[0] == '$' && line.substr(3, 4) == "GGA,") return std::string(line);
  return std::nullopt;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group <<= 8;
      if (k < n) group |= static_cast<unsigned char>(bytes[i + k]);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out.push_back(k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
    }
  }
  return out;
}

bool CredentialsMatch(const std::optional<std::string>& authorization, const std::string& user,
                      const std::string& password) {
  if (!authorization) return false;
  std::string_view value = *authorization;
  const std::string_view scheme = Word(value);
  return EqualsNoCase(scheme, "Basic") && Trim(value) == Base64Encode(user + ":" + password);
}

std::string StreamAnswer(bool ntrip2, const std::string& coding_header, bool icy_blank_line) {
  if (!ntrip2) return icy_blank_line ? "ICY 200 OK\r\n\r\n" : "ICY 200 OK\r\n";
  std::string answer = "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n";
  answer += kServer;
  answer += "Cache-Control: no-store, no-cache, max-age=0\r\nPragma: no-cache\r\n";
  answer += "Connection: close\r\nContent-Type: gnss/data\r\n";
  answer += coding_header;
  answer += "\r\n";
  return answer;
}

std::string SourcetableBody(const std::vector<MountPoint>& mounts) {
  std::string body;
  for (const auto& mount : mounts) {
    char position[64];
    std::snprintf(position, sizeof position, "%.4f;%.4f", mount.latitude, mount.longitude);
    body += "STR;" + mount.name + ";" + mount.name + ";" + mount.format + ";;2;GNSS;REPLAY;XXX;" +
            position + ";0;0;ntrip-replay-caster;none;B;N;0;\r\n";
  }
  return body + "ENDSOURCETABLE\r\n";
}

std::string SourcetableAnswer(bool ntrip2, const std::string& body,
                              const std::string& coding_header) {
  std::string answer;
  if (ntrip2) {
    answer = "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n";
    answer += kServer;
    answer += "Connection: close\r\nContent-Type: gnss/sourcetable\r\n";
  } else {
    answer = "SOURCETABLE 200 OK\r\n";
    answer += kServer;
    answer += "Connection: close\r\nContent-Type: text/plain\r\n";
  }
  answer += coding_header;
  if (coding_header.find("Transfer-Encoding") == std::string::npos) {
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  return answer + "\r\n" + body;
}

std::string ErrorAnswer(bool ntrip2, int code, std::string_view reason, std::string_view mount) {
  std::string answer = std::string(ntrip2 ? "HTTP/1.1 " : "HTTP/1.0 ") + std::to_string(code) +
                       " " + std::string(reason) + "\r\n";
  if (ntrip2) answer += "Ntrip-Version: Ntrip/2.0\r\n";
  answer += kServer;
  if (code == 401) answer += "WWW-Authenticate: Basic realm=\"/" + std::string(mount) + "\"\r\n";
  answer += "Connection: close\r\nContent-Length: 0\r\n\r\n";
  return answer;
}

std::string EndlessHeadersStart(bool ntrip2) {
  return ntrip2 ? "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n" : "ICY 200 OK\r\n";
}

std::string FillerHeaderLine(std::size_t n) {
  char line[64];
  std::snprintf(line, sizeof line, "X-Filler-%08zu: abcdefghijklmnopqrstuvwxyz\r\n", n);
  return line;
}

}  // namespace caster
