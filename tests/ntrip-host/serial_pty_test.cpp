// Serial pieces against a pseudo-terminal: the sink writes into the pty, the source reads from it.
#include "positions/live_nmea_source.h"
#include "eventually.h"
#include "sinks/serial_sink.h"

#include "nmea_text.h"

#include <gtest/gtest.h>

#include <atomic>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace ntrip_host {
namespace {

using namespace std::chrono_literals;

class Pty {
 public:
  Pty() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    name_ = name;
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }
  bool Ok() const { return master_ >= 0; }
  const std::string& Name() const { return name_; }

  // Reads from the master side until `count` bytes came or ten seconds passed.
  std::string ReadMaster(std::size_t count) {
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (data.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{master_, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      const auto got = ::read(master_, buffer, sizeof buffer);
      if (got <= 0) break;
      data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
  }
  void WriteMaster(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

TEST(SerialSink, WritesElementsUnchangedToThePort) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  SinkSettings settings;
  settings.log = [](LogLevel, const std::string&) {};
  SerialSink sink({pty.Name(), 115200}, "--raw-out", settings);
  const std::string element("\xd3\x00\x04\n\r\x00\x11\x13", 8);  // newline, CR, zero, XON/XOFF
  sink.Write(element);
  sink.Write(element);
  EXPECT_EQ(pty.ReadMaster(16), element + element);
  sink.Close();
  EXPECT_EQ(sink.Counters().elements_written, 2u);
  EXPECT_EQ(sink.Counters().elements_dropped, 0u);
}

TEST(SerialSink, APortThatStopsTakingBytesCostsElementsNotTheWriter) {
  Pty pty;  // nobody reads the master side: the port fills up
  ASSERT_TRUE(pty.Ok());
  SinkSettings settings;
  settings.queue_limit = 4096;
  settings.close_drain = 100ms;
  std::atomic<int> warnings{0};
  settings.log = [&](LogLevel level, const std::string&) {
    if (level == LogLevel::kWarning) ++warnings;
  };
  SerialSink sink({pty.Name(), 115200}, "--raw-out", settings);
  const std::string element(1024, 'x');
  for (int i = 0; i < 512; ++i) sink.Write(element);  // must return although the port is full
  sink.Close();  // ends the stalled write after the drain bound
  const SinkCounters counters = sink.Counters();
  EXPECT_EQ(counters.elements_written, 512u);
  EXPECT_GT(counters.elements_dropped, 0u);
  EXPECT_GE(warnings.load(), 1);
}

TEST(NmeaOverSerial, ReadsPositionsFromThePort) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  LiveNmeaSettings settings;
  settings.log = [](LogLevel, const std::string&) {};
  auto source = LiveNmeaSource::Serial({pty.Name(), 9600}, settings);
  pty.WriteMaster(Nmea("GPGGA,080000.00,4500.000,S,00700.000,W,4,12,0.8,250.0,M,47.0,M,,") +
                  "\r\n");
  ASSERT_TRUE(Eventually([&] { return source->Counters().sentences_read >= 1; }));
  const auto sample = source->Next();
  ASSERT_TRUE(sample);
  EXPECT_DOUBLE_EQ((*sample)[0], -45.0);
  EXPECT_DOUBLE_EQ((*sample)[1], -7.0);
  EXPECT_DOUBLE_EQ((*sample)[3], 0.02);
  EXPECT_EQ(source->Counters().BadSentences(), 0u);
}

}  // namespace
}  // namespace ntrip_host
