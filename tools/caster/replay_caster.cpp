#include "replay_caster.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <list>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>

#include "caster_connection.h"
#include "rtcm_frames.h"

namespace caster {

namespace asio = boost::asio;
using boost::asio::ip::tcp;

namespace {

// Names a file that exists but is not a regular one, before anything opens it.
void RefuseUnlessRegular(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw std::runtime_error(path + " is not a regular file");
  }
}

}  // namespace

struct ReplayCaster::Impl {
  explicit Impl(CasterOptions options) : acceptor(io) {
    context.options = std::move(options);
    for (const auto& mount : context.options.mounts) {
      context.unit_ends.push_back(FrameUnitEnds(mount.bytes));
    }
    const CasterOptions& o = context.options;
    if (o.tls_cert_file.empty() != o.tls_key_file.empty()) {
      throw std::invalid_argument("TLS needs both a certificate and a key file");
    }
    if (!o.tls_cert_file.empty()) {
      RefuseUnlessRegular(o.tls_cert_file);
      RefuseUnlessRegular(o.tls_key_file);
      context.tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
      context.tls->use_certificate_chain_file(o.tls_cert_file);
      context.tls->use_private_key_file(o.tls_key_file, asio::ssl::context::pem);
    }
    if (!context.options.gga_log_path.empty()) {
      context.gga_log = std::make_unique<GgaLog>(context.options.gga_log_path);
    }
    const tcp::endpoint endpoint(asio::ip::make_address(context.options.listen_address),
                                 context.options.port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen();
    port = acceptor.local_endpoint().port();
    Accept();
    thread = std::thread([this] { Serve(); });
  }

  void Serve() {
    for (;;) {
      try {
        io.run();
        return;
      } catch (const std::exception& e) {  // a handler failed: keep serving the others
        std::cerr << "ntrip-replay-caster: " << e.what() << '\n';
      }
    }
  }

  void Accept() {
    acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
      if (stopping) return;
      if (!ec) {
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        live.remove_if([](const std::weak_ptr<CasterConnection>& c) { return c.expired(); });
        const std::size_t index = context.book.Add();
        auto connection = std::make_shared<CasterConnection>(std::move(socket), context, index);
        live.push_back(connection);
        connection->Start();
      }
      Accept();
    });
  }

  void Stop() {
    {
      std::scoped_lock lock(stop_mutex);
      if (stopped) return;
      stopped = true;
    }
    asio::post(io, [this] {
      stopping = true;
      boost::system::error_code ignored;
      acceptor.close(ignored);
      for (auto& weak : live) {
        if (auto connection = weak.lock()) connection->Abort();
      }
    });
    if (thread.joinable()) thread.join();
    context.book.CloseAll();
  }

  ServeContext context;
  asio::io_context io;
  tcp::acceptor acceptor;
  std::uint16_t port = 0;
  bool stopping = false;                            // serving thread only
  std::list<std::weak_ptr<CasterConnection>> live;  // serving thread only
  std::mutex stop_mutex;
  bool stopped = false;
  std::thread thread;
};

ReplayCaster::ReplayCaster(CasterOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

ReplayCaster::~ReplayCaster() {
  Stop();
}

std::uint16_t ReplayCaster::Port() const {
  return impl_->port;
}

void ReplayCaster::Stop() {
  impl_->Stop();
}

std::size_t ReplayCaster::ConnectionCount() const {
  return impl_->context.book.Count();
}

ConnectionRecord ReplayCaster::Connection(std::size_t index) const {
  return impl_->context.book.Snapshot(index);
}

bool ReplayCaster::WaitUntil(const std::function<bool(const ReplayCaster&)>& pred,
                             std::chrono::milliseconds deadline) const {
  return impl_->context.book.WaitUntil([&] { return pred(*this); }, deadline);
}

std::string ReadFileBytes(const std::string& path) {
  // A FIFO would hold the open until a writer comes, a device could be endless, a directory
  // reads as nothing: a recording is a regular file of a bounded size, held in memory.
  constexpr std::uintmax_t kLargest = 256u << 20;
  RefuseUnlessRegular(path);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > kLargest) {
    throw std::runtime_error(path + " is larger than 256 MiB");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (file.bad()) throw std::runtime_error("cannot read " + path);
  return bytes.str();
}

}  // namespace caster
