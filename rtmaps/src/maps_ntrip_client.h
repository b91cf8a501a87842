#pragma once
// The NTRIP_Client component model: its definition and the component class.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <stop_token>
#include <thread>

#include "log.h"
#include "maps_sdk.h"
#include "ntrip_interface.h"
#include "setup_spacing_book.h"
#include "utils.h"

// The definition the package declares to the host.
extern const MAPS::ModuleDefinition kNtripClientDefinition;

// How the component asks whether the public internet answers: the production probe pings through
// the system's command runner and skips casters on local addresses; tests give their own runner.
struct InternetProbeSettings {
  tarno::CommandRunner runner = tarno::RunCommand;
  // How the caster's host is resolved to judge whether it is local.
  tarno::HostResolver resolver = tarno::ResolveHost;
  bool probe_local_casters = false;
};

class MAPS_NTRIP_Client : public MAPSComponent {
 public:
  explicit MAPS_NTRIP_Client(MAPS::InstanceHandle* instance, InternetProbeSettings probe = {});
  ~MAPS_NTRIP_Client() override;

  void Core() override;
  void Birth() override;
  void Banzai() override;
  void Death() override;

 private:
  void InitFlagsThread();
  void EmergencyStopThreads();
  void WriteRTCMBuffer();
  void WriteDecodedRTCMBuffer();
  void first_time_process(std::int64_t timestamp, MAPS::InputElt<double> sample);
  // The steps of first_time_process, in order.
  void ProbeInternetOnce();
  bool SetupDue();  // false while failed set-ups are being spaced
  bool BuildClient(const double* position);
  enum class SetupOutcome { Connected, TryNtrip1, Failed };
  SetupOutcome ConnectClient(const double* position);
  void StartWriters();
  // The NTRIP 1.0 request: asked for, or learnt from this caster's answer to the 2.0 one.
  bool AsksNtrip1();
  void on_data_callback(std::int64_t timestamp, MAPS::InputElt<double> sample);

  // Latitude, longitude, altitude and accuracy are all there; logs the sample otherwise.
  bool UsableSample(const MAPS::InputElt<double>& sample);
  void WriteElement(const MAPS::OutputPort& output, std::string_view bytes);
  // Raw bytes as elements of at most one element's size, in order.
  void WriteRaw(const MAPS::OutputPort& output, std::string_view bytes);
  // A summary as elements of whole lines where it outgrows one element, in order.
  void WriteSummary(const MAPS::OutputPort& output, std::string_view text);
  // Reports a set-up's refusal as a warning when it differs from the last one reported; logs
  // it always.
  // An unknown mount point's warning lists the caster's mount points nearest to `position`
  // (latitude, longitude), fetched once per refusal.
  void WarnOnce(const tarno::Refusal& refusal, const double* position = nullptr);
  // The `proxy` properties; no proxy when `proxy` is empty.
  tarno::HttpProxy Proxy();
  // The properties that make the way to the caster: a change of any of them forgets that the
  // caster wanted NTRIP 1.0.
  std::string CasterRoute();
  // The current connection has proven a working link: enough bytes, or bytes for long enough.
  bool ProvenLink(std::uint64_t delivered) const;
  // The client's periods and bounds at the host's clock speed.
  tarno::ClientTiming ScaledTiming() const;
  // Drops the current client after a failed set-up and spaces the next attempt.
  // Drops a client whose set-up failed and spaces the next one; `cause` goes with the retry event.
  void DropFailedClient(const std::string& cause);
  // Records a failed set-up and reports the wait before the next one with its cause.
  void RecordFailedSetup(const std::string& cause);
  // Runs beside the host thread: once the host stops the component, a client still connecting
  // is closed, and so is a sourcetable lookup's socket, so a caster that never answers cannot
  // hold the stop for the 10 s header bound.
  void WatchForStop(std::stop_token stop);
  // A wait of the design, run at the host's clock speed (1 in production).
  template <typename Rep, typename Period>
  std::chrono::nanoseconds Scaled(std::chrono::duration<Rep, Period> wait) const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double, std::nano>(wait) * _time_scale);
  }

  std::uint32_t _max_accuracy_errors = 15;
  std::unique_ptr<MAPS::InputReader> _input_reader;
  std::int32_t _log_destination = 0;
  bool _decode_rtcm = true;
  std::chrono::seconds _no_client_wait{2};
  std::jthread _jread_rtcm;
  std::jthread _jread_rtcm_decoded;
  std::shared_ptr<tarno::NTRIPClient> _ntrip_client;
  std::unique_ptr<tarno::Log> _myLog;
  // This instance's writer, reports and log file; every thread working for the instance carries
  // it, so other instances in the engine neither redirect nor silence its lines.
  const std::shared_ptr<tarno::LogRoute> _log_route = std::make_shared<tarno::LogRoute>();
  std::mutex _raw_mutex;
  std::mutex _decoded_mutex;
  std::condition_variable _raw_stopped_cv;
  std::condition_variable _decoded_stopped_cv;
  std::atomic<bool> _stop_raw_writer{false};
  std::atomic<bool> _stop_decoded_writer{false};
  std::atomic<bool> _raw_writer_stopped{false};
  std::atomic<bool> _decoded_writer_stopped{false};
  double _position_accuracy = 0.1;
  std::uint32_t _accuracy_error_count = 0;

  // A writer that has left its loop for any reason (host stop included) can no longer
  // acknowledge a stop request; the stop handshake also ends on these.
  std::atomic<bool> _raw_writer_running{false};
  std::atomic<bool> _decoded_writer_running{false};
  // Spacing of set-up attempts after consecutive failures, so a caster never sees a storm: the
  // host's book when it hands one (kept across the instances it replaces), else this instance's.
  std::shared_ptr<tarno::SetupSpacingBook> _spacing;
  std::string _route;  // CasterRoute() at start: the book's key
  // A link that carried corrections for long enough: the route's spacing starts afresh.
  bool LastingLink(std::uint64_t delivered) const;
  std::mutex _setup_mutex;
  std::shared_ptr<tarno::NTRIPClient> _client_in_setup;  // under _setup_mutex
  std::stop_source _lookup_stop;  // under _setup_mutex: the sourcetable lookup in progress
  std::jthread _stop_watch;
  double _time_scale = 1.0;
  const InternetProbeSettings _probe;
  bool _internet_probed = false;  // host thread only
  // Why property values were refused at start; a component with refused values builds no client.
  std::string _refused_settings;
  std::string _last_refusal;  // text of the refusal last reported as a warning
  std::string _ntrip1_route;  // CasterRoute() of the caster that refused NTRIP 2.0 (host thread)
  std::chrono::steady_clock::time_point _connected_at{};  // of the current client's stream
};
