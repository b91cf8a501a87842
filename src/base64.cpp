#include "base64.h"

namespace tarno {

void Base64Encode(const std::string& input, std::string& output) {
  const std::size_t start = output.size();
  const auto byte = [&input](std::size_t i) { return static_cast<unsigned char>(input[i]); };
  std::size_t i = 0;
  for (; i + 3 <= input.size(); i += 3) {
    const unsigned b0 = byte(i), b1 = byte(i + 1), b2 = byte(i + 2);
    output += base64_chars[b0 >> 2];
    output += base64_chars[((b0 & 3) << 4) | (b1 >> 4)];
    output += base64_chars[((b1 & 15) << 2) | (b2 >> 6)];
    output += base64_chars[b2 & 63];
  }
  const std::size_t rest = input.size() - i;
  if (rest == 1) {
    const unsigned b0 = byte(i);
    output += base64_chars[b0 >> 2];
    output += base64_chars[(b0 & 3) << 4];
  } else if (rest == 2) {
    const unsigned b0 = byte(i), b1 = byte(i + 1);
    output += base64_chars[b0 >> 2];
    output += base64_chars[((b0 & 3) << 4) | (b1 >> 4)];
    output += base64_chars[(b1 & 15) << 2];
  }
  // Padding counts only what this call appended, so text already in output cannot shift it.
  while ((output.size() - start) % 4 != 0) output += '=';
}

std::string BasicCredential(const std::string& user, const std::string& password) {
  std::string credential;
  if (!user.empty()) Base64Encode(user + ":" + password, credential);
  return credential;
}

}  // namespace tarno
