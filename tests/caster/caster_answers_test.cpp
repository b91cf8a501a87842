// What the caster answers to each kind of request.
#include <gtest/gtest.h>

#include "caster_fixture.h"
#include "protocol.h"
#include "test_client.h"

namespace caster_test {
namespace {

using caster::ReplayCaster;

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

TEST(CasterAnswers, RootRequestFromNtrip1ClientGetsSourcetable) {
  ReplayCaster server(FastOptions());
  TestClient client(server.Port());
  client.Send(V1Request("/"));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_TRUE(StartsWith(client.Data(), "SOURCETABLE 200 OK\r\n")) << client.Data();
  EXPECT_NE(client.Data().find("\r\nSTR;RTCM3;"), std::string::npos);
  EXPECT_TRUE(client.Data().ends_with("ENDSOURCETABLE\r\n"));
}

TEST(CasterAnswers, RootRequestFromNtrip2ClientGetsSourcetableWithLengthAndType) {
  ReplayCaster server(FastOptions());
  TestClient client(server.Port());
  client.Send(V2Request("/"));
  ASSERT_TRUE(client.ReadToEnd());
  const std::string& answer = client.Data();
  EXPECT_TRUE(StartsWith(answer, "HTTP/1.1 200 OK\r\n")) << answer;
  EXPECT_NE(answer.find("\r\nContent-Type: gnss/sourcetable\r\n"), std::string::npos);
  const std::string body = BodyOf(answer);
  EXPECT_NE(answer.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(body.ends_with("ENDSOURCETABLE\r\n"));
}

TEST(CasterAnswers, UnknownMountIsNotFoundForNtrip2AndSourcetableForNtrip1) {
  ReplayCaster server(FastOptions());
  TestClient v2(server.Port());
  v2.Send(V2Request("/NOPE"));
  ASSERT_TRUE(v2.ReadToEnd());
  EXPECT_TRUE(StartsWith(v2.Data(), "HTTP/1.1 404 Not Found\r\n")) << v2.Data();

  TestClient v1(server.Port());
  v1.Send(V1Request("/NOPE"));
  ASSERT_TRUE(v1.ReadToEnd());
  EXPECT_TRUE(StartsWith(v1.Data(), "SOURCETABLE 200 OK\r\n")) << v1.Data();
}

class CasterAuthentication : public ::testing::Test {
 protected:
  CasterAuthentication()
      : server_([] {
          auto options = FastOptions();
          options.user = "user";
          options.password = "pa:ss";
          options.max_bytes = 100;
          return options;
        }()) {}

  std::string Answer(const std::string& request) {
    TestClient client(server_.Port());
    client.Send(request);
    client.ReadToEnd();
    return client.Data();
  }

  ReplayCaster server_;
};

TEST_F(CasterAuthentication, MissingCredentialsAreRefusedWith401) {
  const std::string answer = Answer(V2Request("/RTCM3"));
  EXPECT_TRUE(StartsWith(answer, "HTTP/1.1 401 Unauthorized\r\n")) << answer;
  EXPECT_NE(answer.find("WWW-Authenticate: Basic"), std::string::npos);
}

TEST_F(CasterAuthentication, WrongPasswordIsRefusedWith401) {
  const std::string bad = caster::Base64Encode("user:wrong");
  EXPECT_TRUE(StartsWith(Answer(V2Request("/RTCM3", "Authorization: Basic " + bad + "\r\n")),
                         "HTTP/1.1 401 Unauthorized\r\n"));
  EXPECT_TRUE(StartsWith(Answer(V1Request("/RTCM3", "Authorization: Basic " + bad + "\r\n")),
                         "HTTP/1.0 401 Unauthorized\r\n"));
}

TEST_F(CasterAuthentication, RightCredentialsGetTheStream) {
  const std::string good = caster::Base64Encode("user:pa:ss");
  EXPECT_TRUE(StartsWith(Answer(ClientRequest("RTCM3", good)), "HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(StartsWith(Answer(V1Request("/RTCM3", "Authorization: Basic " + good + "\r\n")),
                         "ICY 200 OK\r\n"));
}

TEST(CasterAnswers, Ntrip1ClientGetsIcyAnswerThenTheRecording) {
  auto options = FastOptions();
  options.max_bytes = 3000;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  ASSERT_TRUE(StartsWith(client.Data(), "ICY 200 OK\r\n\r\n"));
  const std::string stream = client.Data().substr(14);
  EXPECT_EQ(stream, Looped(Recording(), 3000));
  EXPECT_EQ(server.Connection(0).served, stream);
  EXPECT_EQ(server.Connection(0).answer, "ICY 200 OK\r\n\r\n");
}

TEST(CasterAnswers, IcyAnswerCanBeFollowedDirectlyByTheStream) {
  auto options = FastOptions();
  options.max_bytes = 50;
  options.icy_blank_line = false;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V1Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_EQ(client.Data(), "ICY 200 OK\r\n" + Recording().substr(0, 50));
}

TEST(CasterAnswers, ChunkedNtrip2StreamDecodesToExactlyTheServedBytes) {
  auto options = FastOptions();
  options.max_bytes = 200000;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(client.ReadToEnd());
  const std::string& answer = client.Data();
  ASSERT_TRUE(StartsWith(answer, "HTTP/1.1 200 OK\r\n"));
  EXPECT_NE(answer.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos);
  bool complete = false, malformed = false;
  const std::string stream = DecodeChunked(BodyOf(answer), &complete, &malformed);
  EXPECT_TRUE(complete);
  EXPECT_FALSE(malformed);
  EXPECT_EQ(stream, Looped(Recording(), 200000));
  EXPECT_EQ(server.Connection(0).served, stream);
}

TEST(CasterAnswers, NoChunkedOptionSendsThePlainStream) {
  auto options = FastOptions();
  options.max_bytes = 5000;
  options.chunked = false;
  options.answer_with_first_bytes = false;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(V2Request("/RTCM3"));
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_EQ(client.Data().find("Transfer-Encoding"), std::string::npos);
  EXPECT_EQ(BodyOf(client.Data()), Looped(Recording(), 5000));
}

TEST(CasterAnswers, FirstStreamBytesArriveInTheSameTransferAsTheAnswer) {
  auto options = FastOptions();
  options.rate = -1;
  ReplayCaster server(options);
  TestClient client(server.Port());
  client.Send(ClientRequest("RTCM3", "Og=="));
  ASSERT_TRUE(client.ReadContaining("\r\n\r\n"));
  // The first unit of this recording is 52 bytes of other receiver output.
  bool complete = false, malformed = false;
  EXPECT_EQ(DecodeChunked(BodyOf(client.Data()), &complete, &malformed), Recording().substr(0, 52));
}

TEST(CasterAnswers, MalformedRequestLineGetsBadRequest) {
  ReplayCaster server(FastOptions());
  TestClient client(server.Port());
  client.Send("HELLO\r\n\r\n");
  ASSERT_TRUE(client.ReadToEnd());
  EXPECT_TRUE(StartsWith(client.Data(), "HTTP/1.0 400 Bad Request\r\n")) << client.Data();
}

}  // namespace
}  // namespace caster_test
