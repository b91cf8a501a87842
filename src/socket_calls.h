#pragma once
// The operating system's socket calls behind ClientSocket (BSD sockets on Linux, Winsock on
// Windows), and the wake-up that ends a wait from another thread. Expected failures come back as
// error codes; would_block says "not now", never a failure.
#include <cstddef>
#include <cstdint>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace tarno {

// A socket descriptor (Linux) or handle (Windows), whichever the system gives.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A non-blocking TCP socket that child processes do not inherit.
SocketHandle OpenStreamSocket(const boost::asio::ip::tcp::endpoint& endpoint,
                              boost::system::error_code& error);
// No error when connected at once; would_block while the connect goes on (wait until writable,
// then ask ConnectResult); any other error when it failed.
boost::system::error_code StartConnect(SocketHandle socket,
                                       const boost::asio::ip::tcp::endpoint& endpoint);
boost::system::error_code ConnectResult(SocketHandle socket);
// Bytes sent or received; 0 from ReceiveSome is the end of the stream. On failure 0 and `error`.
std::size_t SendSome(SocketHandle socket, const char* data, std::size_t size,
                     boost::system::error_code& error);
std::size_t ReceiveSome(SocketHandle socket, char* data, std::size_t size,
                        boost::system::error_code& error);
// Both directions: the peer learns at once, and waits on the socket end.
void ShutdownSocket(SocketHandle socket);
boost::system::error_code CloseSocket(SocketHandle socket);

// Signalled once, it stays signalled: every later wait ends at once.
class WakeUp {
 public:
  WakeUp();  // throws std::system_error when the system gives none
  ~WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;

  void Signal();

  enum class Wait { Readable, Writable };
  // Waits at most `milliseconds` for `socket` to be ready. No error when it is (an error or a
  // hang-up counts as ready, for the next call to report); operation_aborted once signalled;
  // would_block when the time ran out.
  boost::system::error_code WaitFor(SocketHandle socket, Wait wait, int milliseconds) const;

 private:
  SocketHandle handle_ = kNoSocket;  // eventfd on Linux, a loopback UDP socket on Windows
};

}  // namespace tarno
