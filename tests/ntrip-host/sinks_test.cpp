#include "sinks/file_sink.h"
#include "common/option_text.h"
#include "eventually.h"
#include "sinks/pipe_sink.h"
#include "sinks/tcp_listen_sink.h"

#include "temp_file.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ntrip_host {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const OptionError& error) {
    return error.what();
  }
  return "no error";
}

SinkSettings QuietSettings() {
  SinkSettings settings;
  settings.log = [](LogLevel, const std::string&) {};
  return settings;
}

// The port a sink listening on port 0 was given, as its description shows it.
unsigned short PortOf(const TcpListenSink& sink) {
  const std::string description = sink.Description();
  return static_cast<unsigned short>(std::stoi(description.substr(description.rfind(':') + 1)));
}

// A client of the sink whose reads give up after ten seconds, so no test can hang on it.
class StreamClient {
 public:
  StreamClient(const std::string& address, unsigned short port, int receive_buffer = 0) {
    const tcp::endpoint where(asio::ip::make_address(address), port);
    socket_.open(where.protocol());
    if (receive_buffer > 0) {
      socket_.set_option(asio::socket_base::receive_buffer_size(receive_buffer));
    }
    timeval bound{10, 0};
    ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    socket_.connect(where);
  }
  // Everything until the sink closes the connection.
  std::string ReadToEnd() {
    std::string data;
    boost::system::error_code ec;
    asio::read(socket_, asio::dynamic_buffer(data), ec);
    return data;
  }
  // Reads until the end, calling on_bytes with each piece.
  template <typename OnBytes>
  void ReadEach(OnBytes&& on_bytes) {
    std::array<char, 8192> buffer;
    boost::system::error_code ec;
    while (true) {
      const std::size_t got = socket_.read_some(asio::buffer(buffer), ec);
      if (ec) return;
      on_bytes(std::string_view(buffer.data(), got));
    }
  }

 private:
  asio::io_context io_;
  tcp::socket socket_{io_};
};

// Reads a client on a thread of its own until the sink ends the stream.
class BackgroundReader {
 public:
  explicit BackgroundReader(StreamClient& client)
      : thread_([this, &client] {
          client.ReadEach([this](std::string_view bytes) {
            {
              std::scoped_lock lock(mutex_);
              received_ += bytes;
            }
            more_.notify_all();
          });
        }) {}
  // Waits until at least `size` bytes came; false after `timeout`.
  bool WaitFor(std::size_t size, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return more_.wait_for(lock, timeout, [&] { return received_.size() >= size; });
  }
  // Everything, once the stream has ended.
  std::string Finish() {
    thread_.join();
    return received_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable more_;
  std::string received_;
  std::jthread thread_;
};

TEST(FileSink, WritesEveryElementByteExactAndVisibleAtOnce) {
  TempFile file("old content that must go");
  auto sink = MakeSink(file.Path(), "--raw-out", QuietSettings());
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
  const std::string with_zeros("\xd3\x00\x00\x13\x00", 5);

  sink->Write(with_zeros);
  EXPECT_EQ(file.Read(), with_zeros);  // flushed before Write returned
  sink->Write(all_bytes);
  sink->Write("");
  EXPECT_EQ(file.Read(), with_zeros + all_bytes);
  sink->Close();
  sink->Close();
  EXPECT_EQ(file.Read(), with_zeros + all_bytes);
  EXPECT_EQ(sink->Counters().bytes_written, 261u);
  EXPECT_EQ(sink->Counters().elements_written, 3u);
}

TEST(FileSink, AFailedWriteIsReportedNotSwallowed) {
  auto sink = MakeSink("/dev/full", "--raw-out", QuietSettings());
  EXPECT_THROW(sink->Write("corrections"), SinkError);
  EXPECT_EQ(sink->Counters().elements_written, 0u);
  sink->Close();
}

TEST(PipeSink, AFifoNobodyReadsNeitherBlocksTheWriterNorHoldsTheClose) {
  TempFile place("");
  const std::string fifo = place.Path() + ".fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::mutex mutex;
  std::vector<std::string> lines;
  SinkSettings settings;
  settings.output_name = "raw output";
  settings.queue_limit = 100000;
  settings.log = [&](LogLevel, const std::string& line) {
    std::scoped_lock lock(mutex);
    lines.push_back(line);
  };
  auto sink = MakeSink(fifo, "--raw-out", settings);  // opening waits for no reader
  const std::string element(2048, 'x');
  for (int i = 0; i < 200; ++i) sink->Write(element);  // beyond the FIFO and the queue
  sink->Close();                                       // a reader that takes nothing is given up
  EXPECT_GT(sink->Counters().elements_dropped, 0u);
  std::scoped_lock lock(mutex);
  EXPECT_THAT(lines, ::testing::Contains(HasSubstr("bytes could not be written to FIFO " + fifo)));
  std::remove(fifo.c_str());
}

TEST(PipeSink, AStallIsSaidOnceThenAtMostOncePerPeriodAndItsRecoveryCountsTheDrops) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  std::mutex mutex;
  std::condition_variable logged;
  std::vector<std::string> lines;
  SinkSettings settings;
  settings.output_name = "raw output";
  settings.queue_limit = 16384;
  settings.stall_report_period = 300ms;
  settings.log = [&](LogLevel, const std::string& line) {
    {
      std::scoped_lock lock(mutex);
      lines.push_back(line);
    }
    logged.notify_all();
  };
  const auto count = [&](const std::string& text) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  PipeSink sink(ends[1], "stdout", settings);
  const std::string element(2048, 'x');
  const auto started = std::chrono::steady_clock::now();
  const auto limit = started + 20s;
  {
    // A reader that takes nothing while a stream keeps coming (paced, so the drops stay many
    // but finite).
    std::unique_lock lock(mutex);
    while (count("still stalled") < 2 && std::chrono::steady_clock::now() < limit) {
      lock.unlock();
      sink.Write(element);
      lock.lock();
      logged.wait_for(lock, 2ms);
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(count("raw output stalled: "), 1);
    EXPECT_GE(count("still stalled"), 2);
    EXPECT_LE(count("still stalled"), static_cast<long>(seconds.count() / 0.3) + 1);
    EXPECT_EQ(count("dropped (the reader takes nothing)"), 0);  // no line per drop
  }
  const SinkCounters dropped = sink.Counters();
  EXPECT_GT(dropped.elements_dropped, 20u);
  EXPECT_EQ(dropped.bytes_dropped, dropped.elements_dropped * element.size());
  {
    // The reader comes back and takes everything: the recovery is said once, with the count.
    std::unique_lock lock(mutex);
    char buffer[8192];
    while (count("recovered") == 0 && std::chrono::steady_clock::now() < limit) {
      lock.unlock();
      while (read(ends[0], buffer, sizeof buffer) > 0) {
      }
      lock.lock();
      logged.wait_for(lock, 2ms);
    }
    EXPECT_EQ(count("recovered"), 1);
    EXPECT_THAT(lines.back(),
                HasSubstr(": " + DroppedText(dropped.elements_dropped, dropped.bytes_dropped) +
                          " dropped while stdout was stalled"));
  }
  sink.Close();
  close(ends[0]);
}

TEST(SinkFactory, BadSinkTextIsRefusedWithTheOptionName) {
  EXPECT_THAT(ErrorOf([] { MakeSink("", "--raw-out"); }), HasSubstr("--raw-out: expected FILE"));
  EXPECT_THAT(ErrorOf([] { MakeSink("tcp://127.0.0.1:5000", "--raw-out"); }),
              HasSubstr("unknown scheme"));
  EXPECT_THAT(ErrorOf([] { MakeSink("tcp-listen://", "--decoded-out"); }),
              HasSubstr("--decoded-out: '': port must be"));
  EXPECT_THAT(ErrorOf([] { MakeSink("tcp-listen://127.0.0.1:99999", "--raw-out"); }),
              HasSubstr("port must be"));
  EXPECT_THAT(ErrorOf([] { MakeSink("tcp-listen://example.org:5000", "--raw-out"); }),
              HasSubstr("ADDR must be a literal"));
  EXPECT_THAT(ErrorOf([] { MakeSink("serial:/dev/ttyS0:x", "--raw-out"); }),
              HasSubstr("baud rate must be"));
  EXPECT_THAT(ErrorOf([] { MakeSink("serial:/nonexistent/tty", "--raw-out"); }),
              HasSubstr("--raw-out: serial:/nonexistent/tty: cannot open"));
  EXPECT_THAT(ErrorOf([] { MakeSink("/nonexistent/dir/raw.bin", "--raw-out"); }),
              HasSubstr("cannot create"));
}

TEST(SinkFactory, APortInUseIsAnErrorAtStart) {
  TcpListenSink first({"127.0.0.1", 0}, "--raw-out", QuietSettings());
  const std::string taken = "tcp-listen://127.0.0.1:" + std::to_string(PortOf(first));
  EXPECT_THAT(ErrorOf([&] { MakeSink(taken, "--raw-out", QuietSettings()); }),
              HasSubstr("cannot listen on port"));
}

TEST(TcpListenSink, EachClientGetsTheStreamFromItsConnectOn) {
  TcpListenSink sink({"127.0.0.1", 0}, "--raw-out", QuietSettings());
  StreamClient early("127.0.0.1", PortOf(sink));
  ASSERT_TRUE(Eventually([&] { return sink.Counters().clients_connected >= 1; }));
  sink.Write(std::string("one\0", 4));
  StreamClient late("127.0.0.1", PortOf(sink));
  ASSERT_TRUE(Eventually([&] { return sink.Counters().clients_connected >= 2; }));
  sink.Write("two");
  sink.Write("three");
  sink.Close();  // drains, then ends both streams
  EXPECT_EQ(early.ReadToEnd(), std::string("one\0twothree", 12));
  EXPECT_EQ(late.ReadToEnd(), "twothree");
  EXPECT_EQ(sink.Counters().clients_connected, 2u);
  EXPECT_EQ(sink.Counters().clients_dropped, 0u);
  EXPECT_EQ(sink.Counters().elements_written, 3u);
}

// Elements a client's socket takes at once are written by the publishing thread; the rest wait
// on the io thread. A client that falls behind and catches up crosses that border both ways.
TEST(TcpListenSink, AClientThatFallsBehindAndCatchesUpGetsEveryByteInOrder) {
  SinkSettings settings = QuietSettings();
  settings.queue_limit = 16u << 20;
  TcpListenSink sink({"127.0.0.1", 0}, "--raw-out", settings);
  StreamClient client("127.0.0.1", PortOf(sink), 4096);
  ASSERT_TRUE(Eventually([&] { return sink.Counters().clients_connected >= 1; }));
  std::string expected;
  std::size_t element = 0;
  const auto write = [&](std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++element) {
      std::string bytes(1000 + element % 1500, '\0');
      for (std::size_t j = 0; j < bytes.size(); ++j) bytes[j] = static_cast<char>(element + j);
      sink.Write(bytes);
      expected += bytes;
    }
  };
  write(2000);  // about 3.5 MB while nothing reads: far more than the socket takes
  BackgroundReader reading(client);
  write(200);  // behind the queue
  ASSERT_TRUE(reading.WaitFor(expected.size(), 30s));
  write(200);  // caught up: at once again
  sink.Close();
  const std::string received = reading.Finish();
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
  EXPECT_EQ(sink.Counters().clients_dropped, 0u);
}

TEST(TcpListenSink, AClientThatNeverReadsIsDroppedWithoutHoldingUpTheOthers) {
  SinkSettings settings = QuietSettings();
  settings.queue_limit = 16 * 1024;
  std::vector<std::string> warnings;
  std::mutex log_mutex;
  settings.log = [&](LogLevel level, const std::string& line) {
    std::scoped_lock lock(log_mutex);
    if (level == LogLevel::kWarning) warnings.push_back(line);
  };
  TcpListenSink sink({"127.0.0.1", 0}, "--raw-out", settings);
  StreamClient stuck("127.0.0.1", PortOf(sink), 4096);
  StreamClient reader("127.0.0.1", PortOf(sink));
  ASSERT_TRUE(Eventually([&] { return sink.Counters().clients_connected >= 2; }));
  BackgroundReader reading(reader);
  std::string expected;
  std::size_t element = 0;
  // The reading client keeps up (the writer waits for it to be at most 8 KiB behind); the
  // stuck one falls behind until its kernel buffers and its queue are full. The bound on the
  // loop turns a missing drop into a failure instead of a hang.
  const auto write_next = [&] {
    if (expected.size() > 8192 && !reading.WaitFor(expected.size() - 8192, 10s)) return false;
    const std::string bytes(2048, static_cast<char>(element++ % 251));
    sink.Write(bytes);
    expected += bytes;
    return true;
  };
  constexpr std::size_t kMaxBytes = 256u << 20;
  while (sink.Counters().clients_dropped == 0 && expected.size() < kMaxBytes) {
    ASSERT_TRUE(write_next()) << "the reading client was held up";
  }
  ASSERT_TRUE(Eventually([&] { return sink.Counters().clients_dropped >= 1; }));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(write_next());  // the stream goes on for the others
  sink.Close();
  const std::string received = reading.Finish();
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
  EXPECT_EQ(sink.Counters().clients_dropped, 1u);
  std::scoped_lock lock(log_mutex);
  EXPECT_THAT(warnings, ::testing::ElementsAre(HasSubstr("dropping client 127.0.0.1:")));
  EXPECT_THAT(warnings, ::testing::Contains(HasSubstr("more than 16384 bytes waiting for it")));
}

TEST(TcpListenSink, ListensOnLoopbackWithoutAnAddressAndEverywhereOnlyWhenAsked) {
  TcpListenSink v6({"::1", 0}, "--raw-out", QuietSettings());
  StreamClient client6("::1", PortOf(v6));
  ASSERT_TRUE(Eventually([&] { return v6.Counters().clients_connected >= 1; }));
  v6.Write("six");
  v6.Close();
  EXPECT_EQ(client6.ReadToEnd(), "six");

  // The corrections are not offered to the network unless an address says so.
  TcpListenSink local({"", 0}, "--raw-out", QuietSettings());
  EXPECT_THAT(local.Description(), ::testing::StartsWith("tcp-listen://127.0.0.1:"));

  TcpListenSink any({"::", 0}, "--raw-out", QuietSettings());
  StreamClient over4("127.0.0.1", PortOf(any));
  StreamClient over6("::1", PortOf(any));
  ASSERT_TRUE(Eventually([&] { return any.Counters().clients_connected >= 2; }));
  any.Write("both");
  any.Close();
  EXPECT_EQ(over4.ReadToEnd(), "both");
  EXPECT_EQ(over6.ReadToEnd(), "both");
}

TEST(TcpListenSink, ClosingWithNoClientsOrAfterClientsLeftReturns) {
  TcpListenSink sink({"127.0.0.1", 0}, "--raw-out", QuietSettings());
  {
    StreamClient gone("127.0.0.1", PortOf(sink));
    ASSERT_TRUE(Eventually([&] { return sink.Counters().clients_connected >= 1; }));
  }
  sink.Write("nobody listens");
  sink.Close();
  sink.Write("after close is ignored");
  EXPECT_EQ(sink.Counters().elements_written, 1u);
}

}  // namespace
}  // namespace ntrip_host
