#include "property_set.h"

#include <stdexcept>
#include <string>

namespace maps_host {
namespace {
constexpr std::int64_t kDefaultPriority = 128;
}

PropertySet::PropertySet(const MAPS::ModuleDefinition& definition) {
  for (const MAPS::PropertyDefinition& declared : definition.properties) {
    if (declared.name == nullptr || *declared.name == '\0' || declared.default_value == nullptr) {
      throw std::invalid_argument("a property of " + std::string(definition.model) +
                                  " has no name or no default");
    }
    Entry entry;
    entry.info.name = declared.name;
    entry.info.kind = declared.kind;
    entry.info.sub_type = declared.sub_type;
    entry.info.check = declared.check;
    entry.info.secret = declared.secret;
    std::optional<PropertyValue> value;
    if (declared.kind == MAPS::PropertyKind::Enumeration) {
      entry.info.items = SplitEnumerationItems(declared.default_value);
      value = ParsePropertyValue(entry.info, std::to_string(declared.default_index));
    } else {
      value = ParsePropertyValue(entry.info, declared.default_value);
    }
    if (!value) {
      throw std::invalid_argument("the default of property " + entry.info.name +
                                  " is not a value of its kind");
    }
    if (Find(entry.info.name) != nullptr) {
      throw std::invalid_argument("property " + entry.info.name + " is declared twice");
    }
    entry.default_value = *value;
    entry.value = *value;
    entries_.push_back(std::move(entry));
  }
  AddBuiltIn("threaded", MAPS::PropertyKind::Integer, std::int64_t{definition.threaded});
  AddBuiltIn("priority", MAPS::PropertyKind::Integer, std::int64_t{definition.priority});
  AddBuiltIn("autoStart", MAPS::PropertyKind::Boolean, true);
  AddBuiltIn("componentModelVersion", MAPS::PropertyKind::String,
             std::string(definition.version != nullptr ? definition.version : ""));
}

void PropertySet::AddBuiltIn(const char* name, MAPS::PropertyKind kind, PropertyValue value) {
  if (Find(name) != nullptr) {
    throw std::invalid_argument(std::string("property ") + name + " is built in");
  }
  Entry entry;
  entry.info.name = name;
  entry.info.kind = kind;
  entry.built_in = true;
  entry.value = Normalised(entry, std::move(value));
  entry.default_value = entry.value;
  entries_.push_back(std::move(entry));
}

PropertySet::Entry* PropertySet::Find(std::string_view name) {
  for (Entry& entry : entries_) {
    if (entry.info.name == name) return &entry;
  }
  return nullptr;
}

const PropertySet::Entry* PropertySet::Find(std::string_view name) const {
  return const_cast<PropertySet*>(this)->Find(name);
}

PropertyValue PropertySet::Normalised(const Entry& entry, PropertyValue value) {
  if (entry.built_in && entry.info.name == "priority") {
    const std::int64_t priority = std::get<std::int64_t>(value);
    if (priority < 0 || priority > 255) return kDefaultPriority;
  }
  return value;
}

}  // namespace maps_host
