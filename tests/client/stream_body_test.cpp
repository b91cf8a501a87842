#include "stream_body.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using tarno::ChunkedDecoder;
using tarno::StreamBodyDecoder;
using Result = ChunkedDecoder::Result;

// Chunks with an extension, a size followed by a blank, a zero byte, and a trailer.
const std::string kChunked =
    std::string("5\r\nhello\r\n1A;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n") +
    std::string("3 \r\n\r\n\x00\r\n", 9) + "0\r\nX-Trailer: t\r\n\r\n";
const std::string kPayload =
    std::string("hello") + "abcdefghijklmnopqrstuvwxyz" + std::string("\r\n\x00", 3);

TEST(ChunkedDecoder, RemovesFramingExtensionsAndTrailer) {
  ChunkedDecoder d;
  std::string out;
  EXPECT_EQ(d.Feed(kChunked, out), Result::End);
  EXPECT_EQ(out, kPayload);
}

TEST(ChunkedDecoder, EverySplitOfTheInputGivesTheSamePayload) {
  const std::string& input = kChunked;
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    ChunkedDecoder d;
    std::string out;
    const Result first = d.Feed(input.substr(0, cut), out);
    const Result second = d.Feed(input.substr(cut), out);
    EXPECT_EQ(first, cut == input.size() ? Result::End : Result::Ok) << cut;
    EXPECT_EQ(second, Result::End) << cut;
    EXPECT_EQ(out, kPayload) << cut;
  }
}

TEST(ChunkedDecoder, UpperAndLowerCaseHexSizesAreRead) {
  ChunkedDecoder d;
  std::string out;
  EXPECT_EQ(d.Feed("a\r\n0123456789\r\nA\r\n0123456789\r\n", out), Result::Ok);
  EXPECT_EQ(out.size(), 20u);
}

TEST(ChunkedDecoder, SizesWithAnyNumberOfLeadingZerosAreRead) {
  ChunkedDecoder d;
  std::string out;
  const std::string body(0x258, 'b');
  EXPECT_EQ(d.Feed("0000000000000258\r\n" + body + "\r\n" + std::string(100, '0') +
                       "3;e\r\nabc\r\n" + std::string(40, '0') + "\r\n\r\n",
                   out),
            Result::End)
      << d.failure();
  EXPECT_EQ(out, body + "abc");
}

TEST(ChunkedDecoder, MalformedChunkHeadersFail) {
  for (const std::string bad : {"x\r\n", "\r\n", "5\nhello\r\n", "5\r\nhelloXY", "5;ext\n",
                                "5\r\nhello\r\r", "1234567890123456\r\n"}) {
    ChunkedDecoder d;
    std::string out;
    EXPECT_EQ(d.Feed(bad, out), Result::Malformed) << bad;
    EXPECT_FALSE(d.failure().empty());
    EXPECT_EQ(d.Feed("5\r\nhello\r\n", out), Result::Malformed) << "stays failed";
  }
}

TEST(ChunkedDecoder, PayloadBeforeAMalformedHeaderIsKept) {
  ChunkedDecoder d;
  std::string out;
  EXPECT_EQ(d.Feed("3\r\nabc\r\nzz", out), Result::Malformed);
  EXPECT_EQ(out, "abc");
}

TEST(StreamBody, PlainBytesPassUnchanged) {
  StreamBodyDecoder d(StreamBodyDecoder::Framing::Plain, false);
  std::string out;
  EXPECT_EQ(d.Feed(std::string("\r\n\x00\xd3", 4), out), Result::Ok);
  EXPECT_EQ(out, std::string("\r\n\x00\xd3", 4));
}

TEST(StreamBody, BlankLineAfterIcyIsDroppedEvenWhenSplit) {
  StreamBodyDecoder d(StreamBodyDecoder::Framing::Plain, true);
  std::string out;
  EXPECT_EQ(d.Feed("\r", out), Result::Ok);
  EXPECT_EQ(d.Feed("\n\xd3\r\n", out), Result::Ok);
  EXPECT_EQ(out, "\xd3\r\n");
}

TEST(StreamBody, StreamStartingWithoutBlankLineAfterIcyIsKeptWhole) {
  StreamBodyDecoder d(StreamBodyDecoder::Framing::Plain, true);
  std::string out;
  EXPECT_EQ(d.Feed(std::string("\xd3\x00", 2), out), Result::Ok);
  EXPECT_EQ(d.Feed("\r\n", out), Result::Ok);
  EXPECT_EQ(out, std::string("\xd3\x00\r\n", 4));
}

TEST(StreamBody, LoneCarriageReturnAfterIcyIsAStreamByte) {
  StreamBodyDecoder d(StreamBodyDecoder::Framing::Plain, true);
  std::string out;
  EXPECT_EQ(d.Feed("\r", out), Result::Ok);
  EXPECT_EQ(d.Feed("x", out), Result::Ok);
  EXPECT_EQ(out, "\rx");
}

TEST(StreamBody, ChunkedFramingIsRemoved) {
  StreamBodyDecoder d(StreamBodyDecoder::Framing::Chunked, false);
  std::string out;
  EXPECT_EQ(d.Feed("2\r\nab\r\n", out), Result::Ok);
  EXPECT_EQ(d.Feed("0\r\n\r\n", out), Result::End);
  EXPECT_EQ(out, "ab");
}

}  // namespace
