// What the pages decide and later pages use, beyond their own controls.
#pragma once

#include <string>

namespace wizard {

struct Globals {
  // The table chosen on the table page, without brackets.
  std::string table_name;
  // The chosen fields in merge order: each name between grave accents, the
  // names joined by ", ". Read by the merge run.
  std::string merge_field_list;
  // Whether the field page's "All Fields" / "Fields To Merge" lists are empty.
  bool all_fields_empty = false;
  bool merge_fields_empty = false;
};

}  // namespace wizard
