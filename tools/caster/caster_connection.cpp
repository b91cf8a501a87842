#include "caster_connection.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>

#include "live_time.h"
#include "protocol.h"

namespace caster {

namespace asio = boost::asio;
using boost::asio::ip::tcp;

namespace {

constexpr std::size_t kMaxRequestBytes = 16 * 1024;
constexpr std::size_t kMaxPendingLine = 16 * 1024;
constexpr std::size_t kFastPiece = 64 * 1024;
constexpr std::size_t kGarbageUnit = 256;
constexpr double kDefaultRate = 1000.0;  // bytes per second of the default whole-frame pacing
constexpr auto kWriteBound = std::chrono::seconds(30);
constexpr auto kDrainBound = std::chrono::seconds(2);

std::string PeerText(const tcp::socket& socket) {
  boost::system::error_code ec;
  const auto endpoint = socket.remote_endpoint(ec);
  if (ec) return "?";
  const auto address = endpoint.address();
  const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
  return host + ":" + std::to_string(endpoint.port());
}

}  // namespace

CasterConnection::CasterConnection(tcp::socket socket, ServeContext& context, std::size_t index)
    : socket_(std::move(socket)),
      pace_timer_(socket_.get_executor()),
      guard_timer_(socket_.get_executor()),
      context_(context),
      index_(index),
      peer_(PeerText(socket_)),
      garbage_rng_(static_cast<std::mt19937::result_type>(index + 1)) {
  if (context_.tls) {
    tls_ = std::make_unique<asio::ssl::stream<tcp::socket&>>(socket_, *context_.tls);
  }
}

void CasterConnection::Start() {
  context_.book.Update(index_, [&](ConnectionRecord& r) {
    r.peer = peer_;
    r.accepted = std::chrono::steady_clock::now();
  });
  // The request bound covers the handshake too: a client that never finishes it is dropped.
  ArmGuard(context_.options.request_timeout);
  if (!tls_) {
    Read();
    return;
  }
  tls_->async_handshake(asio::ssl::stream_base::server,
                        [self = shared_from_this()](const boost::system::error_code& ec) {
                          if (self->closed_) return;
                          if (ec) {
                            self->Close(false);
                            return;
                          }
                          self->Read();
                        });
}

template <class Buffers, class Handler>
void CasterConnection::AsyncWrite(const Buffers& buffers, Handler&& handler) {
  if (tls_) {
    asio::async_write(*tls_, buffers, std::forward<Handler>(handler));
  } else {
    asio::async_write(socket_, buffers, std::forward<Handler>(handler));
  }
}

void CasterConnection::Abort() {
  Close(false);
}

void CasterConnection::Read() {
  if (closed_) return;
  auto handler = [self = shared_from_this()](const boost::system::error_code& ec, std::size_t n) {
    self->OnRead(ec, n);
  };
  if (tls_) {
    tls_->async_read_some(asio::buffer(read_buffer_), std::move(handler));
  } else {
    socket_.async_read_some(asio::buffer(read_buffer_), std::move(handler));
  }
}

void CasterConnection::OnRead(const boost::system::error_code& ec, std::size_t n) {
  if (closed_) return;
  if (ec) {  // the client went away, or the drain after our last byte is over
    Close(false);
    return;
  }
  const std::string_view bytes(read_buffer_.data(), n);
  context_.book.Update(index_, [&](ConnectionRecord& r) { r.received.append(bytes); });
  if (phase_ == Phase::Request) {
    OnRequestBytes(bytes);
  } else {
    ScanUpdates(bytes);
  }
  Read();
}

void CasterConnection::OnRequestBytes(std::string_view bytes) {
  request_data_.append(bytes);
  std::size_t end = FindHeaderEnd(request_data_);
  if (end == std::string::npos || end > kMaxRequestBytes) {
    if (request_data_.size() > kMaxRequestBytes) Close(false);
    return;
  }
  // The client's GGA header ends with the sentence's own CR LF: the empty lines that follow
  // in the same transfer still belong to the request.
  while (true) {
    if (request_data_.compare(end, 2, "\r\n") == 0) {
      end += 2;
    } else if (request_data_.compare(end, 1, "\n") == 0) {
      end += 1;
    } else {
      break;
    }
  }
  const std::string rest = request_data_.substr(end);
  request_data_.resize(end);
  HandleRequest(request_data_);
  ScanUpdates(rest);
}

void CasterConnection::HandleRequest(std::string_view block) {
  phase_ = Phase::Answered;
  DisarmGuard();
  const Request request = ParseRequest(block);
  ntrip2_ = request.ntrip2;
  context_.book.Update(index_, [&](ConnectionRecord& r) { r.request = std::string(block); });
  for (const auto& sentence : request.gga) RecordGga(sentence, "header");

  const CasterOptions& options = context_.options;
  switch (options.fault.mode) {
    case FaultMode::NeverAnswer:
      return;
    case FaultMode::StatusLine:
      WriteAnswer(options.fault.status_line + "\r\n\r\n", Then::Finish);
      return;
    case FaultMode::EndlessHeaders:
      WriteAnswer(EndlessHeadersStart(ntrip2_), Then::Endless);
      return;
    case FaultMode::Sourcetable:
      WriteAnswer(Sourcetable(), Then::Finish);
      return;
    case FaultMode::Ntrip1Only:
      if (ntrip2_) {
        WriteAnswer("HTTP/1.1 400 Bad Request\r\n\r\n", Then::Finish);
        return;
      }
      break;
    default:
      break;
  }
  if (!request.valid) {
    WriteAnswer(ErrorAnswer(ntrip2_, 400, "Bad Request", ""), Then::Finish);
    return;
  }
  std::string_view name = request.target;
  if (!name.empty() && name.front() == '/') name.remove_prefix(1);
  if (name.empty()) {
    WriteAnswer(Sourcetable(), Then::Finish);
    return;
  }
  const auto found = std::find_if(options.mounts.begin(), options.mounts.end(),
                                  [&](const MountPoint& m) { return m.name == name; });
  if (found == options.mounts.end()) {
    // NTRIP 1.0 clients expect the sourcetable for a mount point the caster does not know.
    WriteAnswer(ntrip2_ ? ErrorAnswer(true, 404, "Not Found", name) : Sourcetable(), Then::Finish);
    return;
  }
  if (!options.user.empty() &&
      !CredentialsMatch(request.authorization, options.user, options.password)) {
    WriteAnswer(ErrorAnswer(ntrip2_, 401, "Unauthorized", name), Then::Finish);
    return;
  }
  mount_ = &*found;
  unit_ends_ = &context_.unit_ends[static_cast<std::size_t>(found - options.mounts.begin())];
  if (options.fault.mode == FaultMode::Answer) {
    WriteAnswer(options.fault.status_line, Then::Stream);
    return;
  }
  chunked_ = ntrip2_ && options.chunked;
  const StreamCoding coding = ntrip2_ ? options.coding : StreamCoding::None;
  if (coding != StreamCoding::None) compressor_ = std::make_unique<StreamCompressor>(coding);
  WriteAnswer(StreamAnswer(ntrip2_, CodingHeader(coding, options.coding_as_content, chunked_),
                           options.icy_blank_line),
              Then::Stream);
}

std::string CasterConnection::Sourcetable() const {
  const CasterOptions& options = context_.options;
  const std::string body = SourcetableBody(options.mounts);
  if (!ntrip2_ || options.coding == StreamCoding::None) return SourcetableAnswer(ntrip2_, body);
  // One piece: a gzip member, or a deflate stream flushed once.
  return SourcetableAnswer(true, StreamCompressor(options.coding).Code(body),
                           CodingHeader(options.coding, options.coding_as_content, false));
}

void CasterConnection::ScanUpdates(std::string_view bytes) {
  pending_line_.append(bytes);
  std::size_t start = 0;
  for (std::size_t nl; (nl = pending_line_.find('\n', start)) != std::string::npos;
       start = nl + 1) {
    std::string_view line(pending_line_.data() + start, nl - start);
    if (auto sentence = GgaFromLine(line)) RecordGga(*sentence, "connection");
  }
  pending_line_.erase(0, start);
  if (pending_line_.size() > kMaxPendingLine) pending_line_.clear();  // not a line protocol
}

void CasterConnection::RecordGga(const std::string& sentence, std::string_view where) {
  context_.book.Update(index_, [&](ConnectionRecord& r) { r.gga.push_back(sentence); });
  if (context_.gga_log) context_.gga_log->Write(peer_, where, sentence);
}

void CasterConnection::WriteAnswer(std::string answer, Then then) {
  if (closed_) return;
  context_.book.Update(index_, [&](ConnectionRecord& r) { r.answer = answer; });
  if (then == Then::Stream && context_.options.answer_with_first_bytes) {
    answer_prefix_ = std::move(answer);
    stream_start_ = std::chrono::steady_clock::now();
    NextPiece();
    return;
  }
  out_head_ = std::move(answer);
  WriteHead([self = shared_from_this(), then] {
    switch (then) {
      case Then::Stream:
        self->stream_start_ = std::chrono::steady_clock::now();
        self->NextPiece();
        break;
      case Then::Continue:
        self->NextPiece();
        break;
      case Then::Finish:
        self->Finish(false);
        break;
      case Then::Endless:
        self->NextFiller();
        break;
    }
  });
}

void CasterConnection::WriteHead(std::function<void()> then) {
  ArmGuard(kWriteBound);
  AsyncWrite(asio::buffer(out_head_), [self = shared_from_this(), then = std::move(then)](
                                          const boost::system::error_code& ec, std::size_t) {
    if (self->closed_) return;
    self->DisarmGuard();
    if (ec) {
      self->Close(false);
      return;
    }
    then();
  });
}

std::chrono::steady_clock::time_point CasterConnection::DueTime() const {
  const double rate = context_.options.rate;
  if (rate == 0) return std::chrono::steady_clock::now();
  const double seconds = static_cast<double>(served_) / (rate < 0 ? kDefaultRate : rate);
  return stream_start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(seconds));
}

std::string CasterConnection::NextPayload(std::size_t size) {
  if (context_.options.fault.mode == FaultMode::Garbage) {
    // Never the RTCM 3 preamble, so no frame can start anywhere in it.
    std::string bytes(size, '\0');
    for (char& b : bytes) {
      unsigned value = garbage_rng_() % 255U;
      if (value >= 0xD3U) ++value;
      b = static_cast<char>(value);
    }
    return bytes;
  }
  if (context_.options.live_time && position_ == 0) {
    // The first epoch of the pass carries the time at which the pacing will send it.
    live_bytes_ = mount_->bytes;
    const double rate = context_.options.rate < 0 ? kDefaultRate : context_.options.rate;
    const double ahead_s =
        rate == 0 ? 0.0
                  : static_cast<double>(FirstObservationOffset(live_bytes_, *unit_ends_)) / rate;
    MoveEpochsTo(live_bytes_, *unit_ends_,
                 GpsMillisecondsNow() + static_cast<std::int64_t>(ahead_s * 1000.0));
  }
  const std::string& source = context_.options.live_time ? live_bytes_ : mount_->bytes;
  std::string bytes = source.substr(position_, size);
  position_ = (position_ + bytes.size()) % source.size();
  return bytes;
}

void CasterConnection::NextPiece() {
  if (closed_) return;
  const CasterOptions& options = context_.options;
  const Fault& fault = options.fault;
  const bool fault_stops = fault.mode == FaultMode::CloseAfter ||
                           fault.mode == FaultMode::StallAfter || fault.mode == FaultMode::Reset;
  std::size_t stop_at =
      options.max_bytes > 0 ? options.max_bytes : std::numeric_limits<std::size_t>::max();
  if (fault_stops) stop_at = std::min(stop_at, fault.after_bytes);
  const bool garbage = fault.mode == FaultMode::Garbage;
  const bool nothing_to_serve = served_ >= stop_at || (!garbage && mount_->bytes.empty());
  if (nothing_to_serve && !answer_prefix_.empty()) {
    WriteAnswer(std::exchange(answer_prefix_, std::string()), Then::Continue);
    return;
  }
  if (served_ >= stop_at) {
    if (fault_stops && served_ >= fault.after_bytes) {
      if (fault.mode == FaultMode::Reset) Close(true);
      if (fault.mode == FaultMode::CloseAfter) Finish(false);
      return;  // a stall keeps the socket open and keeps reading updates
    }
    Finish(true);
    return;
  }
  if (nothing_to_serve) return;  // an empty recording: the connection stays open, silent

  std::size_t size = 0;
  if (options.rate == 0) {
    size = kFastPiece;
  } else if (options.rate < 0 || options.whole_frames) {
    if (garbage) {
      size = kGarbageUnit;
    } else {
      const auto end = std::upper_bound(unit_ends_->begin(), unit_ends_->end(), position_);
      size = *end - position_;
    }
  } else {
    size = std::clamp<std::size_t>(static_cast<std::size_t>(options.rate / 50), 1, kFastPiece);
  }
  size = std::min(size, stop_at - served_);
  if (!garbage) size = std::min(size, mount_->bytes.size() - position_);
  std::string payload = NextPayload(size);

  const auto due = DueTime();
  if (due <= std::chrono::steady_clock::now()) {
    WritePiece(std::move(payload));
    return;
  }
  pace_timer_.expires_at(due);
  pace_timer_.async_wait([self = shared_from_this(), payload = std::move(payload)](
                             const boost::system::error_code& ec) mutable {
    if (self->closed_ || ec) return;
    self->WritePiece(std::move(payload));
  });
}

void CasterConnection::WritePiece(std::string payload) {
  out_payload_ = std::move(payload);
  // The record keeps the payload; the wire carries its coded form.
  out_coded_ = compressor_ ? compressor_->Code(out_payload_) : std::string();
  const std::string& wire = compressor_ ? out_coded_ : out_payload_;
  if (chunked_) {
    char size_line[24];
    std::snprintf(size_line, sizeof size_line, "%zX\r\n", wire.size());
    out_head_ = size_line;
    out_tail_ = "\r\n";
  } else {
    out_head_.clear();
    out_tail_.clear();
  }
  out_head_.insert(0, std::exchange(answer_prefix_, std::string()));
  const std::array<asio::const_buffer, 3> buffers{asio::buffer(out_head_), asio::buffer(wire),
                                                  asio::buffer(out_tail_)};
  ArmGuard(kWriteBound);
  // Taken before the write: benchmarks measure the delay from this moment, and the client may
  // hold the bytes before this write's completion runs (a stamp taken there gave negative delays).
  const auto when = std::chrono::steady_clock::now();
  AsyncWrite(buffers,
             [self = shared_from_this(), when](const boost::system::error_code& ec, std::size_t) {
               // Recorded even when a stop closed the connection meanwhile: the bytes went out
               // and the client may hold them (Windows reports such a write's completion after
               // the close).
               if (!ec) {
                 self->served_ += self->out_payload_.size();
                 const bool keep = self->context_.options.record_payload;
                 self->context_.book.Update(self->index_, [&](ConnectionRecord& r) {
                   if (keep) r.served.append(self->out_payload_);
                   r.served_bytes = self->served_;
                   r.writes.push_back(WriteMark{self->served_, when});
                 });
               }
               if (self->closed_) return;
               self->DisarmGuard();
               if (ec) {
                 self->Close(false);
                 return;
               }
               self->NextPiece();
             });
}

void CasterConnection::NextFiller() {
  if (closed_) return;
  const double rate = context_.options.rate;
  std::string lines;
  do {
    lines += FillerHeaderLine(++filler_lines_);
  } while (rate <= 0 && lines.size() < 1024);
  out_head_ = std::move(lines);
  auto write = [self = shared_from_this()] { self->WriteHead([self] { self->NextFiller(); }); };
  if (rate <= 0) {
    write();
    return;
  }
  pace_timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(static_cast<double>(out_head_.size()) / rate)));
  pace_timer_.async_wait([self = shared_from_this(), write](const boost::system::error_code& ec) {
    if (self->closed_ || ec) return;
    write();
  });
}

void CasterConnection::Finish(bool end_chunked_stream) {
  if (closed_) return;
  auto drain = [self = shared_from_this()] {
    // Half-close and read on: closing with unread client bytes would reset the connection
    // and could destroy our last bytes before the client reads them.
    boost::system::error_code ignored;
    self->phase_ = Phase::Draining;
    self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
    self->ArmGuard(kDrainBound);
  };
  if (!(end_chunked_stream && chunked_)) {
    drain();
    return;
  }
  out_head_ = "0\r\n\r\n";
  WriteHead(drain);
}

void CasterConnection::Close(bool reset) {
  if (closed_) return;
  closed_ = true;
  DisarmGuard();
  pace_timer_.cancel();
  boost::system::error_code ignored;
  if (reset) socket_.set_option(asio::socket_base::linger(true, 0), ignored);
  socket_.close(ignored);
  context_.book.Update(index_, [](ConnectionRecord& r) { r.closed = true; });
}

void CasterConnection::ArmGuard(std::chrono::milliseconds bound) {
  const std::uint64_t generation = ++guard_generation_;
  guard_timer_.expires_after(bound);
  guard_timer_.async_wait(
      [self = shared_from_this(), generation](const boost::system::error_code& ec) {
        if (ec || self->closed_ || generation != self->guard_generation_) return;
        self->Close(false);
      });
}

}  // namespace caster
