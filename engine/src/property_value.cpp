#include "property_value.h"

#include <array>
#include <charconv>
#include <cmath>

namespace maps_host {

std::string_view KindName(MAPS::PropertyKind kind) {
  switch (kind) {
    case MAPS::PropertyKind::Boolean:
      return "boolean";
    case MAPS::PropertyKind::Integer:
      return "integer";
    case MAPS::PropertyKind::Float:
      return "float";
    case MAPS::PropertyKind::String:
      return "string";
    case MAPS::PropertyKind::Enumeration:
      return "enumeration";
  }
  return "unknown";
}

std::vector<std::string> SplitEnumerationItems(std::string_view text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = text.find('|', start);
    items.emplace_back(text.substr(start, bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return items;
}

namespace {

template <typename Number>
std::optional<Number> ParseWhole(std::string_view text) {
  Number number{};
  const char* end = text.data() + text.size();
  // from_chars refuses a leading '+', which people type; accept it for the number kinds.
  const char* begin = text.data();
  if (!text.empty() && text.front() == '+') {
    ++begin;
    if (begin != end && *begin == '-') return std::nullopt;  // "+-5" is not a number
  }
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return number;
}

}  // namespace

std::optional<PropertyValue> ParsePropertyValue(const PropertyInfo& info, std::string_view text) {
  switch (info.kind) {
    case MAPS::PropertyKind::Boolean:
      if (text == "true" || text == "1") return PropertyValue{true};
      if (text == "false" || text == "0") return PropertyValue{false};
      return std::nullopt;
    case MAPS::PropertyKind::Integer:
      if (auto number = ParseWhole<std::int64_t>(text)) return PropertyValue{*number};
      return std::nullopt;
    case MAPS::PropertyKind::Float:
      // A NaN threshold would silently disable every comparison made with it.
      if (auto number = ParseWhole<double>(text); number && std::isfinite(*number)) {
        return PropertyValue{*number};
      }
      return std::nullopt;
    case MAPS::PropertyKind::String:
      return PropertyValue{std::string(text)};
    case MAPS::PropertyKind::Enumeration:
      for (std::size_t i = 0; i < info.items.size(); ++i) {
        if (info.items[i] == text) return PropertyValue{static_cast<std::int64_t>(i)};
      }
      if (auto index = ParseWhole<std::int64_t>(text);
          index && *index >= 0 && static_cast<std::size_t>(*index) < info.items.size()) {
        return PropertyValue{*index};
      }
      return std::nullopt;
  }
  return std::nullopt;
}

std::string FormatPropertyValue(const PropertyInfo& info, const PropertyValue& value) {
  if (const bool* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  if (const std::int64_t* number = std::get_if<std::int64_t>(&value)) {
    if (info.kind == MAPS::PropertyKind::Enumeration && *number >= 0 &&
        static_cast<std::size_t>(*number) < info.items.size()) {
      return info.items[static_cast<std::size_t>(*number)];
    }
    return std::to_string(*number);
  }
  if (const double* number = std::get_if<double>(&value)) {
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), *number);
    return std::string(text.data(), result.ptr);
  }
  return std::get<std::string>(value);
}

}  // namespace maps_host
