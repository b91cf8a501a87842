#pragma once
// What the client's loopback tests share: short timings, a pinned clock, a log capture, and
// helpers that connect a client and collect its stream.
#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>

#include "gga.h"
#include "log_capture.h"
#include "ntrip_interface.h"

namespace client_test {

using namespace std::chrono_literals;

// The system's own wording of a timeout, as the client logs it (it differs between systems).
inline std::string TimedOutText() {
  return boost::system::error_code(boost::asio::error::timed_out).message();
}

inline tarno::UtcClock PinnedClock() {
  return [] { return std::chrono::system_clock::from_time_t(1'700'000'000); };
}

// Timings that keep every wait of a test short. The GGA period stays long unless a test sets it.
inline tarno::ClientTiming FastTiming() {
  tarno::ClientTiming t;
  t.gga_period = 60s;
  t.receive_period = 20ms;
  t.reader_wait = 100ms;
  t.connect_bound = 5s;
  t.request_bound = 5s;
  t.header_bound = 5s;
  t.idle_read_bound = 10s;
  t.utc_clock = PinnedClock();
  return t;
}

inline std::string RandomBytes(std::size_t n, unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::string bytes(n, '\0');
  for (char& b : bytes) b = static_cast<char>(rng() & 0xFF);
  return bytes;
}

inline std::string Sentence(double lat, double lon, double alt) {
  std::string s;
  tarno::GenerateGGA(lat, lon, alt, &s, PinnedClock());
  return s;
}

class ClientTest : public ::testing::Test {
 protected:
  static constexpr double kLat = 48.8584, kLon = 2.2945, kAlt = 35;

  // Constructs, sets credentials and runs InitSocket and Connection; Connection's result is kept
  // in `connection_result` (the state may move on at once when a short stream ends).
  std::unique_ptr<tarno::NTRIPClient> Connect(const std::string& port,
                                              const std::string& mount = "RTCM3",
                                              tarno::ClientTiming timing = FastTiming(),
                                              bool decode = false,
                                              const std::string& host = "127.0.0.1",
                                              const std::string& user = "user",
                                              const std::string& password = "secret") {
    auto client = std::make_unique<tarno::NTRIPClient>(host, port, mount, kLat, kLon, kAlt, decode,
                                                       std::move(timing));
    client->SetCredentials(user, password);
    if (tls_ca_file) client->SetTls(*tls_ca_file);
    connection_result = tarno::ClientState::Error;
    if (client->InitSocket() == tarno::ClientState::SocketConnected) {
      connection_result = client->Connection();
    }
    return client;
  }

  tarno::ClientState connection_result = tarno::ClientState::Disconnected;
  // Set: Connect makes TLS connections that trust this file ("" for the system's store).
  std::optional<std::string> tls_ca_file;

  // Concatenates raw chunks until `size` bytes came or the reader found nothing for a while.
  static std::string Collect(tarno::NTRIPClient& client, std::size_t size,
                             std::size_t* chunks = nullptr, std::size_t* largest = nullptr) {
    std::string all;
    int empty_reads = 0;
    while (all.size() < size && empty_reads < 30) {
      const std::string chunk = client.ReadRTCMBuffer();
      if (chunk.empty()) {
        ++empty_reads;
        continue;
      }
      empty_reads = 0;
      all += chunk;
      if (chunks) ++*chunks;
      if (largest && chunk.size() > *largest) *largest = chunk.size();
    }
    return all;
  }

  LogCapture log;  // declared first: it outlives every client of the test
};

}  // namespace client_test
