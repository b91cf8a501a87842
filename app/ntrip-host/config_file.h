#pragma once
// The settings file of ntrip-host (--config FILE): one "NAME = VALUE" a line, where NAME is a
// component property or a long option without its dashes. Read here into settings; what a name
// means is decided by the command line's parser.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ntrip_host {

struct ConfigSetting {
  std::string name;
  std::optional<std::string> value;  // none: "NAME" alone
  std::string where;                 // "FILE:LINE", for the messages about this setting
};

// `text` is the file's content, `file` its name for the messages. A "#" at the start of a line or
// after a blank starts a comment (a password may hold one elsewhere); blanks around NAME and
// VALUE are dropped. Throws UsageError "FILE:LINE: ..." for a line without a name.
std::vector<ConfigSetting> ParseConfigText(std::string_view text, const std::string& file);

}  // namespace ntrip_host
