#include "common/descriptor_calls.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <winsock2.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>

namespace ntrip_host {

namespace {

// Hands `bytes` to `move` (a write or a send) until it is all taken or the descriptor is full.
template <typename Move>
std::size_t MoveWithoutWaiting(std::string_view bytes, int& error, Move move) {
  error = 0;
  std::size_t done = 0;
  while (done < bytes.size()) {
    int failure = 0;
    const long n = move(bytes.data() + done, bytes.size() - done, failure);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && failure == EINTR) {
      continue;
    } else {
      if (n < 0 && failure != EAGAIN && failure != EWOULDBLOCK) error = failure;
      break;
    }
  }
  return done;
}

}  // namespace

#ifdef _WIN32

int DuplicateDescriptor(int fd) {
  const int copy = _dup(fd);
  if (copy >= 0) _setmode(copy, _O_BINARY);
  return copy;
}

void RedirectStdout(int fd) {
  _dup2(fd, _fileno(stdout));
}

int OpenWithoutWaiting(const std::string& path, bool write_too) {
  return _open(path.c_str(), (write_too ? _O_RDWR : _O_RDONLY) | _O_BINARY | _O_NOINHERIT);
}

// Pipes are asked how much they hold before each read (ReadSome): nothing to set.
void MakeReadsNonBlocking(int) {}

long ReadSome(int fd, char* buffer, std::size_t size) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (GetFileType(handle) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    // A pipe whose writer has gone reads as its end.
    if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return 0;
    if (available == 0) {
      errno = EAGAIN;
      return -1;
    }
    size = std::min<std::size_t>(size, available);
  }
  return _read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

std::size_t WriteWithoutWaiting(int fd, std::string_view bytes, int& error) {
  error = 0;
  if (fd < 0) return 0;
  return MoveWithoutWaiting(bytes, error, [fd](const char* data, std::size_t size, int& failure) {
    const int n = _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
    if (n < 0) failure = errno;
    return static_cast<long>(n);
  });
}

std::size_t SendWithoutWaiting(SocketHandle socket, std::string_view bytes, int& error) {
  // Winsock has no per-call flag: the socket itself is switched to non-blocking mode, which
  // the io thread's overlapped writes do not mind.
  u_long non_blocking = 1;
  ioctlsocket(socket, FIONBIO, &non_blocking);
  return MoveWithoutWaiting(bytes, error, [socket](const char* data, std::size_t size,
                                                   int& failure) {
    const int n = ::send(socket, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
    if (n == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      failure = code == WSAEWOULDBLOCK ? EWOULDBLOCK : code == WSAEINTR ? EINTR : EPIPE;
      return -1L;
    }
    return static_cast<long>(n);
  });
}

int DirectPortDescriptor(boost::asio::serial_port&) {
  return -1;
}

std::string SerialDevicePath(const std::string& device) {
  // "COM1" to "COM9" open as they are; any COM port opens under the device namespace.
  const bool com = device.size() > 3 &&
                   (device.compare(0, 3, "COM") == 0 || device.compare(0, 3, "com") == 0) &&
                   std::all_of(device.begin() + 3, device.end(),
                               [](unsigned char c) { return std::isdigit(c) != 0; });
  return com ? "\\\\.\\" + device : device;
}

#else

int DuplicateDescriptor(int fd) {
  return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

void RedirectStdout(int fd) {
  dup2(fd, STDOUT_FILENO);
}

int OpenWithoutWaiting(const std::string& path, bool write_too) {
  return ::open(path.c_str(), (write_too ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

void MakeReadsNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

long ReadSome(int fd, char* buffer, std::size_t size) {
  return static_cast<long>(::read(fd, buffer, size));
}

std::size_t WriteWithoutWaiting(int fd, std::string_view bytes, int& error) {
  error = 0;
  if (fd < 0) return 0;
  return MoveWithoutWaiting(bytes, error, [fd](const char* data, std::size_t size, int& failure) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) failure = errno;
    return static_cast<long>(n);
  });
}

std::size_t SendWithoutWaiting(SocketHandle socket, std::string_view bytes, int& error) {
  return MoveWithoutWaiting(bytes, error, [socket](const char* data, std::size_t size,
                                                   int& failure) {
    const ssize_t n = ::send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) failure = errno;
    return static_cast<long>(n);
  });
}

int DirectPortDescriptor(boost::asio::serial_port& port) {
  const int fd = port.native_handle();
  // Written at once by the caller as far as the port takes it, never waiting for it.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return fd;
}

std::string SerialDevicePath(const std::string& device) {
  return device;
}

#endif

}  // namespace ntrip_host
