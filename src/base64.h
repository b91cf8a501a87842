#pragma once
// Base64 (standard alphabet, "=" padding, no line breaks) for HTTP Basic authentication.
#include <string>
#include <string_view>

namespace tarno {

inline constexpr std::string_view base64_chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the encoding of input to output.
void Base64Encode(const std::string& input, std::string& output);

// The credential of HTTP Basic authentication, the Base64 text of "user:password"; empty without
// a user name (there is nothing to send).
std::string BasicCredential(const std::string& user, const std::string& password);

}  // namespace tarno
