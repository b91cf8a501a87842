#include "client_socket.h"

#include <cerrno>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/error.hpp>

#include "tls_session.h"

namespace tarno {

namespace {

boost::system::error_code LastError() {
  return boost::system::error_code(errno, boost::system::system_category());
}

int MillisecondsUntil(ClientSocket::Clock::time_point deadline) {
  const auto left = deadline - ClientSocket::Clock::now();
  if (left <= std::chrono::nanoseconds::zero()) return 0;
  // Round up so a wait never ends just before its deadline and spins.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 60'000 ? 60'000 : static_cast<int>(ms);
}

}  // namespace

// Registers an operation so that Close waits for it before it releases the descriptor.
class ClientSocket::Use {
 public:
  explicit Use(ClientSocket& socket) : _socket(socket) {}
  ~Use() {
    if (!_active) return;
    std::scoped_lock lock(_socket._mutex);
    if (--_socket._users == 0) _socket._idle_cv.notify_all();
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  // Caller holds _mutex.
  void Begin() {
    ++_socket._users;
    _active = true;
  }

 private:
  ClientSocket& _socket;
  bool _active = false;
};

ClientSocket::ClientSocket() {
  _wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (_wake_fd < 0) throw std::system_error(errno, std::system_category(), "eventfd");
}

ClientSocket::~ClientSocket() {
  Close();
  ::close(_wake_fd);
}

bool ClientSocket::IsClosed() const {
  std::scoped_lock lock(_mutex);
  return _closed;
}

bool ClientSocket::IsOpen() const {
  std::scoped_lock lock(_mutex);
  return _connected && !_closed;
}

boost::system::error_code ClientSocket::Poll(int fd, Wait wait, Clock::time_point deadline) const {
  pollfd fds[2] = {{fd, static_cast<short>(wait == Wait::Readable ? POLLIN : POLLOUT), 0},
                   {_wake_fd, POLLIN, 0}};
  while (true) {
    const int n = ::poll(fds, 2, MillisecondsUntil(deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (fds[1].revents != 0) return boost::asio::error::operation_aborted;
    // Errors and hang-ups are left for the following call to report with their own code.
    if (fds[0].revents != 0) return {};
    if (Clock::now() >= deadline) return boost::asio::error::timed_out;
  }
}

boost::system::error_code ClientSocket::Connect(
    const boost::asio::ip::tcp::resolver::results_type& endpoints, std::chrono::nanoseconds bound) {
  boost::system::error_code error = ConnectPlain(endpoints, bound);
  if (!error) error = StartTls(bound);
  return error;
}

boost::system::error_code ClientSocket::ConnectPlain(
    const boost::asio::ip::tcp::resolver::results_type& endpoints, std::chrono::nanoseconds bound) {
  const auto deadline = Clock::now() + bound;
  boost::system::error_code error = boost::asio::error::host_not_found;
  for (const auto& entry : endpoints) {
    error = ConnectOne(entry.endpoint(), deadline);
    if (!error || error == boost::asio::error::operation_aborted ||
        error == boost::asio::error::timed_out) {
      break;
    }
  }

  std::scoped_lock lock(_mutex);
  if (_closed) error = boost::asio::error::operation_aborted;
  if (!error) {
    _connected = true;
  } else if (!_closed && _fd >= 0) {
    // A closed socket keeps its descriptor until Close, which waits for every use to end.
    ::close(_fd);
    _fd = -1;
  }
  return error;
}

boost::system::error_code ClientSocket::StartTls(std::chrono::nanoseconds bound) {
  {
    std::scoped_lock lock(_mutex);
    if (!_tls_context) return {};
  }
  boost::system::error_code error = Handshake(Clock::now() + bound);

  std::scoped_lock lock(_mutex);
  // A close ends the handshake whatever step it reached, and says so.
  if (_closed) error = boost::asio::error::operation_aborted;
  if (error && !_closed && _fd >= 0) {
    _connected = false;
    _tls.reset();
    ::close(_fd);
    _fd = -1;
  }
  return error;
}

void ClientSocket::UseTls(std::shared_ptr<TlsContext> context) {
  std::scoped_lock lock(_mutex);
  _tls_context = std::move(context);
}

std::string ClientSocket::TlsFailure() const {
  std::scoped_lock lock(_mutex);
  return _tls_failure;
}

boost::system::error_code ClientSocket::Handshake(Clock::time_point deadline) {
  Use use(*this);
  int fd = -1;
  {
    std::scoped_lock lock(_mutex);
    if (_closed) return boost::asio::error::operation_aborted;
    fd = _fd;
    use.Begin();
  }
  boost::system::error_code error;
  auto session = std::make_unique<TlsSession>(*_tls_context, fd, error);
  if (error) return error;
  TlsSession* tls = session.get();
  {
    std::scoped_lock lock(_mutex);
    _tls = std::move(session);
  }
  while (true) {
    TlsSession::Step step;
    {
      std::scoped_lock lock(_tls_mutex);
      step = tls->Handshake();
    }
    if (step.error) {
      std::scoped_lock lock(_mutex);
      _tls_failure = tls->verify_failure();
      return step.error;
    }
    if (step.want == TlsSession::Want::Nothing) return {};
    if (const auto e =
            Poll(fd, step.want == TlsSession::Want::Writable ? Wait::Writable : Wait::Readable,
                 deadline))
      return e;
  }
}

boost::system::error_code ClientSocket::ConnectOne(const boost::asio::ip::tcp::endpoint& endpoint,
                                                   Clock::time_point deadline) {
  Use use(*this);
  int fd = -1;
  {
    std::scoped_lock lock(_mutex);
    if (_closed) return boost::asio::error::operation_aborted;
    if (_fd >= 0) {
      ::close(_fd);
      _fd = -1;
      _connected = false;
    }
    fd = ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                  IPPROTO_TCP);
    if (fd < 0) return LastError();
    _fd = fd;
    use.Begin();
  }

  boost::system::error_code error;
  if (::connect(fd, endpoint.data(), static_cast<socklen_t>(endpoint.size())) != 0) {
    if (errno != EINPROGRESS) {
      error = LastError();
    } else {
      error = Poll(fd, Wait::Writable, deadline);
      if (!error) {
        int so_error = 0;
        socklen_t length = sizeof so_error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &length) != 0) {
          error = LastError();
        } else if (so_error != 0) {
          error = boost::system::error_code(so_error, boost::system::system_category());
        }
      }
    }
  }

  std::scoped_lock lock(_mutex);
  if (!error && _closed) error = boost::asio::error::operation_aborted;
  if (error && !_closed) {
    // A closed socket keeps its descriptor until Close, which waits for this use to end.
    ::close(_fd);
    _fd = -1;
  }
  return error;
}

boost::system::error_code ClientSocket::WriteAll(std::string_view bytes,
                                                 std::chrono::nanoseconds bound) {
  const auto deadline = Clock::now() + bound;
  Use use(*this);
  int fd = -1;
  TlsSession* tls = nullptr;
  {
    std::scoped_lock lock(_mutex);
    if (_closed) return boost::asio::error::operation_aborted;
    if (!_connected) return boost::asio::error::not_connected;
    fd = _fd;
    tls = _tls.get();
    use.Begin();
  }
  if (tls != nullptr) return WriteAllTls(*tls, fd, bytes, deadline);
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a caster that went away is an error to report, not a SIGPIPE.
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return LastError();
    if (const auto error = Poll(fd, Wait::Writable, deadline)) return error;
  }
  return {};
}

std::size_t ClientSocket::ReadSome(char* buffer, std::size_t capacity, Clock::time_point deadline,
                                   boost::system::error_code& error) {
  error.clear();
  Use use(*this);
  int fd = -1;
  TlsSession* tls = nullptr;
  {
    std::scoped_lock lock(_mutex);
    if (_closed) {
      error = boost::asio::error::operation_aborted;
      return 0;
    }
    if (!_connected) {
      error = boost::asio::error::not_connected;
      return 0;
    }
    fd = _fd;
    tls = _tls.get();
    use.Begin();
  }
  if (tls != nullptr) return ReadSomeTls(*tls, fd, buffer, capacity, deadline, error);
  while (true) {
    // Look at the wake-up first: after a close, data still buffered is not handed out.
    if ((error = Poll(fd, Wait::Readable, deadline))) return 0;
    const ssize_t n = ::recv(fd, buffer, capacity, 0);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
      error = boost::asio::error::eof;
      return 0;
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    error = LastError();
    return 0;
  }
}

// The session moves bytes without waiting; the waits stay here, bounded and woken by Close.
boost::system::error_code ClientSocket::WriteAllTls(TlsSession& tls, int fd, std::string_view bytes,
                                                    Clock::time_point deadline) {
  while (!bytes.empty()) {
    TlsSession::Step step;
    {
      std::scoped_lock lock(_tls_mutex);
      step = tls.Write(bytes.data(), bytes.size());
    }
    if (step.error) return step.error;
    bytes.remove_prefix(step.bytes);
    if (step.want == TlsSession::Want::Nothing) continue;
    if (const auto error =
            Poll(fd, step.want == TlsSession::Want::Writable ? Wait::Writable : Wait::Readable,
                 deadline))
      return error;
  }
  return {};
}

std::size_t ClientSocket::ReadSomeTls(TlsSession& tls, int fd, char* buffer, std::size_t capacity,
                                      Clock::time_point deadline,
                                      boost::system::error_code& error) {
  while (true) {
    {
      // After a close, bytes the session still holds are not handed out.
      std::scoped_lock lock(_mutex);
      if (_closed) {
        error = boost::asio::error::operation_aborted;
        return 0;
      }
    }
    TlsSession::Step step;
    {
      std::scoped_lock lock(_tls_mutex);
      step = tls.Read(buffer, capacity);
    }
    if (step.bytes > 0) return step.bytes;
    if ((error = step.error)) return 0;
    if ((error = Poll(fd, step.want == TlsSession::Want::Writable ? Wait::Writable : Wait::Readable,
                      deadline)))
      return 0;
  }
}

boost::system::error_code ClientSocket::Close() {
  std::unique_lock lock(_mutex);
  if (!_closed) {
    _closed = true;
    const std::uint64_t one = 1;
    // An eventfd counter cannot overflow from one write; the result is not needed.
    [[maybe_unused]] const ssize_t written = ::write(_wake_fd, &one, sizeof one);
    if (_fd >= 0) ::shutdown(_fd, SHUT_RDWR);  // the peer learns at once; outcome not needed
  }
  _idle_cv.wait(lock, [this] { return _users == 0; });
  _connected = false;
  _tls.reset();
  if (_fd < 0) return {};
  const int fd = _fd;
  _fd = -1;
  if (::close(fd) != 0) return LastError();
  return {};
}

}  // namespace tarno
