// One client of the replay caster: reads its request, answers, streams the recording and keeps
// reading the client's GGA updates. Runs only on the caster's serving thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>

#include "gga_log.h"
#include "record_book.h"
#include "replay_caster.h"
#include "stream_coding.h"

namespace caster {

// What every connection shares; owned by the caster and outliving its connections.
struct ServeContext {
  CasterOptions options;
  std::vector<std::vector<std::size_t>> unit_ends;  // per mount: whole-frame boundaries
  RecordBook book;
  std::unique_ptr<GgaLog> gga_log;
  std::unique_ptr<boost::asio::ssl::context> tls;  // set: connections are TLS
};

class CasterConnection : public std::enable_shared_from_this<CasterConnection> {
 public:
  CasterConnection(boost::asio::ip::tcp::socket socket, ServeContext& context, std::size_t index);
  void Start();
  void Abort();  // closes at once; every pending operation ends

 private:
  enum class Phase { Request, Answered, Draining };
  enum class Then { Stream, Continue, Finish, Endless };  // what follows an answer

  void Read();
  // Over TLS when the caster serves it, plain TCP otherwise.
  template <class Buffers, class Handler>
  void AsyncWrite(const Buffers& buffers, Handler&& handler);
  void OnRead(const boost::system::error_code& ec, std::size_t n);
  void OnRequestBytes(std::string_view bytes);
  void HandleRequest(std::string_view block);
  // The sourcetable in the form of the request's version, coded as the streams are.
  std::string Sourcetable() const;
  void ScanUpdates(std::string_view bytes);
  void RecordGga(const std::string& sentence, std::string_view where);

  void WriteAnswer(std::string answer, Then then);
  // Writes out_head_ within the write bound; `then` runs once it is out. A failed write closes
  // the connection.
  void WriteHead(std::function<void()> then);
  void NextPiece();
  void WritePiece(std::string payload);
  void NextFiller();
  void Finish(bool end_chunked_stream);
  void Close(bool reset);
  void ArmGuard(std::chrono::milliseconds bound);
  void DisarmGuard() {
    ++guard_generation_;
    guard_timer_.cancel();
  }

  std::string NextPayload(std::size_t size);
  std::chrono::steady_clock::time_point DueTime() const;

  boost::asio::ip::tcp::socket socket_;
  std::unique_ptr<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> tls_;
  boost::asio::steady_timer pace_timer_;
  boost::asio::steady_timer guard_timer_;
  std::uint64_t guard_generation_ = 0;
  ServeContext& context_;
  const std::size_t index_;
  std::string peer_;

  Phase phase_ = Phase::Request;
  bool closed_ = false;
  std::array<char, 4096> read_buffer_{};
  std::string request_data_;
  std::string pending_line_;

  const MountPoint* mount_ = nullptr;
  const std::vector<std::size_t>* unit_ends_ = nullptr;
  bool ntrip2_ = false;
  bool chunked_ = false;
  std::size_t served_ = 0;
  std::size_t position_ = 0;  // offset in the recording of the next byte to serve
  std::string live_bytes_;    // with live_time: this pass over the recording, re-timed
  std::size_t filler_lines_ = 0;
  std::chrono::steady_clock::time_point stream_start_;
  std::mt19937 garbage_rng_;
  std::string answer_prefix_;  // a 200 answer that leaves with the first stream bytes
  std::string out_head_, out_payload_, out_tail_;
  std::unique_ptr<StreamCompressor> compressor_;  // set when the stream leaves compressed
  std::string out_coded_;                         // the coded form of out_payload_
};

}  // namespace caster
