#pragma once
// One table per program drives both the parsing of its command line and its --help text, so an
// option cannot be parsed without being described, nor described without being parsed.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace cli {

struct OptionText {
  // "--listen"; empty for a line of help that is no option (a heading, a list of values),
  // printed as it stands.
  std::string_view name;
  std::string_view argument;  // "[ADDR:]PORT"; empty for an option that takes no value
  std::string_view help;      // lines separated by '\n', each aligned under the first
};

// Options take a value when their text names an argument.
inline bool TakesValue(const OptionText& text) {
  return !text.argument.empty();
}

// "  --name ARGUMENT" padded to `column` (or followed by two spaces when longer), then the help.
std::string FormatOption(const OptionText& text, std::size_t column);

// Every row of a table in order; Row needs a member `text` of type OptionText.
template <class Row>
std::string FormatOptions(std::span<const Row> rows, std::size_t column) {
  std::string out;
  for (const Row& row : rows) out += FormatOption(row.text, column);
  return out;
}

// The row whose option has this name; nullptr when none has (help lines are never found).
template <class Row>
const Row* FindOption(std::span<const Row> rows, std::string_view name) {
  for (const Row& row : rows) {
    if (!row.text.name.empty() && row.text.name == name) return &row;
  }
  return nullptr;
}

}  // namespace cli
