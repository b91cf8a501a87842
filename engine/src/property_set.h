#pragma once
// The properties of one instance: the model's declared ones, in declaration order, then the
// built-in ones every instance gets. Not locked: the instance guards it.
#include <string_view>
#include <vector>

#include "property_value.h"

namespace maps_host {

class PropertySet {
 public:
  struct Entry {
    PropertyInfo info;
    PropertyValue default_value;
    PropertyValue value;
    bool built_in = false;
  };

  // Throws std::invalid_argument naming the property whose definition is unusable.
  explicit PropertySet(const MAPS::ModuleDefinition& definition);

  const std::vector<Entry>& Entries() const { return entries_; }
  Entry* Find(std::string_view name);
  const Entry* Find(std::string_view name) const;

  // The value the engine keeps for `value`: "priority" accepts 0 to 255 and takes 128 otherwise.
  static PropertyValue Normalised(const Entry& entry, PropertyValue value);

 private:
  void AddBuiltIn(const char* name, MAPS::PropertyKind kind, PropertyValue value);
  std::vector<Entry> entries_;
};

}  // namespace maps_host
