#pragma once
// Asks a caster for its sourcetable (GET / with the stream request's headers) over the client's
// socket, every wait bounded and the body at most 1 MiB.
#include <chrono>
#include <cstddef>
#include <string>

#include "http_proxy.h"
#include "sourcetable.h"

namespace tarno {

inline constexpr std::size_t kMaxSourcetableBytes = 1024 * 1024;

struct CasterAddress {
  std::string host;  // name or address, also sent as the Host header
  std::string port;  // decimal text
  std::string username, password;
  std::string gga;  // a GGA sentence with its CR LF, or empty to send none
  bool tls = false;
  std::string tls_ca_file;  // empty: the system's certificate store
  HttpProxy proxy;          // the same way out as the stream request
};

struct SourcetableBounds {
  std::chrono::nanoseconds connect = std::chrono::seconds(10);
  std::chrono::nanoseconds request = std::chrono::seconds(10);
  std::chrono::nanoseconds header = std::chrono::seconds(10);
  std::chrono::nanoseconds idle_read = std::chrono::seconds(30);  // any read of the body
};

struct FetchedSourcetable {
  std::string error;        // empty when the table came; otherwise why not, for the user
  std::string status_line;  // the caster's first answer line, made printable
  Sourcetable table;
};

// Never throws for the caster's faults or a bad address; a CA file that cannot be loaded is an
// error too.
FetchedSourcetable FetchSourcetable(const CasterAddress& caster,
                                    const SourcetableBounds& bounds = SourcetableBounds());

}  // namespace tarno
