// A TCP listener on loopback for tests, every wait bounded.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <optional>
#include <string>

class LoopbackServer {
 public:
  explicit LoopbackServer(const char* address = "127.0.0.1")
      : acceptor_(io_, {boost::asio::ip::make_address(address), 0}) {}

  unsigned short Port() const { return acceptor_.local_endpoint().port(); }

  // The next client, or nothing after `timeout`.
  std::optional<boost::asio::ip::tcp::socket> Accept(
      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::optional<boost::asio::ip::tcp::socket> accepted;
    acceptor_.async_accept(
        [&](const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket) {
          if (!ec) accepted.emplace(std::move(socket));
        });
    io_.restart();
    io_.run_for(timeout);
    if (!accepted) {
      acceptor_.cancel();
      io_.restart();
      io_.run();  // let the cancelled accept finish
    }
    return accepted;
  }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
};
