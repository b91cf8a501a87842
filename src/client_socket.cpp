#include "client_socket.h"

#include <boost/asio/error.hpp>

#include "tls_session.h"

namespace tarno {

namespace {

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

ClientSocket::ClientSocket() = default;

ClientSocket::~ClientSocket() {
  Close();
}

bool ClientSocket::IsClosed() const {
  std::scoped_lock lock(_mutex);
  return _closed;
}

bool ClientSocket::IsOpen() const {
  std::scoped_lock lock(_mutex);
  return _connected && !_closed;
}

boost::system::error_code ClientSocket::Poll(SocketHandle fd, Wait wait,
                                             Clock::time_point deadline) const {
  while (true) {
    const auto error = _wake.WaitFor(fd, wait, MillisecondsUntil(deadline));
    if (error != boost::asio::error::would_block) return error;
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
  } else if (!_closed && _fd != kNoSocket) {
    // A closed socket keeps its descriptor until Close, which waits for every use to end.
    CloseSocket(_fd);
    _fd = kNoSocket;
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
  if (error && !_closed && _fd != kNoSocket) {
    _connected = false;
    _tls.reset();
    CloseSocket(_fd);
    _fd = kNoSocket;
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
  SocketHandle fd = kNoSocket;
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
  SocketHandle fd = kNoSocket;
  boost::system::error_code error;
  {
    std::scoped_lock lock(_mutex);
    if (_closed) return boost::asio::error::operation_aborted;
    if (_fd != kNoSocket) {
      CloseSocket(_fd);
      _fd = kNoSocket;
      _connected = false;
    }
    fd = OpenStreamSocket(endpoint, error);
    if (fd == kNoSocket) return error;
    _fd = fd;
    use.Begin();
  }

  error = StartConnect(fd, endpoint);
  if (error == boost::asio::error::would_block) {
    error = Poll(fd, Wait::Writable, deadline);
    if (!error) error = ConnectResult(fd);
  }

  std::scoped_lock lock(_mutex);
  if (!error && _closed) error = boost::asio::error::operation_aborted;
  if (error && !_closed) {
    // A closed socket keeps its descriptor until Close, which waits for this use to end.
    CloseSocket(_fd);
    _fd = kNoSocket;
  }
  return error;
}

boost::system::error_code ClientSocket::WriteAll(std::string_view bytes,
                                                 std::chrono::nanoseconds bound) {
  const auto deadline = Clock::now() + bound;
  Use use(*this);
  SocketHandle fd = kNoSocket;
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
    boost::system::error_code error;
    const std::size_t n = SendSome(fd, bytes.data(), bytes.size(), error);
    bytes.remove_prefix(n);
    if (!error) continue;
    if (error != boost::asio::error::would_block) return error;
    if ((error = Poll(fd, Wait::Writable, deadline))) return error;
  }
  return {};
}

std::size_t ClientSocket::ReadSome(char* buffer, std::size_t capacity, Clock::time_point deadline,
                                   boost::system::error_code& error) {
  error.clear();
  Use use(*this);
  SocketHandle fd = kNoSocket;
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
    const std::size_t n = ReceiveSome(fd, buffer, capacity, error);
    if (error == boost::asio::error::would_block) continue;
    if (!error && n == 0) error = boost::asio::error::eof;
    return n;
  }
}

// The session moves bytes without waiting; the waits stay here, bounded and woken by Close.
boost::system::error_code ClientSocket::WriteAllTls(TlsSession& tls, SocketHandle fd,
                                                    std::string_view bytes,
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

std::size_t ClientSocket::ReadSomeTls(TlsSession& tls, SocketHandle fd, char* buffer,
                                      std::size_t capacity, Clock::time_point deadline,
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
    _wake.Signal();
    if (_fd != kNoSocket) ShutdownSocket(_fd);  // the peer learns at once; outcome not needed
  }
  _idle_cv.wait(lock, [this] { return _users == 0; });
  _connected = false;
  _tls.reset();
  if (_fd == kNoSocket) return {};
  const SocketHandle fd = _fd;
  _fd = kNoSocket;
  return CloseSocket(fd);
}

}  // namespace tarno
