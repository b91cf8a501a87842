// A caster's answer through the client's parsers: the head reader (status line, header lines,
// the head size bound), the body decoder (plain, chunked, the optional blank line) and the codings
// after it (gzip, deflate), fed whole and cut into reads at input-chosen places. Both feedings
// must give the same results. And the payload, coded as casters code it (a gzip member or a
// flushed deflate stream per write), must come back byte for byte, each write as soon as it is in.
// The same bytes as a proxy's answer to CONNECT: read a byte at a time, then judged.
//
// Input layout (missing bytes read as zero):
//   [0]  flags: 1 the ICY lead for the direct body run, 2 chunked framing for it, 4 gzip (else
//        deflate) for the coding runs, 8 raw deflate instead of the zlib format
//   [1]  read size table length (low 4 bits), then that many size bytes
//   rest the answer as the caster sends it
#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "caster_response.h"
#include "content_coding.h"
#include "fuzz_input.h"
#include "http_proxy.h"
#include "stream_body.h"

namespace {

using fuzzing::FuzzInput;
using tarno::ResponseHeadReader;
using tarno::StreamBodyDecoder;

struct BodyRun {
  StreamBodyDecoder::Result result = StreamBodyDecoder::Result::Ok;
  std::string out;
  std::size_t consumed = 0;  // bytes handed over before the decoder stopped
};

// Feeds pieces until the decoder stops (End or Malformed), as the client does.
BodyRun RunBody(StreamBodyDecoder::Framing framing, bool skip_blank, std::string_view body,
                const std::vector<uint8_t>& sizes) {
  StreamBodyDecoder decoder(framing, skip_blank);
  BodyRun run;
  fuzzing::ForEachPiece(body, sizes, [&](std::string_view piece) {
    if (run.result != StreamBodyDecoder::Result::Ok) return;
    const std::size_t before = run.out.size();
    run.result = decoder.Feed(piece, run.out);
    run.consumed += piece.size();
    // Framing only ever removes bytes; the few held while the ICY lead is undecided come later.
    FUZZ_CHECK(run.out.size() - before <= piece.size() + 66);
    FUZZ_CHECK(run.out.size() <= run.consumed);
    if (run.result == StreamBodyDecoder::Result::Malformed) {
      FUZZ_CHECK(!decoder.failure().empty());
    }
  });
  if (framing == StreamBodyDecoder::Framing::Plain && !skip_blank) {
    // Plain: the bytes themselves.
    FUZZ_CHECK(run.result == StreamBodyDecoder::Result::Ok);
    FUZZ_CHECK(run.out == body);
  } else if (framing == StreamBodyDecoder::Framing::Plain) {
    // After an ICY line: what follows the lead (blank line or header lines), never more.
    FUZZ_CHECK(run.out.size() <= body.size());
    FUZZ_CHECK(body.substr(body.size() - run.out.size()) == run.out);
  }
  return run;
}

void CheckSameBody(const BodyRun& a, const BodyRun& b) {
  FUZZ_CHECK(a.result == b.result);
  // After End or Malformed the output no longer depends on what followed.
  FUZZ_CHECK(a.out == b.out);
}

// The head's framing and codings, fed piece by piece until the stream stops.
BodyRun RunStream(const tarno::ResponseHead& head, std::string_view body,
                  const std::vector<uint8_t>& sizes) {
  tarno::StreamDecoder decoder(head);
  BodyRun run;
  // The client feeds what came with the head even when that is nothing (a Content-Length of 0
  // ends there), so a cut run does too.
  if (body.empty()) run.result = decoder.Feed(body, run.out);
  fuzzing::ForEachPiece(body, sizes, [&](std::string_view piece) {
    if (run.result != StreamBodyDecoder::Result::Ok) return;
    run.result = decoder.Feed(piece, run.out);
    run.consumed += piece.size();
    if (run.result == StreamBodyDecoder::Result::Malformed) FUZZ_CHECK(!decoder.failure().empty());
  });
  return run;
}

BodyRun RunInflate(tarno::Coding coding, std::string_view coded,
                   const std::vector<uint8_t>& sizes) {
  tarno::InflateDecoder decoder(coding);
  BodyRun run;
  fuzzing::ForEachPiece(coded, sizes, [&](std::string_view piece) {
    if (run.result != StreamBodyDecoder::Result::Ok) return;
    run.result = decoder.Feed(piece, run.out);
    if (run.result == StreamBodyDecoder::Result::Malformed) FUZZ_CHECK(!decoder.failure().empty());
  });
  return run;
}

// Codes each write as it would leave a caster and checks that the decoder gives back every write
// whole once its coded bytes are in.
void CheckCodedWrites(bool gzip, bool raw, std::string_view payload,
                      const std::vector<uint8_t>& sizes) {
  const int bits = gzip ? 16 + MAX_WBITS : raw ? -MAX_WBITS : MAX_WBITS;
  z_stream stream{};
  FUZZ_CHECK(deflateInit2(&stream, 6, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) == Z_OK);
  tarno::InflateDecoder decoder(gzip ? tarno::Coding::Gzip : tarno::Coding::Deflate);
  std::string out;
  std::string expected;
  fuzzing::ForEachPiece(payload, sizes, [&](std::string_view piece) {
    if (gzip) FUZZ_CHECK(deflateReset(&stream) == Z_OK);
    std::string coded(compressBound(static_cast<uLong>(piece.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream.avail_in = static_cast<uInt>(piece.size());
    stream.next_out = reinterpret_cast<Bytef*>(coded.data());
    stream.avail_out = static_cast<uInt>(coded.size());
    const int status = deflate(&stream, gzip ? Z_FINISH : Z_SYNC_FLUSH);
    FUZZ_CHECK(status == (gzip ? Z_STREAM_END : Z_OK) || (!gzip && status == Z_BUF_ERROR));
    coded.resize(coded.size() - stream.avail_out);
    FUZZ_CHECK(decoder.Feed(coded, out) == StreamBodyDecoder::Result::Ok);
    expected.append(piece);
    FUZZ_CHECK(out == expected);
  });
  deflateEnd(&stream);
}

struct HeadRun {
  ResponseHeadReader::Progress progress = ResponseHeadReader::Progress::NeedMore;
  tarno::ResponseHead head;
  std::string body;  // leftover plus every byte not yet handed to the reader
};

HeadRun RunHead(std::string_view answer, const std::vector<uint8_t>& sizes) {
  ResponseHeadReader reader;
  HeadRun run;
  std::size_t fed = 0;
  fuzzing::ForEachPiece(answer, sizes, [&](std::string_view piece) {
    if (run.progress != ResponseHeadReader::Progress::NeedMore) return;
    run.progress = reader.Feed(piece);
    fed += piece.size();
  });
  // Once finished, more bytes change nothing.
  if (run.progress != ResponseHeadReader::Progress::NeedMore) {
    FUZZ_CHECK(reader.Feed("\r\n\r\nmore") == run.progress);
  }
  if (run.progress == ResponseHeadReader::Progress::Complete) {
    run.head = reader.head();
    run.body = std::string(reader.leftover()) + std::string(answer.substr(fed));
    FUZZ_CHECK(run.head.text.size() <= tarno::kMaxResponseHeadBytes);
    FUZZ_CHECK(answer.substr(0, run.head.text.size()) == run.head.text);
    FUZZ_CHECK(run.head.text + run.body == answer);
    FUZZ_CHECK(run.head.status_line.find('\n') == std::string::npos);
    FUZZ_CHECK(!run.head.success || tarno::IsStreamStatusLine(run.head.status_line));
    FUZZ_CHECK(!run.head.ntrip1 || run.head.success);
  } else if (run.progress == ResponseHeadReader::Progress::Failed) {
    FUZZ_CHECK(!reader.failure().empty());
  } else {
    FUZZ_CHECK(fed == answer.size());
    FUZZ_CHECK(answer.size() < tarno::kMaxResponseHeadBytes);
  }
  return run;
}

// As the client reads a proxy's answer: a byte at a time, nothing read past the blank line.
void RunProxyAnswer(std::string_view answer) {
  ResponseHeadReader reader;
  std::size_t fed = 0;
  auto progress = ResponseHeadReader::Progress::NeedMore;
  while (progress == ResponseHeadReader::Progress::NeedMore && fed < answer.size()) {
    progress = reader.Feed(answer.substr(fed++, 1));
  }
  if (progress != ResponseHeadReader::Progress::Complete) return;
  FUZZ_CHECK(reader.leftover().empty());
  tarno::HttpProxy proxy;
  proxy.host = "127.0.0.1";
  proxy.port = "3128";
  const tarno::Refusal refusal = tarno::JudgeProxyAnswer(reader.head(), proxy, "::1", "2101");
  const bool tunnel = reader.head().status_line.starts_with("HTTP/1.") &&
                      reader.head().status >= 200 && reader.head().status < 300;
  FUZZ_CHECK((refusal.kind == tarno::Refusal::Kind::None) == tunnel);
  FUZZ_CHECK(tunnel || refusal.text.starts_with("proxy 127.0.0.1:3128 refused the "));
  for (const char c : refusal.text) FUZZ_CHECK(c >= 0x20 && c < 0x7f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const std::vector<uint8_t> sizes = fuzzing::ReadSizeTable(in);
  const std::string_view answer = in.Rest();

  // The status line as a log line shows it: printable and bounded.
  const std::string shown = tarno::PrintableStatusLine(answer);
  FUZZ_CHECK(shown.size() <= 200 * 4 + 3);
  for (const char c : shown) FUZZ_CHECK(c >= 0x20 && c < 0x7f);
  (void)tarno::IsStreamStatusLine(answer);

  // The head, whole and in reads.
  const HeadRun whole = RunHead(answer, {});
  const HeadRun cut = RunHead(answer, sizes);
  FUZZ_CHECK(whole.progress == cut.progress);
  if (whole.progress == ResponseHeadReader::Progress::Complete) {
    FUZZ_CHECK(whole.head.text == cut.head.text);
    FUZZ_CHECK(whole.head.status_line == cut.head.status_line);
    FUZZ_CHECK(whole.head.success == cut.head.success);
    FUZZ_CHECK(whole.head.ntrip1 == cut.head.ntrip1);
    FUZZ_CHECK(whole.head.chunked == cut.head.chunked);
    FUZZ_CHECK(whole.body == cut.body);
    // The body as the client would decode it after this head.
    const auto framing = whole.head.chunked ? StreamBodyDecoder::Framing::Chunked
                                            : StreamBodyDecoder::Framing::Plain;
    CheckSameBody(RunBody(framing, whole.head.ntrip1, whole.body, {}),
                  RunBody(framing, whole.head.ntrip1, whole.body, sizes));
    FUZZ_CHECK(whole.head.transfer_codings == cut.head.transfer_codings);
    FUZZ_CHECK(whole.head.content_codings == cut.head.content_codings);
    if (whole.head.success && tarno::UnknownCoding(whole.head).empty()) {
      CheckSameBody(RunStream(whole.head, whole.body, {}),
                    RunStream(whole.head, whole.body, sizes));
    }
  }

  RunProxyAnswer(answer);
  // The codings straight on the input, and the input coded as casters code it.
  const bool gzip = (flags & 4) != 0;
  const tarno::Coding coding = gzip ? tarno::Coding::Gzip : tarno::Coding::Deflate;
  CheckSameBody(RunInflate(coding, answer, {}), RunInflate(coding, answer, sizes));
  CheckCodedWrites(gzip, (flags & 8) != 0, answer, sizes);

  // The body decoder straight on the input, so chunked framing is explored without a head.
  const auto framing =
      (flags & 2) ? StreamBodyDecoder::Framing::Chunked : StreamBodyDecoder::Framing::Plain;
  const bool skip_blank = (flags & 1) != 0;
  CheckSameBody(RunBody(framing, skip_blank, answer, {}),
                RunBody(framing, skip_blank, answer, sizes));
  // And byte by byte, the hardest cut.
  CheckSameBody(RunBody(framing, skip_blank, answer, {}),
                RunBody(framing, skip_blank, answer, {1}));
  return 0;
}
