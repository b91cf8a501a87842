// Property texts through the engine's value parsing: definition defaults, enumeration item
// lists and values given on the command line.
//
// Input layout:
//   [0]  kind (modulo 6: the five kinds and one that is none of them)
//   rest for an enumeration: the item list, a NUL, then the value text; otherwise the value text
#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

#include "fuzz_input.h"
#include "property_value.h"

namespace {

using fuzzing::FuzzInput;
using maps_host::PropertyInfo;
using maps_host::PropertyValue;

bool KindHolds(MAPS::PropertyKind kind, const PropertyValue& value) {
  switch (kind) {
    case MAPS::PropertyKind::Boolean:
      return std::holds_alternative<bool>(value);
    case MAPS::PropertyKind::Integer:
    case MAPS::PropertyKind::Enumeration:
      return std::holds_alternative<std::int64_t>(value);
    case MAPS::PropertyKind::Float:
      return std::holds_alternative<double>(value);
    case MAPS::PropertyKind::String:
      return std::holds_alternative<std::string>(value);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int kind_number = in.Byte() % 6;
  std::string_view text = in.Rest();

  PropertyInfo info;
  info.name = "fuzzed";
  info.kind = static_cast<MAPS::PropertyKind>(kind_number);
  const bool known_kind = kind_number < 5;
  FUZZ_CHECK(!maps_host::KindName(info.kind).empty());

  if (info.kind == MAPS::PropertyKind::Enumeration) {
    const std::size_t nul = text.find('\0');
    const std::string_view list = text.substr(0, nul);
    text = nul == std::string_view::npos ? std::string_view() : text.substr(nul + 1);
    info.items = maps_host::SplitEnumerationItems(list);
    // Splitting loses nothing: the items joined again give the list.
    std::string joined;
    for (std::size_t i = 0; i < info.items.size(); ++i) {
      if (i) joined += '|';
      joined += info.items[i];
    }
    FUZZ_CHECK(joined == list);
    FUZZ_CHECK(!info.items.empty());
  }

  const auto value = maps_host::ParsePropertyValue(info, text);
  if (!known_kind) {
    FUZZ_CHECK(!value);
    return 0;
  }
  if (info.kind == MAPS::PropertyKind::String) FUZZ_CHECK(value.has_value());
  if (!value) return 0;
  FUZZ_CHECK(KindHolds(info.kind, *value));
  if (const double* number = std::get_if<double>(&*value)) FUZZ_CHECK(std::isfinite(*number));
  if (info.kind == MAPS::PropertyKind::Enumeration) {
    const auto index = std::get<std::int64_t>(*value);
    FUZZ_CHECK(index >= 0 && static_cast<std::size_t>(index) < info.items.size());
  }

  // The text form parses back to a value with the same text form; numbers exactly.
  const std::string shown = maps_host::FormatPropertyValue(info, *value);
  const auto again = maps_host::ParsePropertyValue(info, shown);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(maps_host::FormatPropertyValue(info, *again) == shown);
  if (info.kind != MAPS::PropertyKind::Enumeration) FUZZ_CHECK(*again == *value);
  return 0;
}
