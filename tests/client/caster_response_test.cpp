#include "caster_response.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using tarno::ResponseHeadReader;
using Progress = ResponseHeadReader::Progress;

TEST(ResponseHead, IcyOkIsSuccessAndWhatFollowsTheLineIsStream) {
  ResponseHeadReader r;
  ASSERT_EQ(r.Feed("ICY 200 OK\r\n\xd3\x00\x13"), Progress::Complete);
  EXPECT_TRUE(r.head().success);
  EXPECT_TRUE(r.head().ntrip1);
  EXPECT_EQ(r.head().text, "ICY 200 OK\r\n");
  EXPECT_EQ(r.leftover(), "\xd3\x00\x13");
}

TEST(ResponseHead, HttpOkIsSuccessOnceTheBlankLineCame) {
  ResponseHeadReader r;
  EXPECT_EQ(r.Feed("HTTP/1.1 200 OK\r\nContent-Type: gnss/data\r\n"), Progress::NeedMore);
  ASSERT_EQ(r.Feed("\r\nRTCM"), Progress::Complete);
  EXPECT_TRUE(r.head().success);
  EXPECT_FALSE(r.head().ntrip1);
  EXPECT_FALSE(r.head().chunked);
  EXPECT_EQ(r.head().status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.leftover(), "RTCM");
}

TEST(ResponseHead, Http10OkWithoutHeadersIsSuccess) {
  ResponseHeadReader r;
  ASSERT_EQ(r.Feed("HTTP/1.0 200 OK\r\n\r\n"), Progress::Complete);
  EXPECT_TRUE(r.head().success);
}

TEST(ResponseHead, RefusalsAndSourcetablesAreNotSuccess) {
  for (const std::string answer :
       {"HTTP/1.1 401 Unauthorized\r\n\r\n", "HTTP/1.1 404 Not Found\r\n\r\n",
        "SOURCETABLE 200 OK\r\nServer: x\r\n\r\nSTR;a;b\r\n", "ICY 401 Unauthorized\r\n",
        "HTTP/1.1 2000 OK\r\n\r\n", "HTTP/2 200\r\n\r\n", "\xd3\x01\x13garbage\r\n", "\r\n"}) {
    ResponseHeadReader r;
    ASSERT_EQ(r.Feed(answer), Progress::Complete) << answer;
    EXPECT_FALSE(r.head().success) << answer;
  }
}

TEST(ResponseHead, OkWithSourcetableContentTypeIsNotSuccess) {
  ResponseHeadReader r;
  ASSERT_EQ(r.Feed("HTTP/1.1 200 OK\r\ncontent-type:  GNSS/Sourcetable; charset=x\r\n\r\n"),
            Progress::Complete);
  EXPECT_FALSE(r.head().success);
}

TEST(ResponseHead, ChunkedTransferEncodingIsRecognisedInAnyCase) {
  ResponseHeadReader r;
  ASSERT_EQ(r.Feed("HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\n"), Progress::Complete);
  EXPECT_TRUE(r.head().chunked);
}

TEST(ResponseHead, ByteByByteFeedingGivesTheSameHeadAndLeftover) {
  const std::string answer =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nServer: test\r\n\r\n5\r\nabcde\r\n";
  ResponseHeadReader r;
  Progress p = Progress::NeedMore;
  std::size_t fed = 0;
  while (p == Progress::NeedMore && fed < answer.size()) p = r.Feed(answer.substr(fed++, 1));
  ASSERT_EQ(p, Progress::Complete);
  EXPECT_EQ(r.head().text, answer.substr(0, answer.find("\r\n\r\n") + 4));
  EXPECT_EQ(std::string(r.leftover()) + answer.substr(fed), "5\r\nabcde\r\n");
  EXPECT_TRUE(r.head().chunked);
}

TEST(ResponseHead, HeadsLongerThanSixteenKibibytesFail) {
  ResponseHeadReader r;
  EXPECT_EQ(r.Feed("HTTP/1.1 200 OK\r\n"), Progress::NeedMore);
  Progress p = Progress::NeedMore;
  for (int i = 0; i < 2000 && p == Progress::NeedMore; ++i) p = r.Feed("X-Filler: 0123456\r\n");
  EXPECT_EQ(p, Progress::Failed);
  EXPECT_NE(r.failure().find("16384"), std::string::npos);
}

TEST(ResponseHead, StatusLineWithoutEndFailsAtTheBound) {
  ResponseHeadReader r;
  EXPECT_EQ(r.Feed(std::string(16383, 'a')), Progress::NeedMore);
  EXPECT_EQ(r.Feed("a"), Progress::Failed);
}

TEST(ResponseHead, HeadOfExactlySixteenKibibytesIsAccepted) {
  std::string head = "HTTP/1.1 200 OK\r\nX: ";
  head += std::string(tarno::kMaxResponseHeadBytes - head.size() - 4, 'y') + "\r\n\r\n";
  ASSERT_EQ(head.size(), tarno::kMaxResponseHeadBytes);
  ResponseHeadReader r;
  EXPECT_EQ(r.Feed(head + "stream"), Progress::Complete);
  EXPECT_EQ(r.leftover(), "stream");
}

TEST(ResponseHead, PrintableStatusLineEscapesControlBytes) {
  EXPECT_EQ(tarno::PrintableStatusLine("\xd3\x01ok"), "\\xD3\\x01ok");
  EXPECT_EQ(tarno::PrintableStatusLine(std::string(300, 'a')).size(), 203u);
}

}  // namespace
