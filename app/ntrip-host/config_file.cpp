#include "config_file.h"

#include <algorithm>
#include <map>

#include "common/option_text.h"
#include "options.h"

namespace ntrip_host {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view WithoutComment(std::string_view line) {
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] == '#' && (at == 0 || IsBlank(line[at - 1]))) return line.substr(0, at);
  }
  return line;
}

// What a line sets: a property set through "set" or "set-file" counts as the property.
std::string SettingKey(const ConfigSetting& setting) {
  if ((setting.name == "set" || setting.name == "set-file") && setting.value) {
    return setting.value->substr(0, setting.value->find('='));
  }
  return setting.name;
}

}  // namespace

std::vector<ConfigSetting> ParseConfigText(std::string_view text, const std::string& file) {
  std::vector<ConfigSetting> settings;
  std::map<std::string, int> first_lines;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trimmed(WithoutComment(text.substr(0, end)));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.empty()) continue;
    ConfigSetting setting;
    setting.where = file + ":" + std::to_string(number);
    const std::size_t equals = line.find('=');
    setting.name = std::string(Trimmed(line.substr(0, equals)));
    if (equals != std::string_view::npos) {
      setting.value = std::string(Trimmed(line.substr(equals + 1)));
    }
    if (setting.name.empty()) {
      throw UsageError(setting.where + ": expected NAME = VALUE");
    }
    // A NUL would cut the value short where the component reads it; other control bytes could
    // drive the terminal that shows the value.
    const std::string_view value = setting.value ? *setting.value : std::string_view();
    if (std::any_of(setting.name.begin(), setting.name.end(), IsControlByte) ||
        std::any_of(value.begin(), value.end(), IsControlByte)) {
      throw UsageError(setting.where + ": " + Escaped(setting.name) +
                       ": a control character (NUL, tab, CR, ...) inside the name or value");
    }
    // The later line would silently win over the earlier one; fallbacks are a list.
    if (setting.name != "fallback") {
      const std::string key = SettingKey(setting);
      const auto [first, added] = first_lines.emplace(key, number);
      if (!added) {
        throw UsageError(setting.where + ": " + Escaped(key) + " given twice (lines " +
                         std::to_string(first->second) + " and " + std::to_string(number) + ")");
      }
    }
    settings.push_back(std::move(setting));
  }
  return settings;
}

}  // namespace ntrip_host
