#pragma once
// Property values as the engine keeps them, and their text form (definition defaults, --set).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "maps_sdk.h"

namespace maps_host {

struct PropertyInfo {
  std::string name;
  MAPS::PropertyKind kind = MAPS::PropertyKind::String;
  std::vector<std::string> items;  // Enumeration only
  int sub_type = MAPS::kSubTypeNone;
  std::string (*check)(std::string_view value) = nullptr;  // the component's rule, if any
  bool secret = false;
};

// Boolean: bool; Integer: int64; Float: double; String: string; Enumeration: int64 index.
using PropertyValue = std::variant<bool, std::int64_t, double, std::string>;

std::string_view KindName(MAPS::PropertyKind kind);

// "Log|Console|Nothing" -> {"Log", "Console", "Nothing"}.
std::vector<std::string> SplitEnumerationItems(std::string_view text);

// The value `text` stands for, or nothing when it is not a value of the property's kind.
// Boolean: true/false/1/0. Integer: decimal. Float: decimal, finite. Enumeration: an item or its
// index. String: any text.
std::optional<PropertyValue> ParsePropertyValue(const PropertyInfo& info, std::string_view text);

// Text form, parseable again by ParsePropertyValue (an enumeration gives its selected item).
std::string FormatPropertyValue(const PropertyInfo& info, const PropertyValue& value);

}  // namespace maps_host
