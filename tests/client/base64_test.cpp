#include "base64.h"

#include <string>

#include <gtest/gtest.h>

namespace {

std::string Encode(const std::string& input) {
  std::string out;
  tarno::Base64Encode(input, out);
  return out;
}

TEST(Base64Encode, MatchesTheStandardTestVectors) {
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("f"), "Zg==");
  EXPECT_EQ(Encode("fo"), "Zm8=");
  EXPECT_EQ(Encode("foo"), "Zm9v");
  EXPECT_EQ(Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Encode("abc"), "YWJj");
}

TEST(Base64Encode, EncodesHighBytesFromTheirUnsignedValues) {
  EXPECT_EQ(Encode("\xff"), "/w==");
  EXPECT_EQ(Encode(std::string("\x00\x80\xfe", 3)), "AID+");
}

TEST(Base64Encode, EncodesTheCredentialOfBasicAuthentication) {
  EXPECT_EQ(Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(Encode(":"), "Og==");
}

TEST(Base64Encode, AppendsAndPadsOnlyWhatItAppended) {
  std::string out = "ab";
  tarno::Base64Encode("f", out);
  EXPECT_EQ(out, "abZg==");
}

}  // namespace
