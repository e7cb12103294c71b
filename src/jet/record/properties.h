// Properties of catalogue objects: the LvProp blob of an MSysObjects row holds
// the object's own properties (a table's Description, ...) and one block per
// column (Format, Caption, ResultType and Expression of calculated columns,
// ...). Values keep the type they were stored with.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/record/value.h"

namespace jet {

struct Property {
  std::string name;
  uint8_t type_code = 0;  // the column type code the value was stored as
  uint8_t ddl = 0;        // 1 when the property is part of the design (DDL flag)
  Value value;
};

// The properties of one object or one column, in stored order.
class PropertyMap {
 public:
  // Case-insensitive, like every name Access matches.
  const Property* Find(std::string_view name) const;
  // The value, or a null value when the property is absent.
  Value Get(std::string_view name) const;
  const std::vector<Property>& items() const { return items_; }
  bool empty() const { return items_.empty(); }
  // Adding a name that is present replaces the earlier value.
  void Set(Property p);

 private:
  std::vector<Property> items_;
  std::vector<std::string> folded_;  // FoldName of each item's name
};

struct ObjectProperties {
  PropertyMap object;
  // Column blocks, by column name, in stored order.
  std::vector<std::pair<std::string, PropertyMap>> columns;

  // The block of a column (case-insensitive), or null when it has none.
  const PropertyMap* Column(std::string_view name) const;
};

// Parses an LvProp blob ("MR2\0" in Jet 4/ACE, "KKD\0" in Jet 3, then chunks).
// An empty blob gives no properties; anything that does not add up throws a
// "damaged" jet::Error.
ObjectProperties ParseProperties(Bytes blob, const Layout& layout, uint16_t code_page);

// The blob without the property block of `column` (matched like every
// column name), byte for byte otherwise; `removed` tells whether it had one.
// A column that is dropped takes its properties with it, so that a later
// column of the same name does not inherit a caption, a format or a
// validation rule meant for the old one.
std::string WithoutColumnBlock(Bytes blob, const Layout& layout, uint16_t code_page,
                               std::string_view column, bool* removed);

// Builds the LvProp blob (Jet 4 / ACE) of an object's own properties. Values
// may be text, Yes/No or whole numbers (stored as Long).
std::string EncodeObjectProperties(const std::vector<Property>& props);

}  // namespace jet
