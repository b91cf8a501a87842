#pragma once
// What a program says of itself around its option rows: the head and foot of --help, and the
// sections of its man page. Both are written from the same texts and rows, so they cannot
// disagree.
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "option_table.h"

namespace cli {

// One form of the command line after the program's name ("--demo [options]"), with what it does
// when there are several.
struct Synopsis {
  std::string_view arguments;
  std::string_view comment;
};

struct ExitStatus {
  int code = 0;
  std::string_view meaning;
};

// Texts are lines separated by '\n'; a blank line starts a paragraph.
struct ProgramText {
  std::string_view name{};
  std::string_view summary{};  // the man page's NAME line, after "name - "
  std::span<const Synopsis> synopsis{};
  std::string_view about{};    // under the usage lines of --help; opens the man page's DESCRIPTION
  std::string_view notes{};    // after the options in --help; in the man page's DESCRIPTION
  std::string_view details{};  // the man page's DESCRIPTION only: what does not fit --help
  std::span<const ExitStatus> exit_status{};
  std::span<const std::string_view> see_also{};  // other programs, section 1
};

// The usage lines (comments aligned), the about text, the option rows from `column`, the notes.
std::string HelpText(const ProgramText& program, std::span<const OptionText> options,
                     std::size_t column);

// A man page in roff (man macros), section 1.
std::string ManPage(const ProgramText& program, std::string_view version,
                    std::span<const OptionText> options);

// The --help text, the version line ("name 1.0.0") or the man page.
std::string AnswerText(Answer answer, const ProgramText& program, std::string_view version,
                       std::span<const OptionText> options, std::size_t column);

template <class Row>
std::string AnswerText(Answer answer, const ProgramText& program, std::string_view version,
                       std::span<const Row> rows, std::size_t column) {
  return AnswerText(answer, program, version, std::span<const OptionText>(TextsOf(rows)), column);
}

// How a program's main begins: `parse` reads the command line (throwing std::invalid_argument,
// UsageError among them) and returns the answer asked for. A bad command line is said on stderr
// ("NAME: WHY" and where to look) and ends main with 2; an answer to --help, --version or --man is
// printed by `answer_text` and ends it with 0. nullopt: the program runs.
std::optional<int> EndBeforeRunning(std::string_view name, const std::function<Answer()>& parse,
                                    const std::function<std::string(Answer)>& answer_text);

template <class Row>
std::string HelpText(const ProgramText& program, std::span<const Row> rows, std::size_t column) {
  return HelpText(program, std::span<const OptionText>(TextsOf(rows)), column);
}

template <class Row>
std::string ManPage(const ProgramText& program, std::string_view version,
                    std::span<const Row> rows) {
  return ManPage(program, version, std::span<const OptionText>(TextsOf(rows)));
}

}  // namespace cli
