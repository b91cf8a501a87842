#include "tls_session.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>

#include "caster_response.h"
#include "system_trust_store.h"

namespace tarno {

namespace {

std::string Subject(X509* certificate) {
  if (certificate == nullptr) return "none";
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return "?";
  X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
  BIO_free(bio);
  return text.empty() ? "(empty)" : text;
}

boost::system::error_code SslError(unsigned long code) {
  return boost::system::error_code(static_cast<int>(code), boost::asio::error::get_ssl_category());
}

// Why `path` cannot be read as a plain file without opening it (a FIFO, a device, a socket),
// empty when it can or when it is missing (the open then says why).
std::string NotRegularFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status))
    return {};
  return "it is not a regular file";
}

}  // namespace

std::string CheckCaFile(std::string_view value) {
  if (value.empty()) return {};
  const std::string path(value);
  std::string reason;
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) {
    reason = "it is a directory, not a file";
  } else if (std::string kind = NotRegularFile(path); !kind.empty()) {
    reason = std::move(kind);
  } else if (errno = 0; !std::ifstream(path)) {
    reason = "it cannot be read: " + std::generic_category().message(errno != 0 ? errno : ENOENT);
  } else {
    boost::asio::ssl::context context(boost::asio::ssl::context::tls_client);
    boost::system::error_code error;
    context.load_verify_file(path, error);
    if (error) reason = "it holds no usable PEM certificate";
  }
  if (reason.empty()) return {};
  return "tls_ca_file \"" + PrintableStatusLine(value) + "\" is refused: " + reason;
}

TlsContext::TlsContext(std::string server_name, const std::string& ca_file)
    : _server_name(std::move(server_name)), _context(boost::asio::ssl::context::tls_client) {
  boost::system::error_code error;
  boost::asio::ip::make_address(_server_name, error);
  _server_is_address = !error;
  SSL_CTX* ctx = _context.native_handle();
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Casters often drop the TCP connection without a closing alert: that is the stream's end.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (ca_file.empty()) {
    std::string reason;
    if (!LoadSystemTrustStore(ctx, reason))
      throw std::invalid_argument("cannot load the system's certificate store: " + reason);
  } else {
    // Opening a FIFO would wait for a writer that may never come: the kind is checked first.
    if (!NotRegularFile(ca_file).empty() || !std::ifstream(ca_file)) {
      throw std::invalid_argument("cannot read the TLS certificate authority file \"" + ca_file +
                                  "\"");
    }
    _context.load_verify_file(ca_file, error);
    if (error) {
      throw std::invalid_argument("the TLS certificate authority file \"" + ca_file +
                                  "\" holds no usable PEM certificate");
    }
  }
}

TlsSession::TlsSession(TlsContext& context, SocketHandle fd, boost::system::error_code& error) {
  error.clear();
  ERR_clear_error();
  _ssl = SSL_new(context.native().native_handle());
  if (_ssl == nullptr || SSL_set_fd(_ssl, static_cast<int>(fd)) != 1) {
    error = SslError(ERR_get_error());
    return;
  }
  SSL_set_app_data(_ssl, this);
  SSL_set_verify(_ssl, SSL_VERIFY_PEER, &TlsSession::OnVerify);
  const std::string& name = context.server_name();
  X509_VERIFY_PARAM* param = SSL_get0_param(_ssl);
  int ok = 1;
  if (context.server_is_address()) {
    ok = X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
  } else {
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    ok = X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1 &&
         SSL_set_tlsext_host_name(_ssl, name.c_str()) == 1;
  }
  if (ok != 1) error = SslError(ERR_get_error());
}

TlsSession::~TlsSession() {
  if (_ssl != nullptr) SSL_free(_ssl);
}

int TlsSession::OnVerify(int preverified, X509_STORE_CTX* store) {
  if (preverified == 1) return 1;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = static_cast<TlsSession*>(SSL_get_app_data(ssl));
  // The first failure names the cause; the ones it leads to add nothing.
  if (self != nullptr && self->_verify_failure.empty()) {
    self->_verify_failure =
        std::string(X509_verify_cert_error_string(X509_STORE_CTX_get_error(store))) +
        " (certificate subject: " + Subject(X509_STORE_CTX_get_current_cert(store)) + ")";
  }
  return 0;
}

TlsSession::Step TlsSession::Outcome(int result) {
  Step step;
  if (result > 0) {
    step.bytes = static_cast<std::size_t>(result);
    return step;
  }
  const int saved_errno = errno;
  switch (SSL_get_error(_ssl, result)) {
    case SSL_ERROR_WANT_READ:
      step.want = Want::Readable;
      break;
    case SSL_ERROR_WANT_WRITE:
      step.want = Want::Writable;
      break;
    case SSL_ERROR_ZERO_RETURN:
      step.error = boost::asio::error::eof;
      break;
    case SSL_ERROR_SYSCALL:
      step.error = saved_errno != 0
                       ? boost::system::error_code(saved_errno, boost::system::system_category())
                       : boost::system::error_code(boost::asio::error::eof);
      break;
    default:
      step.error = SslError(ERR_get_error());
      if (!step.error) step.error = boost::asio::error::no_protocol_option;
      break;
  }
  ERR_clear_error();
  return step;
}

TlsSession::Step TlsSession::Handshake() {
  ERR_clear_error();
  errno = 0;
  const int result = SSL_connect(_ssl);
  if (result == 1) return Step{};
  Step step = Outcome(result);
  step.bytes = 0;
  return step;
}

TlsSession::Step TlsSession::Read(char* buffer, std::size_t capacity) {
  ERR_clear_error();
  errno = 0;
  return Outcome(
      SSL_read(_ssl, buffer, static_cast<int>(std::min<std::size_t>(capacity, 1 << 30))));
}

TlsSession::Step TlsSession::Write(const char* bytes, std::size_t size) {
  ERR_clear_error();
  errno = 0;
  return Outcome(SSL_write(_ssl, bytes, static_cast<int>(std::min<std::size_t>(size, 1 << 30))));
}

}  // namespace tarno
