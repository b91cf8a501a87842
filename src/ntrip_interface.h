#pragma once
// The network side of the component: one NTRIP connection to one caster, its two queues of
// received data, its receive loop and its GGA upload loop.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "caster_response.h"
#include "client_socket.h"
#include "client_timing.h"
#include "content_coding.h"
#include "gga.h"
#include "http_proxy.h"
#include "log_location.h"
#include "rtcm_presence.h"
#include "stream_opener.h"

namespace rtcm {
class ChunkSummarizer;
}

namespace tarno {

enum class ClientState : std::int32_t {
  Error = -1,
  Disconnected = 0,
  SocketConnected = 2,
  Connected = 4,
  Receiving = 6,
};

class NTRIPClient {
 public:
  using Timing = ClientTiming;

  // Resolves host and port (a number) at once, builds the first GGA sentence and starts the
  // receive and GGA threads. Throws std::invalid_argument for an invalid position, and
  // boost::system::system_error when the name does not resolve. With a `proxy`, the proxy's
  // name is resolved instead: the caster's is the proxy's to resolve.
  NTRIPClient(const std::string& host, const std::string& port, const std::string& mountpoint,
              double latitude, double longitude, double altitude, bool decode,
              Timing timing = Timing(), HttpProxy proxy = HttpProxy());
  ~NTRIPClient();
  NTRIPClient(const NTRIPClient&) = delete;
  NTRIPClient& operator=(const NTRIPClient&) = delete;

  void SetCredentials(const std::string& username, const std::string& password);
  // Makes the connection TLS, its certificate verified against the host (an empty `ca_file`
  // trusts the system's store). Before InitSocket; throws std::invalid_argument when the file
  // cannot be loaded.
  void SetTls(const std::string& ca_file);
  // Why the last InitSocket failed TLS verification (reason and certificate subject), or empty.
  std::string TlsFailure() const { return _socket.TlsFailure(); }
  void SetPosition(const GpsCoordinate& position);
  // Makes Connection send the NTRIP 1.0 request. Before Connection.
  void UseNtrip1() { _ntrip1 = true; }
  // The status code of the caster's last answer (0 before one, or when its line had none).
  int AnswerStatus() const { return _answer_status.load(); }

  ClientState State() const { return _state.load(); }
  const std::string& GetHost() const { return _host; }
  const std::string& GetPort() const { return _port; }
  bool IsSocketConnected() const { return _socket_connected.load(); }
  bool IsDecoding() const { return _decode_rtcm; }
  // Stream bytes queued so far on this connection; the component tells a set-up that worked
  // (corrections arrived) from one that only looked connected.
  std::uint64_t BytesReceived() const { return _bytes_received.load(); }
  // How the caster answered the stream request: "NTRIP 2.0, chunked", "NTRIP 2.0" or "NTRIP 1.0",
  // followed by the codings undone ("NTRIP 2.0, chunked, gzip"); empty before a successful
  // Connection().
  const std::string& Protocol() const { return _protocol; }
  // "P:Q" of the proxy the stream goes through; empty without one.
  std::string ProxyLabel() const;
  // Why the stream ended, once the receive loop found it ended ("" while it runs).
  std::string LossCause() const;
  // The client ended the stream (it could not read it), not the caster.
  bool EndedByClient() const;
  // Once per connection, when its first bytes held no RTCM 3 frame: the warning to give (kind
  // None otherwise, and on every later call).
  Refusal TakeContentWarning();

  // Oldest chunk (or summary), waiting at most the reader wait; empty when none came.
  std::string ReadRTCMBuffer();
  std::string ReadRTCMDecodedBuffer();
  // The oldest element without waiting; false when the queue is empty. Lets a writer that was
  // asked to stop publish what is already queued before its client is dropped.
  bool TryReadRTCMBuffer(std::string* chunk);
  bool TryReadRTCMDecodedBuffer(std::string* summary);
  // Ends the readers' waits, now and for good: a writer asked to stop must not sit out a whole
  // reader wait before it sees the request. Reads then return at once, with what is queued.
  void _WakeReaders();

  // Why the last InitSocket or Connection gave no stream (kind None after a success).
  Refusal LastRefusal() const;

  ClientState InitSocket();
  ClientState Connection();
  ClientState CloseConnection();

  void _ActiveShutdownSendGGAtoServer();
  void _ShutdownjThreads();

 private:
  void RunGuarded(void (NTRIPClient::*body)(std::stop_token));
  void ReceiveRTCM(std::stop_token stop);
  ClientState Receive();
  void SendGGAtoServer(std::stop_token stop);
  // A sentence of the position held now, stored as _gga_sentence; caller holds _position_mutex.
  std::string BuildGGA();

  // The steps of Connection: the request (its credential and sentence logged), the answer's
  // head judged (true when the stream follows), the body begun.
  // `where`: Connection's own place, which their log lines carry.
  std::string StreamRequest(SourceLocation where);
  bool TakeAnswer(CasterAnswer& answer, SourceLocation where);
  ClientState BeginStream(const ResponseHeadReader& reader, SourceLocation where);
  ClientState Fail(const std::string& description, Refusal refusal, SourceLocation where);

  // Queues stream bytes as chunks of at most one read (and their summaries when decoding).
  // wait_for_room: between chunks, wait while the queues are full (the receive loop only).
  void StoreStream(std::string bytes, bool wait_for_room);
  // Queues one chunk of stream bytes (and its summary when decoding).
  void StoreChunk(std::string chunk);
  // Summary of the epochs that this chunk completes; the decoder lives as long as the connection.
  std::string processRTCM3(const std::string& chunk);
  // Takes the oldest item of a non-empty queue; caller holds _buffer_mutex.
  std::string PopFront(std::deque<std::string>& queue);
  std::string ReadQueue(std::deque<std::string>& queue, std::condition_variable& cv,
                        const char* taken_text, const char* empty_text, SourceLocation where);
  void SetState(ClientState state);
  void SetRefusal(Refusal refusal);
  // Records the cause and sets Error; `by_client`: this side ended the stream.
  void Lose(const std::string& cause, bool by_client = false);
  // Waits until both queues have room; false when stop was requested first.
  bool WaitForQueueRoom(std::stop_token stop);

 public:
  // Chunks a queue holds at most (about 1 MiB of stream): beyond it the receive loop stops
  // reading and TCP slows the caster, instead of memory and delay growing without bound.
  static constexpr std::size_t kMaxQueuedChunks = 512;

 private:
  std::atomic<ClientState> _state{ClientState::Disconnected};
  const Timing _timing;
  const bool _decode_rtcm;
  GpsCoordinate _position;
  const std::string _host, _port, _mountpoint;
  std::string _username, _password;
  // Resolves, connects, asks and begins the body for the operations of the design.
  const StreamOpener _opener;
  bool _ntrip1 = false;
  std::atomic<int> _answer_status{0};
  std::atomic<bool> _socket_connected{false};
  std::atomic<std::uint64_t> _bytes_received{0};
  std::string _gga_sentence;
  mutable std::mutex _refusal_mutex;
  Refusal _refusal;
  std::string _protocol;  // written by Connection() before the receive loop may read the stream
  bool _tls = false;      // set before the first connection
  ResponseHead _answer_head;  // the stream's, written with _protocol
  mutable std::mutex _loss_mutex;
  std::string _loss_cause;  // under _loss_mutex: the receive thread writes, the component reads
  bool _ended_by_client = false;  // under _loss_mutex

  boost::asio::io_context _io_context;
  const boost::asio::ip::tcp::resolver::query _query;  // the first hop (the proxy when one is set)
  boost::asio::ip::tcp::resolver _resolver{_io_context};
  boost::asio::ip::tcp::resolver::results_type _endpoints;  // resolved at once
  ClientSocket _socket;
  // Set by Connection before the state reaches Connected, then used by the receive thread only.
  std::optional<StreamDecoder> _stream_decoder;
  std::optional<RtcmPresenceCheck> _rtcm_check;  // used by the thread that stores
  mutable std::mutex _content_mutex;
  Refusal _content_warning;  // under _content_mutex

  std::mutex _buffer_mutex;
  std::condition_variable _rtcm_cv, _rtcm_decoded_cv;
  std::deque<std::string> _rtcm_buffer;
  std::deque<std::string> _rtcm_decoded_buffer;
  bool _readers_woken = false;  // under _buffer_mutex
  std::unique_ptr<rtcm::ChunkSummarizer> _summarizer;  // used only by the thread that stores
  // Signalled when a reader takes an element: a full queue makes the receive loop wait.
  std::condition_variable_any _room_cv;

  // Wakes the receive loop's pause when the connection is made or stop is requested.
  std::mutex _wake_mutex;
  std::condition_variable_any _wake_cv;

  std::stop_source _stop_source;
  std::stop_token _stop_token;
  std::mutex _position_mutex;
  std::condition_variable_any _gga_cv;
  bool _stop_send_gga_to_server = false;

  // Last members: the threads start once everything they use exists.
  std::jthread _jreceive_rtcm, _jsend_gga;
};

}  // namespace tarno
