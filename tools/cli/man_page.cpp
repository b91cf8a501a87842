// The man page of a program, in roff with the man macros, from the texts and rows of its --help.
#include <algorithm>
#include <cctype>

#include "program_text.h"

namespace cli {

namespace {

// Text as roff reads it literally: a backslash is an escape, a hyphen would print as a hyphen
// rather than the minus an option needs, and a line that starts with a dot or a quote would be
// taken for a request.
std::string Roff(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  return out;
}

// Paragraphs are separated by a blank line; lines within one are filled by roff.
std::string Paragraphs(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const std::size_t end = text.find("\n\n");
    out += ".PP\n" + Roff(text.substr(0, end)) + "\n";
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 2);
  }
  return out;
}

std::string Bold(std::string_view text) {
  return "\\fB" + Roff(text) + "\\fR";
}

bool IsIndented(const OptionText& option) {
  return option.name.empty() && option.help.starts_with(' ');
}

// Indented help lines (a list of values) as they stand, their common indent removed.
std::string Preformatted(std::span<const OptionText> lines) {
  std::size_t indent = std::string_view::npos;
  for (const OptionText& line : lines) {
    indent = std::min(indent, line.help.find_first_not_of(' '));
  }
  std::string out = ".RS\n.nf\n";
  for (const OptionText& line : lines) out += Roff(line.help.substr(indent)) + "\n";
  return out + ".fi\n.RE\n";
}

std::string Heading(std::string_view text) {
  std::string title(text.substr(0, text.find_last_not_of(':') + 1));
  if (!title.empty())
    title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
  return ".SS " + Roff(title) + "\n";
}

std::string Options(std::span<const OptionText> options) {
  std::string out;
  bool listed_one = false;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const OptionText& option = options[i];
    if (IsHidden(option)) continue;
    if (IsIndented(option)) {
      std::size_t end = i;
      while (end < options.size() && IsIndented(options[end])) ++end;
      out += Preformatted(options.subspan(i, end - i));
      i = end - 1;
    } else if (option.name.empty()) {
      // A heading before the first option only repeats the section's own title.
      if (listed_one) out += Heading(option.help);
    } else {
      out += ".TP\n" + Bold(option.name);
      if (TakesValue(option)) out += " \\fI" + Roff(option.argument) + "\\fR";
      out += "\n" + Roff(option.help) + "\n";
      listed_one = true;
    }
  }
  return out;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string ManPage(const ProgramText& program, std::string_view version,
                    std::span<const OptionText> options) {
  std::string out = ".TH \"" + Roff(Upper(program.name)) + "\" 1 \"\" \"" + Roff(program.name) +
                    " " + Roff(version) + "\" \"User Commands\"\n";
  // Option names stay whole: no hyphenation, no stretched spaces.
  out += ".nh\n.ad l\n";
  out += ".SH NAME\n" + Roff(program.name) + " \\- " + Roff(program.summary) + "\n";
  out += ".SH SYNOPSIS\n";
  for (std::size_t i = 0; i < program.synopsis.size(); ++i) {
    if (i > 0) out += ".br\n";
    out += Bold(program.name) + " " + Roff(program.synopsis[i].arguments) + "\n";
  }
  out += ".SH DESCRIPTION\n" + Paragraphs(program.about);
  for (const Synopsis& synopsis : program.synopsis) {
    if (synopsis.comment.empty()) continue;
    out += ".TP\n" + Bold(std::string(program.name) + " " + std::string(synopsis.arguments)) +
           "\n" + Roff(synopsis.comment) + "\n";
  }
  out += Paragraphs(program.notes) + Paragraphs(program.details);
  out += ".SH OPTIONS\n" + Options(options);
  if (!program.exit_status.empty()) {
    out += ".SH EXIT STATUS\n";
    for (const ExitStatus& status : program.exit_status) {
      out += ".TP\n.B " + std::to_string(status.code) + "\n" + Roff(status.meaning) + "\n";
    }
  }
  if (!program.see_also.empty()) {
    out += ".SH SEE ALSO\n";
    for (std::size_t i = 0; i < program.see_also.size(); ++i) {
      out += Bold(program.see_also[i]) + "(1)" + (i + 1 < program.see_also.size() ? ",\n" : "\n");
    }
  }
  return out;
}

}  // namespace cli
