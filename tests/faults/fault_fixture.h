#pragma once
// Helpers for the fault-injection cases: what the component's outputs must satisfy against what
// the caster served, counting of its log lines and reports, and a loopback port nobody listens on.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "component_fixture.h"

namespace fault_test {

using namespace component_test;
using namespace std::chrono_literals;

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The raw output must be the served stream, connection after connection, cut anywhere: a lost,
// repeated or reordered byte breaks the prefix.
inline ::testing::AssertionResult IsPrefixOfServed(const std::string& raw,
                                                   const std::string& served) {
  if (raw.size() > served.size()) {
    return ::testing::AssertionFailure()
           << "raw output has " << raw.size() << " bytes, the caster served only " << served.size();
  }
  const auto diff = std::mismatch(raw.begin(), raw.end(), served.begin());
  if (diff.first != raw.end()) {
    const auto offset = static_cast<std::size_t>(diff.first - raw.begin());
    // Where the differing bytes were served, if anywhere: tells a loss from a repeat.
    const auto found = served.find(raw.substr(offset, 16));
    return ::testing::AssertionFailure()
           << "raw output differs from the served bytes at offset " << offset << " of "
           << raw.size() << "; the next raw bytes were served at "
           << (found == std::string::npos ? std::string("no offset") : std::to_string(found))
           << " of " << served.size();
  }
  return ::testing::AssertionSuccess();
}

// What each connection served and how the raw output was cut, for failure messages.
inline std::string DescribeTraffic(ComponentHarness& h) {
  std::string text = "served per connection:";
  for (std::size_t i = 0; i < h.Connections(); ++i) {
    const auto record = h.Caster().Connection(i);
    text += " " + std::to_string(record.served.size()) + (record.closed ? "(closed)" : "");
  }
  text += "; raw elements:";
  for (const auto& element : h.Raw().Elements()) text += " " + std::to_string(element.size());
  return text;
}

// Information reports (log lines included) that start with `prefix`.
inline std::size_t CountInfoStartingWith(ComponentHarness& h, const std::string& prefix) {
  std::size_t n = 0;
  for (const auto& report : h.Reports().All()) {
    if (report.kind == MAPS::ReportKind::Information && StartsWith(report.text, prefix)) ++n;
  }
  return n;
}

// Reports of any kind whose text contains `part`.
inline std::size_t CountReportsContaining(ComponentHarness& h, const std::string& part) {
  std::size_t n = 0;
  for (const auto& report : h.Reports().All()) {
    if (report.text.find(part) != std::string::npos) ++n;
  }
  return n;
}

// Information texts that start with `prefix`, in order.
inline std::vector<std::string> InfoStartingWith(ComponentHarness& h, const std::string& prefix) {
  std::vector<std::string> texts;
  for (const auto& text : h.Reports().Texts(MAPS::ReportKind::Information)) {
    if (StartsWith(text, prefix)) texts.push_back(text);
  }
  return texts;
}

// A loopback port that refuses connections: bound once to get a free number, then released.
inline std::uint16_t RefusedLoopbackPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(
      io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  const std::uint16_t port = acceptor.local_endpoint().port();
  acceptor.close();
  return port;
}

// Offsets where the RTCM 3 frames of a recording end (the recording holds whole frames).
inline std::vector<std::size_t> FrameEnds(const std::string& bytes) {
  std::vector<std::size_t> ends;
  std::size_t at = 0;
  while (at + 3 <= bytes.size() && static_cast<unsigned char>(bytes[at]) == 0xD3) {
    const std::size_t length = ((static_cast<unsigned char>(bytes[at + 1]) & 0x03U) << 8U) |
                               static_cast<unsigned char>(bytes[at + 2]);
    at += length + 6;
    ends.push_back(at);
  }
  return ends;
}

}  // namespace fault_test
