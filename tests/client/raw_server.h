#pragma once
// A one-connection loopback server that answers the request with fixed bytes in one write, for
// the answers whose exact shape on the wire matters (the replay caster chooses its own writes).
#include <boost/asio.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace client_test {

class RawServer {
 public:
  RawServer(std::string answer, bool close_after_answer, const std::string& address = "127.0.0.1")
      : _answer(std::move(answer)),
        _close_after_answer(close_after_answer),
        _acceptor(_io, {boost::asio::ip::make_address(address), 0}) {
    _acceptor.async_accept(_socket, [this](boost::system::error_code error) {
      if (!error) ReadRequest();
    });
    _port = std::to_string(_acceptor.local_endpoint().port());
    _thread = std::thread([this] { _io.run(); });
  }
  ~RawServer() {
    _io.stop();
    _thread.join();
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  std::string Port() const { return _port; }

  // Every byte the client sent so far, once the request has come (empty after the deadline).
  std::string Received(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    std::unique_lock lock(_mutex);
    _cv.wait_for(lock, deadline, [this] { return _request_done; });
    return _received;
  }

 private:
  void ReadRequest() {
    boost::asio::async_read_until(
        _socket, _buffer, "\r\n\r\n", [this](boost::system::error_code error, std::size_t) {
          if (error) return;
          Append();
          {
            std::scoped_lock lock(_mutex);
            _request_done = true;
          }
          _cv.notify_all();
          boost::asio::async_write(_socket, boost::asio::buffer(_answer),
                                   [this](boost::system::error_code e, std::size_t) {
                                     if (e) return;
                                     if (_close_after_answer) {
                                       _socket.close();
                                     } else {
                                       Drain();
                                     }
                                   });
        });
  }
  void Drain() {
    boost::asio::async_read(_socket, _buffer, boost::asio::transfer_at_least(1),
                            [this](boost::system::error_code error, std::size_t) {
                              if (error) return;
                              Append();
                              Drain();
                            });
  }
  void Append() {
    std::string bytes(boost::asio::buffers_begin(_buffer.data()),
                      boost::asio::buffers_end(_buffer.data()));
    _buffer.consume(bytes.size());
    std::scoped_lock lock(_mutex);
    _received += bytes;
  }

  std::string _answer;
  bool _close_after_answer;
  boost::asio::io_context _io;
  boost::asio::ip::tcp::acceptor _acceptor;
  boost::asio::ip::tcp::socket _socket{_io};
  boost::asio::streambuf _buffer;
  std::string _port;
  std::thread _thread;
  std::mutex _mutex;
  std::condition_variable _cv;
  bool _request_done = false;
  std::string _received;
};

}  // namespace client_test
