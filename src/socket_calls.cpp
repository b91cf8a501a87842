#include "socket_calls.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <boost/asio/error.hpp>

namespace tarno {

#ifdef _WIN32

namespace {

SOCKET Native(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

boost::system::error_code LastError() {
  return boost::system::error_code(WSAGetLastError(), boost::system::system_category());
}

}  // namespace

SocketHandle OpenStreamSocket(const boost::asio::ip::tcp::endpoint& endpoint,
                              boost::system::error_code& error) {
  const SOCKET s = WSASocketW(endpoint.protocol().family(), SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = LastError();
    return kNoSocket;
  }
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    error = LastError();
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<SocketHandle>(s);
}

boost::system::error_code StartConnect(SocketHandle socket,
                                       const boost::asio::ip::tcp::endpoint& endpoint) {
  if (connect(Native(socket), endpoint.data(), static_cast<int>(endpoint.size())) == 0) return {};
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS) return boost::asio::error::would_block;
  return boost::system::error_code(code, boost::system::system_category());
}

boost::system::error_code ConnectResult(SocketHandle socket) {
  int so_error = 0;
  int length = sizeof so_error;
  if (getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error),
                 &length) != 0)
    return LastError();
  return boost::system::error_code(so_error, boost::system::system_category());
}

std::size_t SendSome(SocketHandle socket, const char* data, std::size_t size,
                     boost::system::error_code& error) {
  const int chunk = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
  const int n = send(Native(socket), data, chunk, 0);
  if (n >= 0) return static_cast<std::size_t>(n);
  error = WSAGetLastError() == WSAEWOULDBLOCK ? boost::asio::error::would_block : LastError();
  return 0;
}

std::size_t ReceiveSome(SocketHandle socket, char* data, std::size_t size,
                        boost::system::error_code& error) {
  const int chunk = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
  const int n = recv(Native(socket), data, chunk, 0);
  if (n >= 0) return static_cast<std::size_t>(n);
  error = WSAGetLastError() == WSAEWOULDBLOCK ? boost::asio::error::would_block : LastError();
  return 0;
}

void ShutdownSocket(SocketHandle socket) {
  shutdown(Native(socket), SD_BOTH);
}

boost::system::error_code CloseSocket(SocketHandle socket) {
  if (closesocket(Native(socket)) != 0) return LastError();
  return {};
}

// Winsock has no eventfd and select waits on sockets only: the wake-up is a UDP socket on
// loopback connected to itself, readable once a datagram was sent to it.
WakeUp::WakeUp() {
  const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET)
    throw std::system_error(WSAGetLastError(), std::system_category(), "wake-up socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int code = WSAGetLastError();
    closesocket(s);
    throw std::system_error(code, std::system_category(), "wake-up socket");
  }
  handle_ = static_cast<SocketHandle>(s);
}

WakeUp::~WakeUp() {
  closesocket(Native(handle_));
}

void WakeUp::Signal() {
  // The datagram stays unread, so the socket stays readable for every later wait.
  const char one = 1;
  send(Native(handle_), &one, 1, 0);
}

boost::system::error_code WakeUp::WaitFor(SocketHandle socket, Wait wait, int milliseconds) const {
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(handle_), &readable);
  if (wait == Wait::Readable) {
    FD_SET(Native(socket), &readable);
  } else {
    FD_SET(Native(socket), &writable);
    FD_SET(Native(socket), &failed);  // where a refused connect shows
  }
  timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
  const int n = select(0, &readable, &writable, &failed, &timeout);
  if (n < 0) return LastError();
  if (FD_ISSET(Native(handle_), &readable)) return boost::asio::error::operation_aborted;
  if (n > 0) return {};
  return boost::asio::error::would_block;
}

#else

namespace {

boost::system::error_code LastError() {
  return boost::system::error_code(errno, boost::system::system_category());
}

int Native(SocketHandle socket) {
  return static_cast<int>(socket);
}

}  // namespace

SocketHandle OpenStreamSocket(const boost::asio::ip::tcp::endpoint& endpoint,
                              boost::system::error_code& error) {
  const int fd = ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          IPPROTO_TCP);
  if (fd < 0) {
    error = LastError();
    return kNoSocket;
  }
  return fd;
}

boost::system::error_code StartConnect(SocketHandle socket,
                                       const boost::asio::ip::tcp::endpoint& endpoint) {
  if (::connect(Native(socket), endpoint.data(), static_cast<socklen_t>(endpoint.size())) == 0)
    return {};
  if (errno == EINPROGRESS) return boost::asio::error::would_block;
  return LastError();
}

boost::system::error_code ConnectResult(SocketHandle socket) {
  int so_error = 0;
  socklen_t length = sizeof so_error;
  if (::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, &so_error, &length) != 0)
    return LastError();
  return boost::system::error_code(so_error, boost::system::system_category());
}

std::size_t SendSome(SocketHandle socket, const char* data, std::size_t size,
                     boost::system::error_code& error) {
  while (true) {
    // MSG_NOSIGNAL: a caster that went away is an error to report, not a SIGPIPE.
    const ssize_t n = ::send(Native(socket), data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    error = errno == EAGAIN || errno == EWOULDBLOCK ? boost::asio::error::would_block : LastError();
    return 0;
  }
}

std::size_t ReceiveSome(SocketHandle socket, char* data, std::size_t size,
                        boost::system::error_code& error) {
  while (true) {
    const ssize_t n = ::recv(Native(socket), data, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    error = errno == EAGAIN || errno == EWOULDBLOCK ? boost::asio::error::would_block : LastError();
    return 0;
  }
}

void ShutdownSocket(SocketHandle socket) {
  ::shutdown(Native(socket), SHUT_RDWR);
}

boost::system::error_code CloseSocket(SocketHandle socket) {
  if (::close(Native(socket)) != 0) return LastError();
  return {};
}

WakeUp::WakeUp() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::system_category(), "eventfd");
  handle_ = fd;
}

WakeUp::~WakeUp() {
  ::close(Native(handle_));
}

void WakeUp::Signal() {
  const std::uint64_t one = 1;
  // An eventfd counter cannot overflow from one write; the result is not needed.
  [[maybe_unused]] const ssize_t written = ::write(Native(handle_), &one, sizeof one);
}

boost::system::error_code WakeUp::WaitFor(SocketHandle socket, Wait wait, int milliseconds) const {
  pollfd fds[2] = {
      {Native(socket), static_cast<short>(wait == Wait::Readable ? POLLIN : POLLOUT), 0},
      {Native(handle_), POLLIN, 0}};
  const int n = ::poll(fds, 2, milliseconds);
  if (n < 0) return errno == EINTR ? boost::asio::error::would_block : LastError();
  if (fds[1].revents != 0) return boost::asio::error::operation_aborted;
  // Errors and hang-ups are left for the following call to report with their own code.
  if (fds[0].revents != 0) return {};
  return boost::asio::error::would_block;
}

#endif

}  // namespace tarno
