#include "option_table.h"

#include <charconv>
#include <cmath>

namespace cli {

std::string FormatOption(const OptionText& text, std::size_t column) {
  if (IsHidden(text)) return {};
  if (text.name.empty()) return std::string(text.help) + "\n";
  std::string out = "  " + std::string(text.name);
  if (TakesValue(text)) out += " " + std::string(text.argument);
  out += out.size() + 2 <= column ? std::string(column - out.size(), ' ') : std::string(2, ' ');
  std::string_view help = text.help;
  for (bool first = true;; first = false) {
    const std::size_t end = help.find('\n');
    if (!first) out += std::string(column, ' ');
    out += std::string(help.substr(0, end)) + "\n";
    if (end == std::string_view::npos) break;
    help.remove_prefix(end + 1);
  }
  return out;
}

double ParseNumber(std::string_view option, std::string_view text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
    throw UsageError(std::string(option) + ": \"" + std::string(text) + "\" is not a number");
  }
  return value;
}

std::uint64_t ParseCount(std::string_view option, std::string_view text, std::uint64_t largest) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end || value > largest) {
    throw UsageError(std::string(option) + ": \"" + std::string(text) +
                     "\" is not a whole number from 0 to " + std::to_string(largest));
  }
  return value;
}

}  // namespace cli
