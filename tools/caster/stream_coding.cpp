#include "stream_coding.h"

#include <stdexcept>

#include <zlib.h>

namespace caster {

namespace {

// Runs deflate over all of `payload` with `flush`, appending the output.
void Deflate(z_stream& z, std::string_view payload, int flush, std::string& out) {
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = static_cast<uInt>(payload.size());
  unsigned char block[16 * 1024];
  int status = Z_OK;
  do {
    z.next_out = block;
    z.avail_out = sizeof block;
    status = deflate(&z, flush);
    if (status == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
    out.append(reinterpret_cast<const char*>(block), sizeof block - z.avail_out);
  } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
}

}  // namespace

struct StreamCompressor::Zlib {
  z_stream stream{};
  explicit Zlib(int window_bits) {
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, window_bits, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::runtime_error("deflateInit2 failed");
    }
  }
  ~Zlib() { deflateEnd(&stream); }
};

StreamCompressor::StreamCompressor(StreamCoding coding) : coding_(coding) {
  // The zlib format, as HTTP's "deflate" names it.
  if (coding_ == StreamCoding::DeflateFlushed) deflate_ = std::make_unique<Zlib>(MAX_WBITS);
}

StreamCompressor::~StreamCompressor() = default;

std::string StreamCompressor::Code(std::string_view payload) {
  std::string out;
  switch (coding_) {
    case StreamCoding::None:
      return std::string(payload);
    case StreamCoding::GzipMembers: {
      Zlib member(16 + MAX_WBITS);
      Deflate(member.stream, payload, Z_FINISH, out);
      return out;
    }
    case StreamCoding::DeflateFlushed:
      Deflate(deflate_->stream, payload, Z_SYNC_FLUSH, out);
      return out;
  }
  return out;
}

std::string CodingHeader(StreamCoding coding, bool as_content, bool chunked) {
  const char* name = coding == StreamCoding::GzipMembers      ? "gzip"
                     : coding == StreamCoding::DeflateFlushed ? "deflate"
                                                              : nullptr;
  if (name == nullptr) return chunked ? "Transfer-Encoding: chunked\r\n" : "";
  if (as_content) {
    return std::string("Content-Encoding: ") + name + "\r\n" +
           (chunked ? "Transfer-Encoding: chunked\r\n" : "");
  }
  return std::string("Transfer-Encoding: ") + name + (chunked ? ", chunked" : "") + "\r\n";
}

}  // namespace caster
