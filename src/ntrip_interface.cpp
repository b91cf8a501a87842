#include "ntrip_interface.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "base64.h"
#include "caster_response.h"
#include "log.h"
#include "ntrip_request.h"
#include "platform.h"
#include "rtcm/summary.h"

namespace tarno {

namespace {

// One read: the size of one raw chunk at most.
constexpr std::size_t kReadSize = 2048;

bool IsConnected(ClientState state) {
  return static_cast<std::int32_t>(state) >= static_cast<std::int32_t>(ClientState::Connected);
}

}  // namespace

NTRIPClient::NTRIPClient(const std::string& host, const std::string& port,
                         const std::string& mountpoint, double latitude, double longitude,
                         double altitude, bool decode, Timing timing, HttpProxy proxy)
    : _timing(std::move(timing)),
      _decode_rtcm(decode),
      _position(latitude, longitude, altitude),
      _host(host),
      _port(port),
      _mountpoint(mountpoint),
      _opener(host, port, std::move(proxy), Asked::Stream, mountpoint, _timing),
      _query(_opener.FirstHop()) {
  boost::system::error_code error;
  _endpoints = _resolver.resolve(_query, error);
  if (error) throw boost::system::system_error(error);
  if (_decode_rtcm) _summarizer = std::make_unique<rtcm::ChunkSummarizer>();
  GenerateGGA(latitude, longitude, altitude, &_gga_sentence, _timing.utc_clock);
  _stop_token = _stop_source.get_token();

  // The client's threads log where the instance that made it logs.
  std::shared_ptr<LogRoute> route = CurrentLogRoute();
  _jreceive_rtcm = std::jthread([this, route](std::stop_token) {
    NameThisThread("ntrip-recv");
    LogRouteScope route_scope(route);
    RunGuarded(&NTRIPClient::ReceiveRTCM);
  });
  try {
    _jsend_gga = std::jthread([this, route](std::stop_token) {
      NameThisThread("ntrip-gga");
      LogRouteScope route_scope(route);
      RunGuarded(&NTRIPClient::SendGGAtoServer);
    });
  } catch (...) {
    // The receive loop watches only the client's own stop source.
    _stop_source.request_stop();
    _jreceive_rtcm.join();
    throw;
  }
}

NTRIPClient::~NTRIPClient() {
  WriteLog("NTRIPClient::~NTRIPClient() Start");
  _ShutdownjThreads();
  if (_socket_connected && CloseConnection() != ClientState::Disconnected) {
    WriteLog("BIG Error while closing the socket");
  }
  if (_jsend_gga.joinable()) _jsend_gga.join();
  if (_jreceive_rtcm.joinable()) _jreceive_rtcm.join();
  WriteLog("NTRIPClient::~NTRIPClient() End");
}

void NTRIPClient::RunGuarded(void (NTRIPClient::*body)(std::stop_token)) {
  // Nothing in the client may end the process: an error no step handles ends this thread only.
  try {
    (this->*body)(_stop_token);
  } catch (const std::exception& e) {
    WriteLog(std::string("Exception ") + e.what(), Importance::Error);
  }
}

void NTRIPClient::SetCredentials(const std::string& username, const std::string& password) {
  _username = username;
  _password = password;
}

void NTRIPClient::SetTls(const std::string& ca_file) {
  if (Refusal refused = UseTlsFor(_socket, _host, ca_file); refused.kind != Refusal::Kind::None) {
    throw std::invalid_argument(refused.text);
  }
  _tls = true;
}

void NTRIPClient::SetPosition(const GpsCoordinate& position) {
  std::scoped_lock lock(_position_mutex);
  _position = position;
}

void NTRIPClient::SetState(ClientState state) {
  _state.store(state);
  if (IsConnected(state)) {
    // Taking the mutex orders this store before the receive loop's next look at the state.
    { std::scoped_lock lock(_wake_mutex); }
    _wake_cv.notify_all();
  }
}

std::string NTRIPClient::PopFront(std::deque<std::string>& queue) {
  std::string item = std::move(queue.front());
  queue.pop_front();
  _room_cv.notify_all();  // the receive loop may be waiting for room
  return item;
}

std::string NTRIPClient::ReadQueue(std::deque<std::string>& queue, std::condition_variable& cv,
                                   const char* taken_text, const char* empty_text,
                                   SourceLocation where) {
  std::string result;
  std::unique_lock lock(_buffer_mutex);
  cv.wait_for(lock, _timing.reader_wait,
              [this, &queue] { return !queue.empty() || _readers_woken; });
  const bool taken = !queue.empty();
  if (taken) result = PopFront(queue);
  lock.unlock();  // a log line may flush a file: never with the receive loop waiting on it
  if (taken) {
    WriteLog(taken_text + std::to_string(result.size()), Importance::Info, where);
  } else {
    WriteLog(empty_text, Importance::Info, where);
  }
  return result;
}

std::string NTRIPClient::ReadRTCMBuffer() {
  return ReadQueue(_rtcm_buffer, _rtcm_cv, "ReadRTCMBuffer a recupere un message de taille : ",
                   "ReadRTCMBuffer buffer empty", SourceLocation::current());
}

std::string NTRIPClient::ReadRTCMDecodedBuffer() {
  return ReadQueue(_rtcm_decoded_buffer, _rtcm_decoded_cv,
                   "ReadRTCMDecodedBuffer a recupere un message de taille : ",
                   "ReadRTCMDecodeBuffer buffer empty", SourceLocation::current());
}

bool NTRIPClient::TryReadRTCMBuffer(std::string* chunk) {
  std::scoped_lock lock(_buffer_mutex);
  if (_rtcm_buffer.empty()) return false;
  *chunk = PopFront(_rtcm_buffer);
  return true;
}

bool NTRIPClient::TryReadRTCMDecodedBuffer(std::string* summary) {
  std::scoped_lock lock(_buffer_mutex);
  if (_rtcm_decoded_buffer.empty()) return false;
  *summary = PopFront(_rtcm_decoded_buffer);
  return true;
}

void NTRIPClient::_WakeReaders() {
  {
    std::scoped_lock lock(_buffer_mutex);
    _readers_woken = true;
  }
  _rtcm_cv.notify_all();
  _rtcm_decoded_cv.notify_all();
}

void NTRIPClient::_ShutdownjThreads() {
  _stop_source.request_stop();
  WriteLog("Closing All the threads");
}

void NTRIPClient::StoreStream(std::string bytes, bool wait_for_room) {
  if (bytes.empty()) return;
  if (_rtcm_check) {
    const auto verdict = _rtcm_check->Feed(bytes, RtcmPresenceCheck::Clock::now());
    if (verdict == RtcmPresenceCheck::Verdict::NoRtcm) {
      // The bytes still go out unchanged: a receiver may read another format. The component
      // gives the warning.
      Refusal warning = NoRtcmFrame(_mountpoint, _rtcm_check->BytesSeen(), _rtcm_check->Kind());
      WriteLog(warning.text);
      std::scoped_lock lock(_content_mutex);
      _content_warning = std::move(warning);
    }
    if (verdict != RtcmPresenceCheck::Verdict::Pending) _rtcm_check.reset();
  }
  // The common case, a read's worth, is queued as it is: no copy.
  if (bytes.size() <= kReadSize) return StoreChunk(std::move(bytes));
  // A compressed read may inflate far beyond one read: queued in read-sized chunks, so that the
  // queue bound still bounds memory.
  for (std::size_t at = 0; at < bytes.size(); at += kReadSize) {
    if (at > 0 && wait_for_room && !WaitForQueueRoom(_stop_token)) return;
    StoreChunk(bytes.substr(at, kReadSize));
  }
}

Refusal NTRIPClient::TakeContentWarning() {
  std::scoped_lock lock(_content_mutex);
  return std::exchange(_content_warning, Refusal{});
}

void NTRIPClient::StoreChunk(std::string chunk) {
  // The raw chunk is queued before the decoder sees it, so decoding never delays a correction;
  // the decoder works on its own copy, outside the queue lock. Only one thread stores at a time
  // (Connection before the state turns Connected, then the receive loop).
  std::string to_decode = _decode_rtcm ? chunk : std::string();
  {
    std::scoped_lock lock(_buffer_mutex);
    _bytes_received += chunk.size();
    _rtcm_buffer.push_back(std::move(chunk));
  }
  _rtcm_cv.notify_one();
  if (!_decode_rtcm) return;
  std::string summary = processRTCM3(to_decode);
  {
    std::scoped_lock lock(_buffer_mutex);
    _rtcm_decoded_buffer.push_back(std::move(summary));
  }
  _rtcm_decoded_cv.notify_one();
}

std::string NTRIPClient::processRTCM3(const std::string& chunk) {
  int last_result = 0;
  std::string text = _summarizer->Feed(chunk, &last_result);
  if (!chunk.empty() && last_result == 0) {
    WriteLog("Receive data of size " + std::to_string(chunk.size()));
    WriteLog("Message number not supported");
  }
  return text;
}

}  // namespace tarno

namespace tarno {

ClientState NTRIPClient::InitSocket() {
  const ConnectOutcome outcome = _opener.Connect(_socket, _endpoints);
  if (outcome.error || outcome.refusal.kind != Refusal::Kind::None) {
    WriteLog("Error occured !" + outcome.error.message());
    if (!_socket.TlsFailure().empty()) WriteLog(outcome.refusal.text, Importance::Warning);
    SetRefusal(outcome.refusal);
    _socket_connected = false;
    SetState(ClientState::Error);
  } else {
    _socket_connected = true;
    SetState(ClientState::SocketConnected);
  }
  return _state;
}

void NTRIPClient::SetRefusal(Refusal refusal) {
  std::scoped_lock lock(_refusal_mutex);
  _refusal = std::move(refusal);
}

Refusal NTRIPClient::LastRefusal() const {
  std::scoped_lock lock(_refusal_mutex);
  return _refusal;
}

ClientState NTRIPClient::Connection() {
  // Its steps log as Connection itself.
  const SourceLocation where = SourceLocation::current();
  CasterAnswer answer = _opener.Ask(_socket, StreamRequest(where));
  _answer_status = answer.reader.head().status;
  if (!TakeAnswer(answer, where)) return _state;
  return BeginStream(answer.reader, where);
}

ClientState NTRIPClient::Fail(const std::string& description, Refusal refusal,
                              SourceLocation where) {
  WriteLog("Errors: Network Connection: " + description, Importance::Info, where);
  SetRefusal(std::move(refusal));
  SetState(ClientState::Error);
  return _state;
}

std::string NTRIPClient::StreamRequest(SourceLocation where) {
  // Without a user name there are no credentials to send: a caster open to all needs none.
  const std::string credential = BasicCredential(_username, _password);
  if (!credential.empty()) {
    // Neither the credential nor its length (which tells the password's) reaches a log line.
    WriteLog("Authorization for user \"" + _username + "\"", Importance::Info, where);
  } else {
    WriteLog("No user name: the request carries no Authorization", Importance::Info, where);
  }
  std::string gga;
  {
    std::scoped_lock lock(_position_mutex);
    gga = _gga_sentence;
  }
  WriteLog(gga, Importance::Info, where);
  return NtripRequest(_mountpoint, _host, credential, gga, _ntrip1);
}

bool NTRIPClient::TakeAnswer(CasterAnswer& answer, SourceLocation where) {
  const ResponseHeadReader& reader = answer.reader;
  const ResponseHead& head = reader.head();
  if (answer.error) {
    Fail(answer.error.message(), std::move(answer.refusal), where);
  } else if (!reader.failure().empty()) {
    Fail(reader.failure(), std::move(answer.refusal), where);
  } else {
    WriteLog("En-tetes de la reponse: " + head.text, Importance::Info, where);
    if (answer.refusal.kind == Refusal::Kind::None) return true;
    Fail(PrintableStatusLine(head.status_line), std::move(answer.refusal), where);
  }
  return false;
}

ClientState NTRIPClient::BeginStream(const ResponseHeadReader& reader, SourceLocation where) {
  BodyStart start = _opener.Start(_socket, reader, _ntrip1, [this] {
    std::scoped_lock lock(_position_mutex);
    return BuildGGA();
  });
  if (start.sent_gga) WriteLog("Sent the first GGA after the ICY answer", Importance::Info, where);
  if (!start.decoder) return Fail(start.failure, std::move(start.refusal), where);
  _stream_decoder = std::move(start.decoder);
  _rtcm_check.emplace(RtcmPresenceCheck::Clock::now(), _timing.rtcm_check_window);
  StoreStream(std::move(start.first), false);
  if (start.refusal.kind != Refusal::Kind::None)
    return Fail(start.failure, std::move(start.refusal), where);

  _protocol = StreamProtocol(reader.head(), _ntrip1, _tls);
  _answer_head = reader.head();
  SetRefusal({});
  if (start.result == StreamDecoder::Result::End) {
    // A stream that came whole with the head (a Content-Length one): a connection that began
    // and ended, whose bytes the writers still publish. The receive loop has nothing to read.
    WriteLog("The stream ended with the headers", Importance::Info, where);
    Lose("the caster ended the stream");
  } else {
    SetState(ClientState::Connected);
  }
  // Not `_state`: a stream that came whole with the headers has already ended, and its bytes
  // still wait in the queue for the writers.
  return ClientState::Connected;
}

ClientState NTRIPClient::CloseConnection() {
  WriteLog("Closing the connection with the socket");
  const auto error = _socket.Close();
  _socket_connected = false;
  _io_context.stop();
  if (!error) {
    SetState(ClientState::Disconnected);
  } else {
    WriteLog("Error while closing the socket");
    WriteLog("Exception" + error.message());
    SetState(ClientState::Error);
  }
  return _state;
}

bool NTRIPClient::WaitForQueueRoom(std::stop_token stop) {
  std::unique_lock lock(_buffer_mutex);
  return _room_cv.wait(lock, stop, [this] {
    return _rtcm_buffer.size() < kMaxQueuedChunks &&
           (!_decode_rtcm || _rtcm_decoded_buffer.size() < kMaxQueuedChunks);
  });
}

void NTRIPClient::ReceiveRTCM(std::stop_token stop) {
  WriteLog("ReceiveRTCM Start");
  while (!stop.stop_requested()) {
    if (!IsConnected(_state)) {
      WriteLog("ReceiveRTCM is waiting the socket to connect", Importance::Warning);
      std::unique_lock lock(_wake_mutex);
      _wake_cv.wait_for(lock, stop, _timing.receive_period, [this] { return IsConnected(_state); });
      continue;
    }
    if (!_socket.IsOpen()) {
      std::unique_lock lock(_wake_mutex);
      _wake_cv.wait_for(lock, stop, _timing.receive_period, [] { return false; });
      continue;
    }
    if (!WaitForQueueRoom(stop)) break;
    // No pause between reads while connected: a pause would let a fast stream back up in the
    // socket with a delay that grows without bound.
    if (Receive() == ClientState::Receiving) continue;

    WriteLog("Socket didn't received data");
    WriteLog("Close Connection");
    if (CloseConnection() != ClientState::Disconnected) {
      WriteLog("BIG Error while closing the socket", Importance::Error);
    }
    break;
  }
  WriteLog("ReceiveRTCM End");
}

ClientState NTRIPClient::Receive() {
  try {
    WriteLog("Receive: Try go get some data");
    char buffer[kReadSize];
    boost::system::error_code error;
    // A caster silent this long is dead or unreachable; corrections that old are useless.
    const std::size_t n = _socket.ReadSome(
        buffer, sizeof buffer, ClientSocket::Clock::now() + _timing.idle_read_bound, error);
    if (error) {
      if (error == boost::asio::error::operation_aborted) {
        WriteLog("Exception Operation Aborted" + error.message());
      } else {
        WriteLog("Exception " + error.message());
      }
      if (error == boost::asio::error::timed_out) {
        // The read's own bound ended it: the caster fell silent.
        char silence[64];
        std::snprintf(silence, sizeof silence, "no data for %.0f s",
                      std::chrono::duration<double>(_timing.idle_read_bound).count());
        Lose(silence, true);
      } else {
        Lose(error == boost::asio::error::eof ? "the caster closed the stream" : error.message());
      }
      return _state;
    }
    WriteLog("Receive: Receive message size : " + std::to_string(n));

    std::string stream;
    const auto result = _stream_decoder->Feed(std::string_view(buffer, n), stream);
    StoreStream(std::move(stream), true);
    if (result == StreamDecoder::Result::Malformed) {
      WriteLog("Exception " + _stream_decoder->failure());
      Lose(BodyMismatch(_answer_head, _stream_decoder->failure()), true);
      return _state;
    }
    if (result == StreamDecoder::Result::End) {
      WriteLog("Exception " + boost::system::error_code(boost::asio::error::eof).message());
      Lose("the caster ended the stream");
      return _state;
    }
    SetState(ClientState::Receiving);
  } catch (const std::exception& e) {
    WriteLog(std::string("Exception ") + e.what());
    Lose(e.what());
  }
  return _state;
}

std::string NTRIPClient::BuildGGA() {
  WriteLog("Going to Generate GGA from");
  char coordinates[128];
  std::snprintf(coordinates, sizeof coordinates, "GPS Coordinate: %f, %f", _position.latitude(),
                _position.longitude());
  WriteLog(coordinates);
  GenerateGGA(_position.latitude(), _position.longitude(), _position.altitude(), &_gga_sentence,
              _timing.utc_clock);
  return _gga_sentence;
}

void NTRIPClient::Lose(const std::string& cause, bool by_client) {
  {
    std::scoped_lock lock(_loss_mutex);
    _loss_cause = cause;
    _ended_by_client = by_client;
  }
  SetState(ClientState::Error);
}

std::string NTRIPClient::ProxyLabel() const {
  return _opener.proxy().Enabled() ? _opener.proxy().Label() : std::string();
}

std::string NTRIPClient::LossCause() const {
  std::scoped_lock lock(_loss_mutex);
  return _loss_cause;
}

bool NTRIPClient::EndedByClient() const {
  std::scoped_lock lock(_loss_mutex);
  return _ended_by_client;
}

void NTRIPClient::SendGGAtoServer(std::stop_token stop) {
  WriteLog("SendGGAtoServer Start");
  while (!stop.stop_requested()) {
    std::unique_lock lock(_position_mutex);
    // A stop request ends the wait too, so dropping a client never waits out a whole period.
    const auto deadline = std::chrono::steady_clock::now() + _timing.gga_period;
    _gga_cv.wait_until(lock, stop, deadline, [this] { return _stop_send_gga_to_server; });
    if (_stop_send_gga_to_server) {
      WriteLog("Leaving SendGGAtoServer. !_stop_send_gga_to_server = true");
      break;
    }
    if (stop.stop_requested()) break;
    // Built when it leaves: a caster computing a virtual base from it needs where the receiver
    // is now, not where it was a period ago. Casters read updates as bare sentences in the
    // stream, not as header lines.
    const std::string update = BuildGGA();
    // A write may take up to its bound: positions and the shutdown must not wait for it.
    lock.unlock();

    if (_socket.IsOpen() && IsConnected(_state)) {
      if (const auto error = _socket.WriteAll(update, _timing.request_bound)) {
        WriteLog("Errors: Sending GGA: " + error.message(), Importance::Error);
        break;
      }
      WriteLog("Sent the lasted GGA to the Server");
    } else if (_socket.IsClosed()) {
      // Only a closed socket ends the loop: one still connecting (a TLS handshake may take
      // longer than a period) gets the next update.
      WriteLog("The socket is close cannot send GGA");
      WriteLog("Leaving SendGGAtoServer");
      break;
    } else {
      WriteLog("Cannot send GGA, waiting");
    }
  }
  WriteLog("SendGGAtoServer End");
}

void NTRIPClient::_ActiveShutdownSendGGAtoServer() {
  WriteLog("Start _ActiveShutdownSendGGAtoServer");
  {
    std::scoped_lock lock(_position_mutex);
    _stop_send_gga_to_server = true;
    _gga_cv.notify_one();
    WriteLog("End _ActiveShutdownSendGGAtoServer");
  }
  if (_socket_connected) CloseConnection();
  _ShutdownjThreads();
}

}  // namespace tarno
