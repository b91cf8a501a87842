#include "content_coding.h"

#include <zlib.h>

namespace tarno {

namespace {

// Output space per inflate call; one read of a well compressed stream fills a few of these.
constexpr std::size_t kInflateBlock = 16 * 1024;

// RFC 1950: compression method 8 with a window of at most 32 KiB, header check a multiple of 31.
bool IsZlibHeader(unsigned char cmf, unsigned char flg) {
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

}  // namespace

std::optional<Coding> CodingNamed(std::string_view name) {
  if (name == "chunked") return Coding::Chunked;
  if (name == "gzip" || name == "x-gzip") return Coding::Gzip;
  if (name == "deflate") return Coding::Deflate;
  return std::nullopt;
}

std::string UnknownCoding(const ResponseHead& head) {
  for (const auto* list : {&head.transfer_codings, &head.content_codings}) {
    for (const std::string& name : *list) {
      if (!CodingNamed(name)) return name;
    }
  }
  return {};
}

struct InflateDecoder::Zlib {
  z_stream stream{};
  bool started = false;
  ~Zlib() {
    if (started) inflateEnd(&stream);
  }
};

InflateDecoder::InflateDecoder(Coding coding) : _coding(coding), _zlib(std::make_unique<Zlib>()) {
  // 16 + 15: the gzip wrapper only, with the largest window.
  if (_coding == Coding::Gzip) Start(16 + MAX_WBITS);
}

InflateDecoder::~InflateDecoder() = default;
InflateDecoder::InflateDecoder(InflateDecoder&&) noexcept = default;
InflateDecoder& InflateDecoder::operator=(InflateDecoder&&) noexcept = default;

bool InflateDecoder::Start(int window_bits) {
  if (inflateInit2(&_zlib->stream, window_bits) != Z_OK) {
    Fail("the decompressor could not start");
    return false;
  }
  _zlib->started = true;
  return true;
}

InflateDecoder::Result InflateDecoder::Fail(std::string reason) {
  _failure = (_coding == Coding::Gzip ? "malformed gzip stream: " : "malformed deflate stream: ") +
             std::move(reason);
  return Result::Malformed;
}

InflateDecoder::Result InflateDecoder::Feed(std::string_view in, std::string& out) {
  if (!_failure.empty()) return Result::Malformed;
  if (_ended) return Result::End;
  if (!_zlib->started) {
    // "deflate" should be the zlib format, but some servers send the raw one: the first two
    // bytes tell them apart.
    _held.append(in);
    if (_held.size() < 2) return Result::Ok;
    const bool zlib =
        IsZlibHeader(static_cast<unsigned char>(_held[0]), static_cast<unsigned char>(_held[1]));
    if (!Start(zlib ? MAX_WBITS : -MAX_WBITS)) return Result::Malformed;
    const std::string held = std::move(_held);
    _held.clear();
    return Feed(held, out);
  }

  z_stream& z = _zlib->stream;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  unsigned char block[kInflateBlock];
  while (true) {
    z.next_out = block;
    z.avail_out = sizeof block;
    // A sync flush hands out everything the input so far gives: the stream keeps its delay.
    const int status = inflate(&z, Z_SYNC_FLUSH);
    out.append(reinterpret_cast<const char*>(block), sizeof block - z.avail_out);
    if (status == Z_STREAM_END) {
      if (_coding == Coding::Deflate) {
        _ended = true;
        return Result::End;
      }
      // The next gzip member, if any, starts with the next byte.
      if (inflateReset(&z) != Z_OK) return Fail("the decompressor could not restart");
      if (z.avail_in == 0) return Result::Ok;
      continue;
    }
    if (status == Z_BUF_ERROR) {
      if (z.avail_out == 0) continue;  // more output is waiting
      return Result::Ok;               // every input byte used
    }
    if (status == Z_NEED_DICT) return Fail("it needs a preset dictionary");
    if (status != Z_OK) return Fail(z.msg != nullptr ? z.msg : "inflate error");
    if (z.avail_in == 0 && z.avail_out != 0) return Result::Ok;
  }
}

StreamDecoder::StreamDecoder(const ResponseHead& head)
    : _body(head.chunked ? StreamBodyDecoder::Framing::Chunked : StreamBodyDecoder::Framing::Plain,
            head.ntrip1, head.transfer_codings.empty() ? head.content_length : std::nullopt) {
  // Put on in the order content codings, then transfer codings; the framing takes the final
  // chunked, and the rest come off last one first.
  std::vector<Coding> applied;
  for (const auto* list : {&head.content_codings, &head.transfer_codings}) {
    for (const std::string& name : *list) {
      if (const auto coding = CodingNamed(name)) applied.push_back(*coding);
    }
  }
  if (head.chunked && !applied.empty() && applied.back() == Coding::Chunked) applied.pop_back();
  for (auto coding = applied.rbegin(); coding != applied.rend(); ++coding) {
    if (*coding == Coding::Chunked) {
      _stages.emplace_back(ChunkedDecoder());
    } else {
      _stages.emplace_back(InflateDecoder(*coding));
    }
  }
}

StreamDecoder::Result StreamDecoder::Feed(std::string_view in, std::string& out) {
  if (!_failure.empty()) return Result::Malformed;
  if (_ended) return Result::End;
  std::string bytes;
  Result result = _body.Feed(in, _stages.empty() ? out : bytes);
  if (result == Result::Malformed) _failure = _body.failure();
  // What a layer gave before a fault, or before its end, still goes through the layers after it.
  // The outermost layer's verdict stands: a layer that ends (or fails) on what an inner one gave
  // before failing decides the stream, as it would had the bytes come in smaller reads.
  for (std::size_t i = 0; i < _stages.size(); ++i) {
    std::string next;
    std::string& target = i + 1 == _stages.size() ? out : next;
    const Result stage = std::visit(
        [&](auto& decoder) {
          const Result r = decoder.Feed(bytes, target);
          if (r == Result::Malformed) _failure = decoder.failure();
          return r;
        },
        _stages[i]);
    if (stage == Result::Malformed) {
      result = Result::Malformed;
    } else if (stage == Result::End) {
      result = Result::End;
      _failure.clear();
    }
    bytes = std::move(next);
  }
  if (result == Result::End) _ended = true;
  return result;
}

}  // namespace tarno
