// The platform's calls on descriptors, sockets and ports that the program's inputs and outputs
// need, one function per job. Errors come back as errno values.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/serial_port.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace ntrip_host {

using SocketHandle = boost::asio::ip::tcp::socket::native_handle_type;

// A copy of `fd` that child processes do not inherit; -1 on failure.
int DuplicateDescriptor(int fd);
// Makes `fd` standard output's new target: what else prints to standard output goes there.
void RedirectStdout(int fd);
// Opens `path` for reading (and writing too with `write_too`) without waiting for a FIFO's other
// end; -1 on failure.
int OpenWithoutWaiting(const std::string& path, bool write_too);
// Reads of `fd` never wait from now on.
void MakeReadsNonBlocking(int fd);
// Up to `size` bytes; 0 at the end; -1 with errno EAGAIN when a pipe holds nothing now.
long ReadSome(int fd, char* buffer, std::size_t size);

// Writes what a non-blocking descriptor takes of `bytes` without waiting; the count written.
// `error` is the errno of a failure other than a full descriptor, 0 otherwise.
std::size_t WriteWithoutWaiting(int fd, std::string_view bytes, int& error);
// The same for a socket: never waits, never raises SIGPIPE.
std::size_t SendWithoutWaiting(SocketHandle socket, std::string_view bytes, int& error);

// The descriptor through which an open port is written at once without waiting; -1 where the
// platform has none, and the port is then written by its io thread alone.
int DirectPortDescriptor(boost::asio::serial_port& port);
// The name the platform opens for a port given as `device` ("COM12" is "\\.\COM12" on Windows).
std::string SerialDevicePath(const std::string& device);

}  // namespace ntrip_host
