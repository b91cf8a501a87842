#pragma once
// The client's TCP socket: every wait bounded, and a close from any thread that ends the waits
// of the others at once. Reads and writes run without a lock while a close may come from another
// thread, so the descriptor is released only when no operation uses it any more.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include "socket_calls.h"

namespace tarno {

class TlsContext;
class TlsSession;

class ClientSocket {
 public:
  using Clock = std::chrono::steady_clock;

  ClientSocket();  // closed; throws std::system_error when no wake-up can be made
  ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  // Makes every later connection TLS: the handshake, verified against the context, follows the
  // TCP connect. Call before Connect.
  void UseTls(std::shared_ptr<TlsContext> context);

  // Tries the endpoints in order, each connect bounded by what is left of `bound`; a TLS
  // handshake then has a bound of its own, as long. The error is that of the last attempt
  // (timed_out when a bound ran out).
  boost::system::error_code Connect(const boost::asio::ip::tcp::resolver::results_type& endpoints,
                                    std::chrono::nanoseconds bound);
  // The two steps of Connect apart, for a tunnel that is opened between them: the TCP connect
  // alone (reads and writes then go in the clear), then the TLS handshake when the socket uses
  // TLS (nothing otherwise). A failed handshake leaves the socket unconnected.
  boost::system::error_code ConnectPlain(
      const boost::asio::ip::tcp::resolver::results_type& endpoints,
      std::chrono::nanoseconds bound);
  boost::system::error_code StartTls(std::chrono::nanoseconds bound);

  // Sends every byte or fails; timed_out after `bound`.
  boost::system::error_code WriteAll(std::string_view bytes, std::chrono::nanoseconds bound);

  // Waits until `deadline` for at least one byte and reads at most `capacity`. The end of the
  // stream is the eof error, never a read of zero bytes; operation_aborted after Close.
  std::size_t ReadSome(char* buffer, std::size_t capacity, Clock::time_point deadline,
                       boost::system::error_code& error);

  // Ends every wait in progress at once (they report operation_aborted), then closes the
  // descriptor once they have left. For good: a closed socket is never opened again. Returns the
  // error the close reported; closing a socket that was never opened reports none.
  boost::system::error_code Close();

  bool IsOpen() const;
  // True from the first Close on.
  bool IsClosed() const;

  // Why the last Connect failed TLS verification: OpenSSL's reason and the certificate's
  // subject. Empty when it did not fail that way.
  std::string TlsFailure() const;

 private:
  class Use;  // one read, write or connect in progress
  using Wait = WakeUp::Wait;
  // Waits for the socket or the wake-up; no error when the socket is ready.
  boost::system::error_code Poll(SocketHandle fd, Wait wait, Clock::time_point deadline) const;
  boost::system::error_code ConnectOne(const boost::asio::ip::tcp::endpoint& endpoint,
                                       Clock::time_point deadline);
  boost::system::error_code Handshake(Clock::time_point deadline);
  boost::system::error_code WriteAllTls(TlsSession& tls, SocketHandle fd, std::string_view bytes,
                                        Clock::time_point deadline);
  std::size_t ReadSomeTls(TlsSession& tls, SocketHandle fd, char* buffer, std::size_t capacity,
                          Clock::time_point deadline, boost::system::error_code& error);

  mutable std::mutex _mutex;
  std::condition_variable _idle_cv;
  SocketHandle _fd = kNoSocket;
  bool _connected = false;
  bool _closed = false;
  int _users = 0;
  WakeUp _wake;                              // signalled by the first Close
  std::shared_ptr<TlsContext> _tls_context;  // set before Connect, then only read
  // The session of the connection; released by Close once no operation uses it.
  std::unique_ptr<TlsSession> _tls;
  std::mutex _tls_mutex;  // never held across a wait
  std::string _tls_failure;
};

}  // namespace tarno
