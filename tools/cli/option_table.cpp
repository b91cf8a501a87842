#include "option_table.h"

namespace cli {

std::string FormatOption(const OptionText& text, std::size_t column) {
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

}  // namespace cli
