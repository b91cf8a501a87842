#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "engine.h"
#include "output_fifo.h"
#include "report_collector.h"

namespace {

using maps_host::Engine;
using maps_host::Instance;
using maps_host::OutputFifo;
using Kind = MAPS::ReportKind;

constexpr auto kPatience = std::chrono::seconds(10);

class OutputFifos : public ::testing::Test {
 protected:
  OutputFifos() : engine_({.sampling_period_scale = 0.01, .report_sink = reports_.Sink()}) {
    engine_.LoadPackage(PROBE_PACKAGE_PATH);
  }
  Instance& Probe(const char* mode) {
    Instance& probe = engine_.CreateInstance("HostProbe", "probe");
    probe.SetProperty("mode", mode);
    return probe;
  }

  host_test::ReportCollector reports_;
  Engine engine_;
};

TEST_F(OutputFifos, ABurstLargerThanTheFifoComesOutWholeAndInOrder) {
  Instance& probe = Probe("Burst");  // 20 elements into a FIFO of 4
  probe.Start();
  for (int i = 0; i < 20; ++i) {
    auto element = probe.PopOutput("oEvents", kPatience);
    ASSERT_TRUE(element.has_value()) << "element " << i << " lost";
    EXPECT_EQ(host_test::ElementText(*element), "n" + std::to_string(i));
  }
  probe.Stop();
  EXPECT_TRUE(reports_.Texts(Kind::Error).empty());
}

TEST_F(OutputFifos, AWriterWaitingForRoomGivesUpWithTheStopAndNothingIsDropped) {
  Instance& probe = Probe("Burst");
  probe.Start();
  // Nobody reads: with four elements published the writer waits for room until the stop.
  ASSERT_TRUE(reports_.WaitFor([](const auto& r) { return r.text == "writing n4"; }));
  probe.Stop();
  EXPECT_FALSE(reports_.Has(Kind::Information, "writing n5"));
  EXPECT_FALSE(probe.HasFailed());
  EXPECT_TRUE(reports_.Texts(Kind::Error).empty());
  std::vector<std::string> left;
  while (auto element = probe.PopOutput("oEvents", kPatience)) {
    left.push_back(host_test::ElementText(*element));
  }
  EXPECT_EQ(left, (std::vector<std::string>{"n0", "n1", "n2", "n3"}));
}

TEST_F(OutputFifos, AnOversizedElementIsReportedRaisesTheErrorSignalAndIsNotPublished) {
  Instance& probe = Probe("Overflow");
  probe.Start();
  auto caught = probe.PopOutput("oEvents", kPatience);
  ASSERT_TRUE(caught.has_value());
  EXPECT_EQ(host_test::ElementText(*caught), "overflow caught -5");
  EXPECT_TRUE(reports_.Has(Kind::Error, "Buffer overflow detected: VectorSize(9) > BufferSize(8)"));
  // The element that overflowed is gone; the output still carries the next one.
  auto next = probe.PopOutput("oSmall", kPatience);
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(host_test::ElementText(*next), "12345678");
  probe.Stop();
}

TEST_F(OutputFifos, AConsumerCallbackReceivesEveryElementInOrder) {
  Instance& probe = Probe("Burst");
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> seen;
  probe.SetOutputConsumer("oEvents", [&](const maps_host::OutputElement& element) {
    {
      std::scoped_lock lock(mutex);
      seen.push_back(host_test::ElementText(element));
    }
    arrived.notify_all();
  });
  probe.Start();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, kPatience, [&] { return seen.size() == 20; }));
  }
  probe.Stop();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[i], "n" + std::to_string(i));
}

TEST(OutputFifo, AnElementItNeverGaveOutIsLeftAlone) {
  OutputFifo fifo(nullptr, 8, 2);
  MAPSIOElt stranger(nullptr, 8);
  EXPECT_EQ(fifo.Give(&stranger, false, 0), OutputFifo::Release::Foreign);
}

TEST(OutputFifo, ADiscardedElementFreesItsPlace) {
  OutputFifo fifo(nullptr, 8, 1);
  EXPECT_EQ(fifo.Give(fifo.Acquire(), true, 0), OutputFifo::Release::Discarded);
  MAPSIOElt* element = fifo.Acquire();  // would wait forever if the place were still taken
  element->VectorSize(3);
  EXPECT_EQ(fifo.Give(element, false, 7), OutputFifo::Release::Published);
  auto published = fifo.Pop(std::chrono::steady_clock::now() + kPatience);
  ASSERT_TRUE(published.has_value());
  EXPECT_EQ(published->data.size(), 3U);
  EXPECT_EQ(published->timestamp, 7);
}

TEST(OutputFifo, AClosedEmptyFifoAnswersAtOnce) {
  OutputFifo fifo(nullptr, 8, 1);
  fifo.Close();
  // A far deadline: only the close can end this wait.
  EXPECT_FALSE(fifo.Pop(std::chrono::steady_clock::now() + std::chrono::hours(1)).has_value());
  fifo.RequestStop();
  EXPECT_THROW(
      {
        try {
          fifo.Acquire();
        } catch (int signal) {
          EXPECT_EQ(signal, MAPS::kStopSignal);
          throw;
        }
      },
      int);
}

}  // namespace
