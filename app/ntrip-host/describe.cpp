#include "describe.h"

#include <sstream>

#include "common/option_text.h"
#include "engine_names.h"

#ifndef NTRIP_PACKAGE_FILE_NAME
#define NTRIP_PACKAGE_FILE_NAME "ntrip_client_package.so"
#endif

namespace ntrip_host {
namespace {

std::string KindColumn(const PropertyInfo& info) {
  std::string kind(KindName(info.kind));
  if (info.kind == MAPS::PropertyKind::Enumeration) {
    kind += ':';
    for (std::size_t i = 0; i < info.items.size(); ++i) kind += (i == 0 ? "" : "|") + info.items[i];
  }
  if ((info.sub_type & MAPS::kSubTypeDirectory) != 0) kind += ":directory";
  return kind;
}

std::string ValueText(const PropertyInfo& info, const std::string& value) {
  if (info.secret) return value.empty() ? "(not set)" : "(set)";
  const std::string text = Escaped(value);
  if (text.empty() || text.size() != value.size() ||
      text.find_first_of(" \t\"") != std::string::npos) {
    std::string quoted = "\"";
    for (char c : text) quoted += (c == '"' ? std::string("\\\"") : std::string(1, c));
    return quoted + "\"";
  }
  return text;
}

std::string ValueColumn(const PropertySet::Entry& entry, const std::vector<Setting>& settings) {
  const std::string by_default =
      ValueText(entry.info, FormatPropertyValue(entry.info, entry.default_value));
  for (auto setting = settings.rbegin(); setting != settings.rend(); ++setting) {
    if (setting->name != entry.info.name) continue;
    return ValueText(entry.info, setting->value) + " (" +
           (setting->origin.empty() ? std::string("--set") : setting->origin) + "; default " +
           by_default + ")";
  }
  return by_default;
}

}  // namespace

std::string DescribeModule(const MAPS::ModuleDefinition& module,
                           const std::vector<Setting>& settings) {
  std::ostringstream out;
  out << "model " << module.model << " version " << module.version << "\n";
  out << "class " << module.class_name << " : " << module.base_class_name << "\n";
  for (const MAPS::InputDefinition& input : module.inputs) {
    out << "input " << input.name << " type " << input.type_code << "\n";
  }
  for (const MAPS::OutputDefinition& output : module.outputs) {
    out << "output " << output.name << " buffer " << output.buffer_size << " fifo "
        << output.fifo_size << "\n";
  }
  const PropertySet properties(module);
  out << "properties:\n";
  for (const PropertySet::Entry& entry : properties.Entries()) {
    if (!entry.built_in) {
      out << entry.info.name << " " << KindColumn(entry.info) << " " << ValueColumn(entry, settings) << "\n";
    }
  }
  out << "built-in properties:\n";
  for (const PropertySet::Entry& entry : properties.Entries()) {
    if (entry.built_in) {
      out << entry.info.name << " " << KindColumn(entry.info) << " " << ValueColumn(entry, settings) << "\n";
    }
  }
  return out.str();
}

std::filesystem::path DefaultPackagePath(const std::filesystem::path& executable) {
  return executable.parent_path().parent_path() / NTRIP_PACKAGE_SUBDIR / NTRIP_PACKAGE_FILE_NAME;
}

}  // namespace ntrip_host
