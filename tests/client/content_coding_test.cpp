// Compressed streams: what a caster codes with gzip or deflate comes out byte for byte, as soon as
// the bytes that carry it have been read.
#include "content_coding.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "caster_response.h"

namespace {

using tarno::Coding;
using tarno::InflateDecoder;
using tarno::ResponseHeadReader;
using tarno::StreamDecoder;
using Result = InflateDecoder::Result;

std::string Deflate(z_stream& z, const std::string& bytes, int flush) {
  std::string out(compressBound(static_cast<uLong>(bytes.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_NE(deflate(&z, flush), Z_STREAM_ERROR);
  out.resize(out.size() - z.avail_out);
  return out;
}

// window_bits: 16 + 15 gzip, 15 zlib, -15 raw deflate.
z_stream Start(int window_bits) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  return z;
}

std::string GzipMember(const std::string& bytes) {
  z_stream z = Start(16 + MAX_WBITS);
  std::string member = Deflate(z, bytes, Z_FINISH);
  deflateEnd(&z);
  return member;
}

const std::vector<std::string> kWrites = {"first write \xd3\x00\x13", std::string(300, 'a'),
                                          std::string("\x00\x01\x02", 3), "last"};

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const auto& p : pieces) all += p;
  return all;
}

// Each write coded as it leaves: one gzip member each, or one deflate stream flushed per write.
std::vector<std::string> Coded(int window_bits) {
  std::vector<std::string> coded;
  if (window_bits == 16 + MAX_WBITS) {
    for (const auto& w : kWrites) coded.push_back(GzipMember(w));
    return coded;
  }
  z_stream z = Start(window_bits);
  for (const auto& w : kWrites) coded.push_back(Deflate(z, w, Z_SYNC_FLUSH));
  deflateEnd(&z);
  return coded;
}

TEST(InflateDecoder, EachWriteComesOutWholeOnceItsBytesAreReadWhereverTheReadsFall) {
  for (const int bits : {16 + MAX_WBITS, MAX_WBITS, -MAX_WBITS}) {
    const std::vector<std::string> coded = Coded(bits);
    const std::string wire = Joined(coded);
    const Coding coding = bits == 16 + MAX_WBITS ? Coding::Gzip : Coding::Deflate;
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
      InflateDecoder d(coding);
      std::string out;
      ASSERT_EQ(d.Feed(wire.substr(0, cut), out), Result::Ok) << bits << " " << cut;
      ASSERT_EQ(d.Feed(wire.substr(cut), out), Result::Ok) << bits << " " << cut << d.failure();
      ASSERT_EQ(out, Joined(kWrites)) << bits << " " << cut;
    }
    // No byte waits for a later write: the delay stays that of the caster.
    InflateDecoder d(coding);
    std::string out, expected;
    for (std::size_t i = 0; i < coded.size(); ++i) {
      ASSERT_EQ(d.Feed(coded[i], out), Result::Ok);
      expected += kWrites[i];
      EXPECT_EQ(out, expected) << bits << " after write " << i;
    }
  }
}

TEST(InflateDecoder, BytesThatAreNoGzipMemberAreMalformedAfterTheGoodOnes) {
  InflateDecoder d(Coding::Gzip);
  std::string out;
  EXPECT_EQ(d.Feed(GzipMember("good") + "not gzip", out), Result::Malformed);
  EXPECT_EQ(out, "good");
  EXPECT_NE(d.failure().find("gzip"), std::string::npos) << d.failure();
  EXPECT_EQ(d.Feed(GzipMember("more"), out), Result::Malformed) << "stays failed";
}

tarno::ResponseHead Head(const std::string& text) {
  ResponseHeadReader r;
  EXPECT_EQ(r.Feed(text), ResponseHeadReader::Progress::Complete) << text;
  return r.head();
}

TEST(StreamDecoder, CodingsComeOffInTheReverseOfTheOrderTheyWentOn) {
  const std::string member = GzipMember("payload");
  char size[16];
  std::snprintf(size, sizeof size, "%zx", member.size());
  const std::string chunked =
      std::string("000") + size + ";x=y\r\n" + member + "\r\n0\r\nT: t\r\n\r\n";
  struct Case {
    std::string head, body;
  } cases[] = {
      {"Transfer-Encoding: gzip, chunked\r\n", chunked},
      {"Transfer-Encoding: x-gzip\r\nTransfer-Encoding: Chunked\r\n", chunked},
      {"Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", chunked},
      // Until the close: a transfer coding makes the length no length.
      {"Transfer-Encoding: gzip\r\nContent-Length: 3\r\n", member},
      {"Content-Encoding: GZIP\r\nContent-Length: " + std::to_string(member.size()) + "\r\n",
       member + "after the end"},
      {"Transfer-Encoding: identity, gzip\r\nContent-Encoding: identity\r\n", member},
  };
  for (const Case& c : cases) {
    const auto head = Head("HTTP/1.1 200 OK\r\n" + c.head + "\r\n");
    ASSERT_EQ(tarno::UnknownCoding(head), "") << c.head;
    StreamDecoder d(head);
    std::string out;
    for (const char byte : c.body) d.Feed(std::string_view(&byte, 1), out);
    EXPECT_EQ(out, "payload") << c.head;
  }
}

TEST(StreamDecoder, ACodingTheClientCannotReadIsNamed) {
  EXPECT_EQ(tarno::UnknownCoding(Head("HTTP/1.1 200 OK\r\nTransfer-Encoding: br, chunked\r\n\r\n")),
            "br");
  EXPECT_EQ(tarno::UnknownCoding(Head("HTTP/1.1 200 OK\r\nContent-Encoding: zstd;q=1\r\n\r\n")),
            "zstd");
  ResponseHeadReader r;
  EXPECT_EQ(
      r.Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip,gzip,gzip,gzip,gzip,chunked\r\n\r\n"),
      ResponseHeadReader::Progress::Failed);
}

}  // namespace
