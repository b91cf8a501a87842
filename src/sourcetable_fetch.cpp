#include "sourcetable_fetch.h"

#include <algorithm>
#include <string_view>

#include <boost/asio/error.hpp>

namespace tarno {

namespace {

using Clock = CasterStream::Clock;

constexpr std::string_view kEndLine = "ENDSOURCETABLE";

// True once the body holds the end line at the start of a line; `from` skips what was searched.
bool HasEndLine(std::string_view body, std::size_t from) {
  std::size_t at = from > kEndLine.size() ? from - kEndLine.size() : 0;
  while ((at = body.find(kEndLine, at)) != std::string_view::npos) {
    if (at == 0 || body[at - 1] == '\n') return true;
    ++at;
  }
  return false;
}

// The body, or why it did not come whole.
Refusal ReadBody(CasterStream& stream, const CasterAddress& caster, const ClientTiming& timing,
                 std::string& body) {
  const ResponseHead& head = stream.head();
  // Without a framing, the end of the connection is the end of the table.
  const bool framed = head.chunked || (head.transfer_codings.empty() && head.content_length);
  // The whole answer is bounded too, so a caster trickling bytes cannot hold the fetch.
  const auto answer_deadline = Clock::now() + timing.header_bound + timing.idle_read_bound;
  while (true) {
    const std::size_t before = body.size();
    boost::system::error_code error;
    const auto result =
        stream.Read(body, std::min(answer_deadline, Clock::now() + timing.idle_read_bound), error);
    if (error == boost::asio::error::eof) {
      if (framed) return {Refusal::Kind::Answer, "the sourcetable was cut short"};
      return {};
    }
    if (error) {
      return NoUsableAnswer(caster.host, caster.port, kSourcetableSubject,
                            error == boost::asio::error::timed_out
                                ? "no complete answer in time"
                                : "the answer was cut: " + error.message());
    }
    if (result == CasterStream::Result::Malformed) return {Refusal::Kind::Answer, stream.failure()};
    if (body.size() > kMaxSourcetableBytes) {
      return {Refusal::Kind::Answer,
              "sourcetable longer than " + std::to_string(kMaxSourcetableBytes) + " bytes"};
    }
    // Some casters keep the connection open after the table: its end line ends the answer.
    if (result == CasterStream::Result::End || HasEndLine(body, before)) return {};
  }
}

}  // namespace

FetchedSourcetable FetchSourcetable(const CasterAddress& caster, const ClientTiming& timing,
                                    std::stop_token stop) {
  FetchedSourcetable fetched;
  CasterStream stream(caster, Asked::Sourcetable, "", timing, std::move(stop));
  fetched.status_line = PrintableStatusLine(stream.head().status_line);
  fetched.ntrip1 = stream.ntrip1();
  fetched.refusal = stream.refusal();
  if (fetched.refusal.kind != Refusal::Kind::None) return fetched;
  std::string body;
  fetched.refusal = ReadBody(stream, caster, timing, body);
  if (fetched.refusal.kind == Refusal::Kind::None) fetched.table = ParseSourcetable(body);
  return fetched;
}

}  // namespace tarno
