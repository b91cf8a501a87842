#include "maps_ntrip_client.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include <boost/system/system_error.hpp>

#include "component_reports.h"
#include "link_events.h"
#include "platform.h"
#include "request_values.h"
#include "sourcetable_fetch.h"
#include "stream_opener.h"
#include "tls_session.h"
#include "utils.h"

using tarno::Importance;
using tarno::WriteLog;

namespace {

constexpr MAPS::InputDefinition kInputs[] = {
    {"iGPSPos", MAPS::kTypeFloat64Vector},
};

constexpr MAPS::OutputDefinition kOutputs[] = {
    {"oRawRTCM", MAPS::kTypeBytes, "", "", 2048, 16, {1, 1}},
    {"oDecodeRTCM", MAPS::kTypeBytes, "", "", 2048, 16, {1, 1}},
};

constexpr MAPS::PropertyDefinition kProperties[] = {
    {"decode_rtcm", MAPS::PropertyKind::Boolean, "true", 0, MAPS::kSubTypeNone, ""},
    {"log_destination", MAPS::PropertyKind::Enumeration, "Log|Console|Nothing", 0,
     MAPS::kSubTypeNone, ""},
    {"logging_path", MAPS::PropertyKind::String, "R:", 0,
     MAPS::kSubTypePathCheck | MAPS::kSubTypeDirectory, ""},
    {"ip", MAPS::PropertyKind::String, "rtk2go.com", 0, MAPS::kSubTypeNone, "",
     tarno::CheckCasterHost},
    {"port", MAPS::PropertyKind::String, "2100", 0, MAPS::kSubTypeNone, "", tarno::CheckPort},
    {"mountpoint", MAPS::PropertyKind::String, "CASTER", 0, MAPS::kSubTypeNone, "",
     tarno::CheckMountpoint},
    // No built-in account: a caster the component is pointed at without credentials must never
    // receive somebody's password.
    {"username", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypeNone, "", tarno::CheckUsername},
    {"password", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypeNone, "", nullptr, true},
    {"position_accuracy", MAPS::PropertyKind::Float, "0.1", 0, MAPS::kSubTypeNone, ""},
    // After the first nine, so that stored diagrams keep their values.
    {"tls", MAPS::PropertyKind::Boolean, "false", 0, MAPS::kSubTypeNone, ""},
    {"tls_ca_file", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypeNone, "", tarno::CheckCaFile},
    {"ntrip_version", MAPS::PropertyKind::Enumeration, "auto|2.0|1.0", 0, MAPS::kSubTypeNone, ""},
    {"proxy", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypeNone, "", tarno::CheckProxy},
    {"proxy_username", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypeNone, "",
     tarno::CheckProxyUsername},
    {"proxy_password", MAPS::PropertyKind::String, "", 0, MAPS::kSubTypeNone, "", nullptr, true},
};

constexpr int kPriority = 128;
constexpr int kHostSetting = 3;
constexpr int kThreaded = 1;
constexpr std::size_t kElementSize = 2048;
constexpr std::size_t kSampleValues = 4;
// Items of `ntrip_version`.
constexpr std::int64_t kNtripAuto = 0;
constexpr std::int64_t kNtrip1 = 2;

// A connection that ends sooner, having carried fewer bytes, was no working link.
constexpr std::chrono::seconds kShortLink{10};
constexpr std::uint64_t kShortLinkBytes = 512;

MAPSComponent* CreateNtripClient(MAPS::InstanceHandle* instance) {
  return new MAPS_NTRIP_Client(instance);
}

std::string Fixed6(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

// Pieces of at most `limit` bytes, cut after a line feed where one falls inside the piece.
std::vector<std::string_view> SplitAtLineEnds(std::string_view text, std::size_t limit) {
  std::vector<std::string_view> pieces;
  while (text.size() > limit) {
    std::size_t cut = text.rfind('\n', limit - 1);
    cut = cut == std::string_view::npos ? limit : cut + 1;
    pieces.push_back(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  if (!text.empty()) pieces.push_back(text);
  return pieces;
}

// Logs the exception in flight during a writer pass; the writer's loop goes on. `where` is the
// writer's catch site.
void LogWriterException(Importance importance, tarno::SourceLocation where) {
  try {
    throw;
  } catch (int signal) {
    // The host's stop signal is how a writer's last write ends at a stop, not a failure.
    WriteLog("Exception " + std::to_string(signal),
             signal == MAPS::kStopSignal ? Importance::Info : importance, where);
  } catch (const std::exception& e) {
    WriteLog(std::string("Exception ") + e.what(), importance, where);
  } catch (...) {
    WriteLog("Exception of an unknown type", importance, where);
  }
}

}  // namespace

const MAPS::ModuleDefinition kNtripClientDefinition = {
    "NTRIP_Client",
    "1.0",
    "MAPS_NTRIP_Client",
    "MAPSComponent",
    "$!MAPS_MODULE!MAPSComponent!NTRIP_Client!$!1.0!$",
    kInputs,
    kOutputs,
    kProperties,
    kPriority,
    kHostSetting,
    kThreaded,
    CreateNtripClient,
};

MAPS_NTRIP_Client::MAPS_NTRIP_Client(MAPS::InstanceHandle* instance, InternetProbeSettings probe)
    : MAPSComponent(instance), _probe(std::move(probe)) {}

MAPS_NTRIP_Client::~MAPS_NTRIP_Client() {
  tarno::LogRouteScope route_scope(_log_route);
  if (_stop_watch.joinable()) {
    _stop_watch.request_stop();
    _stop_watch.join();
  }
  // Threads first: a writer still running must not outlive the client or the mutexes it uses.
  for (std::jthread* t : {&_jread_rtcm_decoded, &_jread_rtcm}) {
    if (t->joinable()) {
      t->request_stop();
      t->join();
    }
  }
  _myLog.reset();
  _ntrip_client.reset();
  _input_reader.reset();
  _log_route->SetHostReportSink({});
}

void MAPS_NTRIP_Client::Birth() {
  // Birth runs on the host's thread for this instance: it carries the component's name from here.
  tarno::NameThisThread("ntrip-comp");
  tarno::LogRouteScope route_scope(_log_route);
  _max_accuracy_errors = 15;
  _accuracy_error_count = 0;
  _internet_probed = false;
  _time_scale = TimeScale();
  _spacing = std::static_pointer_cast<tarno::SetupSpacingBook>(
      HostObject(tarno::SetupSpacingBook::kHostObjectName));
  if (!_spacing) _spacing = std::make_shared<tarno::SetupSpacingBook>(_time_scale);
  _route = CasterRoute();
  _decode_rtcm = GetBoolProperty("decode_rtcm");
  _position_accuracy = GetFloatProperty("position_accuracy");
  const std::string logging_path = GetStringProperty("logging_path");
  _log_destination = static_cast<std::int32_t>(GetIntegerProperty("log_destination"));

  _log_route->SetHostReportSink([this](tarno::HostReportKind kind, const std::string& text) {
    switch (kind) {
      case tarno::HostReportKind::Information:
        ReportInfo(text);
        break;
      case tarno::HostReportKind::Warning:
        ReportWarning(text);
        break;
      case tarno::HostReportKind::Error:
        ReportError(text);
        break;
    }
  });
  tarno::LogWriter writer = tarno::WriterForDestination(_log_destination);
  switch (_log_destination) {
    case 0:
      ReportInfo(tarno::reports::kLoggingComponent);
      _myLog.reset();
      if (const std::string problem = tarno::LogDirectoryProblem(logging_path);
          !problem.empty()) {
        // Said once, here; then nothing at all, rather than a complaint per line on stderr or
        // files in some other directory.
        ReportError("log files cannot be written to \"" + logging_path + "\": " + problem +
                    "; the component logs nothing");
        writer = tarno::WriteLogNowhere;
        break;
      }
      _myLog = std::make_unique<tarno::Log>(InstanceName(), false, logging_path);
      break;
    case 1:
      ReportInfo(tarno::reports::kDebugComponent);
      break;
    case 2:
      ReportInfo(tarno::reports::kMinimumPrinting);
      break;
    default:
      break;
  }
  if (writer) _log_route->SetWriter(std::move(writer));

  // Values that would rewrite the request are refused once, here: no client is ever built
  // from them, and the probe never runs for an address that is not one.
  _refused_settings.clear();
  for (const MAPS::PropertyDefinition& property : kProperties) {
    if (property.check == nullptr) continue;
    const std::string reason = property.check(GetStringProperty(property.name));
    if (reason.empty()) continue;
    _refused_settings += (_refused_settings.empty() ? "" : "; ") + reason;
  }
  if (!_refused_settings.empty()) {
    ReportError(_refused_settings);
    WriteLog(_refused_settings, Importance::Error);
  }

  if (!_stop_watch.joinable()) {
    _stop_watch = std::jthread([this](std::stop_token stop) {
      tarno::NameThisThread("ntrip-stop-wch");
      tarno::LogRouteScope route_scope(_log_route);
      WatchForStop(stop);
    });
  }

  _input_reader = MAPS::CreateInputReader(
      *this, MAPS::InputReaderPolicy::PeriodicSampling, 1000000, false, {FindInput("iGPSPos")},
      [this](std::int64_t ts, MAPS::InputElt<double> s) { first_time_process(ts, std::move(s)); },
      [this](std::int64_t ts, MAPS::InputElt<double> s) { on_data_callback(ts, std::move(s)); });
}

void MAPS_NTRIP_Client::Core() {
  tarno::LogRouteScope route_scope(_log_route);
  const int result = maps_input_reader_read(_input_reader.get());
  if (result == MAPS::kReadStopped) throw MAPS::kStopSignal;
  const bool failed = (result >= -14 && result <= -11) || result == -2 || result == -1;
  if (failed) {
    throw(EngineState() & MAPS::kEngineStateStopping) != 0 ? MAPS::kStopSignal : MAPS::kErrorSignal;
  }
}

void MAPS_NTRIP_Client::Banzai() {
  tarno::LogRouteScope route_scope(_log_route);
  WriteLog("Start MAPS_NTRIP_Client::Banzai()");
  // The host thread has ended, so the client stays put; writers waiting in a read must not sit
  // out the whole reader wait before they see the stop.
  if (_ntrip_client) _ntrip_client->_WakeReaders();
  if (_jread_rtcm.joinable()) _jread_rtcm.join();
  WriteLog("After _jread_rtcm.join()");
  if (_jread_rtcm_decoded.joinable()) _jread_rtcm_decoded.join();
  WriteLog("End MAPS_NTRIP_Client::Banzai()");
}

void MAPS_NTRIP_Client::WatchForStop(std::stop_token stop) {
  std::mutex wait_mutex;
  std::condition_variable_any wake;
  std::unique_lock wait_lock(wait_mutex);
  while (!stop.stop_requested()) {
    if (IsStopping()) {
      std::scoped_lock lock(_setup_mutex);
      if (_client_in_setup) {
        _client_in_setup->CloseConnection();
        _client_in_setup.reset();
      }
      _lookup_stop.request_stop();
    }
    wake.wait_for(wait_lock, stop, std::chrono::milliseconds(50), [] { return false; });
  }
}

void MAPS_NTRIP_Client::Death() {
  tarno::LogRouteScope route_scope(_log_route);
  if (_stop_watch.joinable()) {
    _stop_watch.request_stop();
    _stop_watch.join();
  }
  WriteLog("Start MAPS_NTRIP_Client::Death");
  WriteLog("_ntrip_client != nullptr");
  if (_ntrip_client) {
    _ntrip_client->_ActiveShutdownSendGGAtoServer();
    _ntrip_client.reset();
  }
  WriteLog("_myLog!= nullptr");
  if (_myLog) _myLog.reset();
  _input_reader.reset();
}

void MAPS_NTRIP_Client::InitFlagsThread() {
  WriteLog("InitFlagsThread Start");
  _stop_raw_writer = false;
  _stop_decoded_writer = false;
  _raw_writer_stopped = false;
  _decoded_writer_stopped = false;
  WriteLog("InitFlagsThread End");
}

void MAPS_NTRIP_Client::EmergencyStopThreads() {
  WriteLog("EmergencyStopThreads Start");
  // The requests first, without a lock: a writer holds its mutex across its read, and a mutex is
  // not fair, so waiting for it could last as long as the writer keeps reading. Waking the reads
  // then stops both writers at once instead of one reader wait after the other.
  _stop_raw_writer = true;
  _stop_decoded_writer = true;
  if (_ntrip_client) _ntrip_client->_WakeReaders();
  {
    std::unique_lock lock(_raw_mutex);
    _raw_stopped_cv.wait(lock, [this] { return _raw_writer_stopped || !_raw_writer_running; });
  }
  if (_jread_rtcm.joinable()) _jread_rtcm.join();
  if (_ntrip_client && _ntrip_client->IsDecoding()) {
    {
      std::unique_lock lock(_decoded_mutex);
      _decoded_stopped_cv.wait(
          lock, [this] { return _decoded_writer_stopped || !_decoded_writer_running; });
    }
    if (_jread_rtcm_decoded.joinable()) _jread_rtcm_decoded.join();
  }
  WriteLog("EmergencyStopThreads End");
}

void MAPS_NTRIP_Client::WriteElement(const MAPS::OutputPort& output, std::string_view bytes) {
  MAPSIOElt* element = StartWriting(output);
  std::copy(bytes.begin(), bytes.end(), element->Data());
  element->VectorSize(bytes.size());
  StopWriting(element);
}

void MAPS_NTRIP_Client::WriteRaw(const MAPS::OutputPort& output, std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kElementSize) {
    WriteElement(output, bytes.substr(at, kElementSize));
  }
}

void MAPS_NTRIP_Client::WriteSummary(const MAPS::OutputPort& output, std::string_view text) {
  for (std::string_view piece : SplitAtLineEnds(text, kElementSize)) WriteElement(output, piece);
}

void MAPS_NTRIP_Client::WriteRTCMBuffer() {
  WriteLog("WriteRTCMBuffer Start");
  const MAPS::OutputPort output = FindOutput("oRawRTCM");
  while (!IsStopping()) {
    try {
      if (!_ntrip_client) {
        WriteLog("WriteRTCMBuffer: No Ntrip client for the now");
        std::this_thread::sleep_for(Scaled(_no_client_wait));
        continue;
      }
      std::string chunk;
      {
        std::scoped_lock lock(_raw_mutex);
        if (_stop_raw_writer) {
          WriteLog("EmergencyStopThreads() requested to stop");
          // The client goes once this writer has stopped: what it already received goes out
          // first, or those bytes would be lost with it.
          for (std::string queued; _ntrip_client->TryReadRTCMBuffer(&queued);) {
            WriteRaw(output, queued);
          }
          _raw_writer_stopped = true;
          _raw_stopped_cv.notify_one();
          break;
        }
        chunk = _ntrip_client->ReadRTCMBuffer();
      }
      if (chunk.empty()) {
        WriteLog("WriteRTCMBuffer : No data in RTCM Buffer or stoping");
        continue;
      }
      WriteLog("StartWriting(Output(oRawRTCM) of size : " + std::to_string(chunk.size()));
      // A read never exceeds an element; WriteRaw only guards the element's bound.
      WriteRaw(output, chunk);
    } catch (...) {
      LogWriterException(Importance::Error, tarno::SourceLocation::current());
    }
  }
  if (IsStopping() && _ntrip_client) {
    // What the client had received when the host stopped goes out within the host's drain.
    // Bounded: the receive loop may still be adding chunks.
    try {
      std::string queued;
      for (std::size_t n = 0;
           n <= tarno::NTRIPClient::kMaxQueuedChunks && _ntrip_client->TryReadRTCMBuffer(&queued);
           ++n) {
        WriteRaw(output, queued);
      }
    } catch (...) {
      LogWriterException(Importance::Error, tarno::SourceLocation::current());
    }
  }
  {
    std::scoped_lock lock(_raw_mutex);
    _raw_writer_running = false;
  }
  _raw_stopped_cv.notify_all();
  WriteLog("WriteRTCMBuffer End");
}

void MAPS_NTRIP_Client::WriteDecodedRTCMBuffer() {
  WriteLog("WriteDecodedRTCMBuffer Start");
  const MAPS::OutputPort output = FindOutput("oDecodeRTCM");
  while (!IsStopping()) {
    try {
      if (!_ntrip_client) {
        WriteLog("No Ntrip client for the now");
        std::this_thread::sleep_for(Scaled(_no_client_wait));
        continue;
      }
      std::scoped_lock lock(_decoded_mutex);
      if (_stop_decoded_writer) {
        WriteLog("EmergencyStopThreads() requested to stop");
        for (std::string queued; _ntrip_client->TryReadRTCMDecodedBuffer(&queued);) {
          WriteSummary(output, queued);
        }
        _decoded_writer_stopped = true;
        _decoded_stopped_cv.notify_one();
        break;
      }
      const std::string summary = _ntrip_client->ReadRTCMDecodedBuffer();
      if (summary.empty()) {
        WriteLog("WriteDecodedRTCMBuffer No data in RTCM Buffer or Stoping");
        continue;
      }
      WriteLog("WriteDecodedRTCMBuffer !rtcm_message_decode.empty()");
      // An epoch of many satellites outgrows one element: whole lines per element, in order.
      WriteSummary(output, summary);
    } catch (...) {
      LogWriterException(Importance::Info, tarno::SourceLocation::current());
    }
  }
  if (IsStopping() && _ntrip_client) {
    try {
      std::string queued;
      for (std::size_t n = 0; n <= tarno::NTRIPClient::kMaxQueuedChunks &&
                              _ntrip_client->TryReadRTCMDecodedBuffer(&queued);
           ++n) {
        WriteSummary(output, queued);
      }
    } catch (...) {
      LogWriterException(Importance::Info, tarno::SourceLocation::current());
    }
  }
  {
    std::scoped_lock lock(_decoded_mutex);
    _decoded_writer_running = false;
  }
  _decoded_stopped_cv.notify_all();
  WriteLog("WriteDecodedRTCMBuffer End");
}

tarno::ClientTiming MAPS_NTRIP_Client::ScaledTiming() const {
  tarno::ClientTiming timing;
  for (auto* wait :
       {&timing.gga_period, &timing.receive_period, &timing.reader_wait, &timing.connect_bound,
        &timing.request_bound, &timing.header_bound, &timing.idle_read_bound,
        &timing.rtcm_check_window}) {
    *wait = Scaled(*wait);
  }
  return timing;
}

void MAPS_NTRIP_Client::DropFailedClient(const std::string& cause) {
  _ntrip_client.reset();
  RecordFailedSetup(cause);
}

void MAPS_NTRIP_Client::RecordFailedSetup(const std::string& cause) {
  const double delay =
      static_cast<double>(
          _spacing->RecordFailure(_route, tarno::SetupSpacingBook::Clock::now()).count()) *
      _time_scale;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", delay);
  WriteLog("Next connection attempt in " + std::string(text) + " s");
  if (IsStopping()) return;
  ReportInfo(tarno::RetryingEvent(delay, cause.empty() ? "no connection" : cause));
}

void MAPS_NTRIP_Client::WarnOnce(const tarno::Refusal& refusal, const double* position) {
  if (refusal.kind == tarno::Refusal::Kind::None) return;
  // Info: with the console destination a log line of higher importance would be a report at
  // every retry.
  WriteLog(refusal.text);
  if (refusal.text == _last_refusal) return;
  _last_refusal = refusal.text;
  if (refusal.kind != tarno::Refusal::Kind::UnknownMount || position == nullptr) {
    ReportWarning(refusal.text);
    return;
  }
  // Once per refusal: the caster's own mount points, nearest first, say what to set instead.
  tarno::CasterAddress caster;
  caster.host = GetStringProperty("ip");
  caster.port = GetStringProperty("port");
  caster.username = GetStringProperty("username");
  caster.password = GetStringProperty("password");
  caster.tls = GetBoolProperty("tls");
  caster.tls_ca_file = GetStringProperty("tls_ca_file");
  caster.proxy = Proxy();
  // The lookup asks as the stream request does.
  const std::int64_t ntrip_version = GetIntegerProperty("ntrip_version");
  caster.version = AsksNtrip1()                  ? tarno::NtripVersion::V1
                   : ntrip_version == kNtripAuto ? tarno::NtripVersion::Auto
                                                 : tarno::NtripVersion::V2;
  tarno::ClientTiming timing = ScaledTiming();
  // The lookup only adds names to a warning: no read of it waits longer than a head.
  timing.idle_read_bound = timing.header_bound;
  std::stop_token stop;
  {
    // A stop of the component closes the lookup's socket, as it closes a client in set-up.
    std::scoped_lock lock(_setup_mutex);
    _lookup_stop = std::stop_source();
    stop = _lookup_stop.get_token();
  }
  const tarno::FetchedSourcetable fetched = tarno::FetchSourcetable(caster, timing, stop);
  if (fetched.refusal.kind != tarno::Refusal::Kind::None) {
    WriteLog("Sourcetable not read: " + fetched.refusal.text);
  }
  std::vector<std::string> names;
  for (const tarno::RankedStream& ranked :
       tarno::SortByDistance(fetched.table.streams, position[0], position[1])) {
    names.push_back(ranked.stream.mountpoint);
  }
  ReportWarning(tarno::WithMountPoints(refusal, GetStringProperty("mountpoint"), names).text);
}

bool MAPS_NTRIP_Client::ProvenLink(std::uint64_t delivered) const {
  return delivered >= kShortLinkBytes ||
         (delivered > 0 && std::chrono::steady_clock::now() - _connected_at >= Scaled(kShortLink));
}

bool MAPS_NTRIP_Client::LastingLink(std::uint64_t delivered) const {
  return delivered > 0 && std::chrono::steady_clock::now() - _connected_at >= Scaled(kShortLink);
}

bool MAPS_NTRIP_Client::UsableSample(const MAPS::InputElt<double>& sample) {
  if (sample.DataPointer(0) != nullptr && sample.VectorSize(0) >= kSampleValues) return true;
  WriteLog("Position sample ignored: " + std::to_string(sample.VectorSize(0)) +
           " values, at least 4 needed");
  return false;
}

tarno::HttpProxy MAPS_NTRIP_Client::Proxy() {
  tarno::HttpProxy proxy = tarno::ParseProxy(GetStringProperty("proxy"));
  proxy.username = GetStringProperty("proxy_username");
  proxy.password = GetStringProperty("proxy_password");
  return proxy;
}

std::string MAPS_NTRIP_Client::CasterRoute() {
  return GetStringProperty("ip") + " " + GetStringProperty("port") + " " +
         GetStringProperty("proxy") + (GetBoolProperty("tls") ? " tls" : "");
}

void MAPS_NTRIP_Client::first_time_process(std::int64_t timestamp,
                                           MAPS::InputElt<double> sample) {
  WriteLog("first_time_process Start");
  if (!_refused_settings.empty()) return;  // reported at start
  if (!UsableSample(sample)) return;
  ProbeInternetOnce();
  if (_ntrip_client) {
    WriteLog("There is nothing to initialize _ntrip_client != nullptr");
    WriteLog("first_time_process End");
    return;
  }
  if (!SetupDue()) return;
  const double* values = sample.DataPointer(0);
  if (!BuildClient(values)) return;
  switch (ConnectClient(values)) {
    case SetupOutcome::Connected:
      StartWriters();
      WriteLog("first_time_process End");
      return;
    case SetupOutcome::TryNtrip1:
      // The 1.0 request goes at once, not spaced.
      first_time_process(timestamp, std::move(sample));
      return;
    case SetupOutcome::Failed:
      return;
  }
}

void MAPS_NTRIP_Client::ProbeInternetOnce() {
  if (_internet_probed) return;
  // Once, before the first client. The connection attempt is the real test of the link: a
  // failed probe (ICMP blocked by a firewall) only warns, and no rebuild ever waits for it.
  _internet_probed = true;
  const std::string ip_for_probe = GetStringProperty("ip");
  if (const std::string proxy = GetStringProperty("proxy"); !proxy.empty()) {
    // The proxy is the way out: a ping past it proves nothing about the caster.
    WriteLog("Internet probe skipped: the caster is reached through the proxy " + proxy);
  } else if (!_probe.probe_local_casters &&
             tarno::IsLocalCasterAddress(ip_for_probe, _probe.resolver)) {
    // A caster on this machine or the local network needs no public internet.
    WriteLog("Internet probe skipped: the caster " + ip_for_probe + " is a local address");
  } else if (!tarno::IsInternetAvailable(_probe.runner)) {
    WriteLog("Internet is not available");
    ReportWarning("Internet is not available");
  }
}

bool MAPS_NTRIP_Client::AsksNtrip1() {
  const std::int64_t ntrip_version = GetIntegerProperty("ntrip_version");
  return ntrip_version == kNtrip1 ||
         (ntrip_version == kNtripAuto && _ntrip1_route == CasterRoute());
}

bool MAPS_NTRIP_Client::SetupDue() {
  const auto now = tarno::SetupSpacingBook::Clock::now();
  if (_spacing->MayAttempt(_route, now)) return true;
  char left[32];
  std::snprintf(left, sizeof left, "%.1f", _spacing->SecondsLeft(_route, now));
  WriteLog("Waiting before the next connection attempt: " + std::string(left) + " s left after " +
           std::to_string(_spacing->Failures(_route)) + " failed attempts");
  return false;
}

bool MAPS_NTRIP_Client::BuildClient(const double* values) {
  const bool ntrip1 = AsksNtrip1();
  try {
    const std::string mountpoint = GetStringProperty("mountpoint");
    const std::string port = GetStringProperty("port");
    const std::string ip = GetStringProperty("ip");
    const tarno::ClientTiming timing = ScaledTiming();
    auto client = std::make_shared<tarno::NTRIPClient>(ip, port, mountpoint, values[0], values[1],
                                                       values[2], _decode_rtcm, timing, Proxy());
    if (GetBoolProperty("tls")) client->SetTls(GetStringProperty("tls_ca_file"));
    if (ntrip1) client->UseNtrip1();
    _ntrip_client = std::move(client);
  } catch (const boost::system::system_error& e) {
    // The caster's name does not resolve: a refusal like the others, said once and then
    // retried quietly with spacing, instead of an error report at every attempt.
    const std::string text = std::string("Exception: ") + e.what();
    ReportInfo(text);
    WriteLog(text, Importance::Error);
    const tarno::Refusal refusal =
        tarno::ResolutionRefusal(e.code(), GetStringProperty("ip"), Proxy());
    WarnOnce(refusal);
    RecordFailedSetup(refusal.text);
    return false;
  } catch (const std::exception& e) {
    const std::string text = std::string("Exception: ") + e.what();
    ReportInfo(text);
    WriteLog(text, Importance::Error);
    RecordFailedSetup(e.what());
    throw std::runtime_error(text);
  }
  const std::string password = GetStringProperty("password");
  const std::string username = GetStringProperty("username");
  _ntrip_client->SetCredentials(username, password);
  return true;
}

MAPS_NTRIP_Client::SetupOutcome MAPS_NTRIP_Client::ConnectClient(const double* values) {
  {
    std::scoped_lock lock(_setup_mutex);
    _client_in_setup = _ntrip_client;
  }
  struct SetupDone {
    MAPS_NTRIP_Client& self;
    ~SetupDone() {
      std::scoped_lock lock(self._setup_mutex);
      self._client_in_setup.reset();
    }
  } setup_done{*this};

  if (IsStopping() || _ntrip_client->InitSocket() != tarno::ClientState::SocketConnected) {
    ReportInfo(tarno::reports::kBoostInitialisationError);
    // A TLS verification failure is one of these refusals: warned once, with its reason.
    const tarno::Refusal refusal = _ntrip_client->LastRefusal();
    if (!IsStopping()) WarnOnce(refusal);
    DropFailedClient(refusal.text);
    WriteLog("Restart the Socket Error while Initialization", Importance::Error);
    return SetupOutcome::Failed;
  }
  ReportInfo(tarno::ConnectingEvent(_ntrip_client->GetHost(), _ntrip_client->GetPort()));
  if (!IsStopping() && _ntrip_client->Connection() == tarno::ClientState::Connected) {
    ReportInfo(tarno::ConnectedEvent(_ntrip_client->GetHost(), _ntrip_client->GetPort(),
                                     GetStringProperty("mountpoint"), _ntrip_client->Protocol(),
                                     _ntrip_client->ProxyLabel()));
    return SetupOutcome::Connected;
  }
  if (!IsStopping() && GetIntegerProperty("ntrip_version") == kNtripAuto && !AsksNtrip1() &&
      tarno::RefusesNtrip2(_ntrip_client->AnswerStatus())) {
    // The caster may be an NTRIP 1.0 one: the 1.0 request goes at once, not spaced, and stays
    // the request for this caster while the properties stay the same.
    _ntrip1_route = CasterRoute();
    const std::string text = "caster answered the NTRIP 2.0 request with status " +
                             std::to_string(_ntrip_client->AnswerStatus()) +
                             ": trying NTRIP 1.0";
    ReportInfo(text);
    WriteLog(text);
    if (_ntrip_client->IsSocketConnected()) _ntrip_client->CloseConnection();
    _ntrip_client.reset();
    return SetupOutcome::TryNtrip1;
  }
  ReportInfo(tarno::reports::kErrorWhileConnecting);
  // A 2.0 request the setting forced, refused as a caster of 1.0 alone would: say what to set.
  const tarno::Refusal refusal =
      !AsksNtrip1() && tarno::RefusesNtrip2(_ntrip_client->AnswerStatus())
          ? tarno::Ntrip2Refused(_ntrip_client->AnswerStatus(), _ntrip_client->GetHost(),
                                 _ntrip_client->GetPort(), GetStringProperty("mountpoint"))
          : _ntrip_client->LastRefusal();
  if (!IsStopping()) WarnOnce(refusal, values);
  if (_ntrip_client->IsSocketConnected()) _ntrip_client->CloseConnection();
  DropFailedClient(refusal.text);
  WriteLog(tarno::reports::kErrorWhileConnecting, Importance::Error);
  return SetupOutcome::Failed;
}

void MAPS_NTRIP_Client::StartWriters() {
  _connected_at = std::chrono::steady_clock::now();
  InitFlagsThread();
  _raw_writer_running = true;
  _jread_rtcm = std::jthread([this] {
    tarno::NameThisThread("ntrip-raw-wr");
    tarno::LogRouteScope route_scope(_log_route);
    WriteRTCMBuffer();
  });
  if (_ntrip_client->IsDecoding()) {
    _decoded_writer_running = true;
    _jread_rtcm_decoded = std::jthread([this] {
      tarno::NameThisThread("ntrip-dec-wr");
      tarno::LogRouteScope route_scope(_log_route);
      WriteDecodedRTCMBuffer();
    });
  }
}

void MAPS_NTRIP_Client::on_data_callback(std::int64_t timestamp, MAPS::InputElt<double> sample) {
  WriteLog("Start on data callback");
  if (!_ntrip_client) {
    WriteLog("Trying to Initialize the socket again");
    first_time_process(timestamp, std::move(sample));
    WriteLog("first_time_process done leave on data callback");
    return;
  }
  if (!UsableSample(sample)) return;
  const tarno::ClientState state = _ntrip_client->State();
  ReportInfo(tarno::reports::kStatePrefix + std::to_string(static_cast<std::int32_t>(state)));
  if (static_cast<std::int32_t>(state) < static_cast<std::int32_t>(tarno::ClientState::Connected)) {
    // The receive loop has ended: the count is final.
    const std::uint64_t delivered = _ntrip_client->BytesReceived();
    const bool proven = ProvenLink(delivered);
    // A link the client itself ended says why; only the caster's early close is a short link.
    const bool short_link =
        !proven && !_ntrip_client->EndedByClient() &&
        (delivered > 0 || std::chrono::steady_clock::now() - _connected_at < Scaled(kShortLink));
    const tarno::Refusal short_refusal =
        short_link ? tarno::ShortConnection(GetStringProperty("mountpoint"), delivered)
                   : tarno::Refusal{};
    const std::string cause = short_link ? short_refusal.text : _ntrip_client->LossCause();
    const std::string loss = cause.empty() ? std::string("the link closed") : cause;
    ReportInfo(tarno::LostEvent(loss));
    ReportInfo(tarno::reports::kBelowConnected);
    WriteLog(tarno::reports::kBelowConnected);
    EmergencyStopThreads();
    _ntrip_client->_ActiveShutdownSendGGAtoServer();
    _ntrip_client.reset();
    // A link that carried corrections is rebuilt at once; one that never did, or that a caster
    // closed after a few bytes, counts as a failed set-up (wrong mount point, a caster that
    // hangs up), so its retries are spaced: casters ban clients that reconnect in a storm. So
    // does a caster that closes every connection soon after some data, once it did so a few
    // times in a row.
    if (LastingLink(delivered)) {
      _spacing->RecordSuccess(_route);
    } else if (proven) {
      const std::uint32_t in_a_row = _spacing->RecordShortLink(_route);
      if (in_a_row >= tarno::SetupSpacingBook::kShortLinksTolerated) {
        const std::string text = tarno::ShortConnection(GetStringProperty("mountpoint"), delivered)
                                     .text +
                                 ", " + std::to_string(in_a_row) + " times in a row";
        WriteLog(text);
        if (in_a_row == tarno::SetupSpacingBook::kShortLinksTolerated) ReportWarning(text);
        RecordFailedSetup(text);
      }
    } else {
      WarnOnce(short_refusal);
      RecordFailedSetup(loss);
    }
    // The rebuild starts with this very sample: a pause, or waiting for the next sample, would
    // add a second or two without corrections to every drop.
    first_time_process(timestamp, std::move(sample));
    return;
  }
  if (ProvenLink(_ntrip_client->BytesReceived())) {
    _last_refusal.clear();  // the same refusal later is news again
  }
  if (LastingLink(_ntrip_client->BytesReceived())) _spacing->RecordSuccess(_route);
  WarnOnce(_ntrip_client->TakeContentWarning());

  const double* values = sample.DataPointer(0);
  _ntrip_client->SetPosition(tarno::GpsCoordinate(values[0], values[1], values[2]));

  const std::string accuracy_text = tarno::reports::kAccuracyPrefix + Fixed6(values[3]) + " m";
  ReportInfo(accuracy_text);
  WriteLog(accuracy_text);
  if (values[3] > _position_accuracy) {
    ++_accuracy_error_count;
    WriteLog("Position accuracy above " + Fixed6(_position_accuracy) + " m");
    if (_accuracy_error_count > _max_accuracy_errors) {
      _accuracy_error_count = 0;
      ReportInfo(tarno::reports::kAccuracyErrorsReached);
      WriteLog(tarno::reports::kAccuracyErrorsReached);
      ReportInfo("Reset the NTRIP Client because reach max number of accuracy errors");
      EmergencyStopThreads();
      _ntrip_client->_ActiveShutdownSendGGAtoServer();
      _ntrip_client.reset();
      return;
    }
  }
  WriteLog("End on data callback");
}
