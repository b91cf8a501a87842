#pragma once
// One table per program drives the parsing of its command line, its --help text and its man page,
// so an option cannot be parsed without being described, nor described without being parsed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct OptionText {
  // "--listen"; empty for a line of help that is no option: a heading ("testing:") or, indented,
  // a line of a list of values, printed as it stands.
  std::string_view name;
  // "[ADDR:]PORT"; empty for an option that takes no value. Wholly in brackets ("[SECONDS]"): the
  // value may be left out.
  std::string_view argument;
  // Lines separated by '\n', each aligned under the first. Empty: a hidden option, parsed but
  // never listed (the man page's own --man).
  std::string_view help;
};

// A command line that cannot be run: the program says why and exits with status 2.
class UsageError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// --help, --version and --man: what a program answers by itself, exiting 0, instead of running.
enum class Answer { kNone, kHelp, kVersion, kManPage };

// kNone for any option but those three.
inline Answer AnswerOf(std::string_view option) {
  if (option == "--help") return Answer::kHelp;
  if (option == "--version") return Answer::kVersion;
  if (option == "--man") return Answer::kManPage;
  return Answer::kNone;
}

// Options take a value when their text names an argument.
inline bool TakesValue(const OptionText& text) {
  return !text.argument.empty();
}

inline bool ValueIsOptional(const OptionText& text) {
  return text.argument.starts_with('[') && text.argument.ends_with(']') &&
         text.argument.find(']') == text.argument.size() - 1;
}

inline bool IsHidden(const OptionText& text) {
  return !text.name.empty() && text.help.empty();
}

// "  --name ARGUMENT" padded to `column` (or followed by two spaces when longer), then the help;
// nothing for a hidden option.
std::string FormatOption(const OptionText& text, std::size_t column);

template <class Row>
std::vector<OptionText> TextsOf(std::span<const Row> rows) {
  std::vector<OptionText> texts;
  for (const Row& row : rows) texts.push_back(row.text);
  return texts;
}

// The row whose option has this name ("-h" is "--help"); nullptr when none has (help lines are
// never found).
template <class Row>
const Row* FindOption(std::span<const Row> rows, std::string_view name) {
  if (name == "-h") name = "--help";
  for (const Row& row : rows) {
    if (!row.text.name.empty() && row.text.name == name) return &row;
  }
  return nullptr;
}

// What a command line holds besides its options ("FILE", "-"); nullptr: nothing may be given.
using OperandFunction = std::function<void(const std::string& operand)>;

// Walks the arguments: the row of each option applies it to `target` with its value (the next
// argument; an optional one only when that is no option), an argument that is no option goes to
// `operand`. Rows need `text` and `apply(Target&, const std::string& value)`; the rows of --help,
// --version and --man need no `apply`: the last of them given is returned. Throws UsageError.
template <class Row, class Target>
Answer ParseArguments(std::span<const Row> rows, const std::vector<std::string>& arguments,
                      Target& target, const OperandFunction& operand = nullptr) {
  Answer answer = Answer::kNone;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-" || !argument.starts_with('-')) {
      if (!operand) throw UsageError("unexpected argument '" + argument + "'");
      operand(argument);
      continue;
    }
    const Row* row = FindOption(rows, argument);
    if (row == nullptr) throw UsageError("unknown option '" + argument + "'");
    if (const Answer asked = AnswerOf(row->text.name); asked != Answer::kNone) {
      answer = asked;
      continue;
    }
    std::string value;
    if (TakesValue(row->text)) {
      const bool next_is_value = i + 1 < arguments.size() && !(ValueIsOptional(row->text) &&
                                                               arguments[i + 1].starts_with("--"));
      if (next_is_value) {
        value = arguments[++i];
      } else if (!ValueIsOptional(row->text)) {
        throw UsageError(argument + " needs a value");
      }
    }
    row->apply(target, value);
  }
  return answer;
}

// A number as an option's value; throws UsageError naming the option.
double ParseNumber(std::string_view option, std::string_view text);
// A whole number from 0 to `largest`; throws UsageError naming the option.
std::uint64_t ParseCount(std::string_view option, std::string_view text,
                         std::uint64_t largest = UINT64_MAX);

}  // namespace cli
