#include "program_text.h"

#include <algorithm>
#include <iostream>

namespace cli {

namespace {

std::string Lines(std::string_view text) {
  return text.empty() ? std::string() : std::string(text) + "\n";
}

}  // namespace

std::string HelpText(const ProgramText& program, std::span<const OptionText> options,
                     std::size_t column) {
  std::vector<std::string> forms;
  std::size_t widest = 0;
  for (const Synopsis& synopsis : program.synopsis) {
    forms.push_back((forms.empty() ? "usage: " : "       ") + std::string(program.name) + " " +
                    std::string(synopsis.arguments));
    widest = std::max(widest, forms.back().size());
  }
  // The comments of several forms line up a little right of the longest.
  const std::size_t comment_column = widest + 5;
  std::string out;
  for (std::size_t i = 0; i < forms.size(); ++i) {
    out += forms[i];
    if (!program.synopsis[i].comment.empty()) {
      out += std::string(comment_column - forms[i].size(), ' ') +
             std::string(program.synopsis[i].comment);
    }
    out += "\n";
  }
  if (!program.about.empty()) out += Lines(program.about) + "\n";
  for (const OptionText& option : options) out += FormatOption(option, column);
  if (!program.notes.empty()) out += "\n" + Lines(program.notes);
  return out;
}

std::string AnswerText(Answer answer, const ProgramText& program, std::string_view version,
                       std::span<const OptionText> options, std::size_t column) {
  switch (answer) {
    case Answer::kHelp:
      return HelpText(program, options, column);
    case Answer::kVersion:
      return std::string(program.name) + " " + std::string(version) + "\n";
    case Answer::kManPage:
      return ManPage(program, version, options);
    case Answer::kNone:
      break;
  }
  return {};
}

std::optional<int> EndBeforeRunning(std::string_view name, const std::function<Answer()>& parse,
                                    const std::function<std::string(Answer)>& answer_text) {
  Answer answer = Answer::kNone;
  try {
    answer = parse();
  } catch (const std::invalid_argument& error) {
    std::cerr << name << ": " << error.what() << "\n(see " << name << " --help)\n";
    return 2;
  }
  if (answer == Answer::kNone) return std::nullopt;
  std::cout << answer_text(answer);
  return 0;
}

}  // namespace cli
