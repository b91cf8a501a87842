// Strict, locale-independent decimal number parsing shared by the program's text parsers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ntrip_host {

// Accepts [sign] digits [. digits] (or ". digits"); nothing else: no exponent, no inf/nan, no
// spaces. `allow_sign` false refuses any sign.
std::optional<double> ParseDecimal(std::string_view text, bool allow_sign);

// Accepts decimal digits only, value <= max.
std::optional<unsigned long> ParseUnsigned(std::string_view text, unsigned long max);

std::string_view TrimSpaces(std::string_view text);

// "1 element", "2 elements": `noun` takes an "s" unless there is one.
std::string Counted(std::uint64_t count, std::string_view noun);

}  // namespace ntrip_host
