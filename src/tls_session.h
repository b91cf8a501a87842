#pragma once
// TLS for the client's socket, over OpenSSL: a context made once per client (trust store, the
// name to verify) and one session per connection over a non-blocking descriptor. The session
// never waits: it says what it needs (readable, writable) and the socket does the bounded wait.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <boost/asio/ssl/context.hpp>
#include <boost/system/error_code.hpp>

#include "socket_calls.h"

struct ssl_st;

namespace tarno {

// The `tls_ca_file` property: empty, or a readable file holding a PEM certificate. The reason
// names the property, the file and what is wrong; empty when accepted.
std::string CheckCaFile(std::string_view value);

class TlsContext {
 public:
  // `server_name`: the caster's host name or address, verified against its certificate and sent
  // as SNI (names only: an address is not a valid SNI). An empty `ca_file` trusts the system's
  // store. Throws std::invalid_argument naming the file when it cannot be loaded.
  TlsContext(std::string server_name, const std::string& ca_file);

  const std::string& server_name() const { return _server_name; }
  bool server_is_address() const { return _server_is_address; }
  boost::asio::ssl::context& native() { return _context; }

 private:
  std::string _server_name;
  bool _server_is_address = false;
  boost::asio::ssl::context _context;
};

class TlsSession {
 public:
  enum class Want { Nothing, Readable, Writable };
  struct Step {
    std::size_t bytes = 0;  // moved by a read or write
    Want want = Want::Nothing;
    boost::system::error_code error;  // eof when the caster ended the connection
  };

  // The descriptor stays owned by the caller. `error` is set when no session could be made.
  TlsSession(TlsContext& context, SocketHandle fd, boost::system::error_code& error);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  Step Handshake();
  Step Read(char* buffer, std::size_t capacity);
  Step Write(const char* bytes, std::size_t size);

  // Why verification failed: OpenSSL's reason and the certificate's subject; empty otherwise.
  const std::string& verify_failure() const { return _verify_failure; }

 private:
  static int OnVerify(int preverified, struct x509_store_ctx_st* store);
  Step Outcome(int result);

  ssl_st* _ssl = nullptr;
  std::string _verify_failure;
};

}  // namespace tarno
