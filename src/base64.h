#pragma once
// Base64 (standard alphabet, "=" padding, no line breaks) for HTTP Basic authentication.
#include <string>
#include <string_view>

namespace tarno {

inline constexpr std::string_view base64_chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the encoding of input to output.
void Base64Encode(const std::string& input, std::string& output);

}  // namespace tarno
