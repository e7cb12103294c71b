#include "app/table_list.h"

#include <cstdint>
#include <optional>

#include "db/access.h"
#include "db/ado.h"
#include "jet/storage/error.h"

namespace app {

void FillListWithTables(ListViewLike& list, const std::vector<std::string>& tables) {
  list.Clear();
  // The list counts its entries in 16 bits.
  if (tables.size() > static_cast<size_t>(INT16_MAX)) {
    throw jet::Error(db::kErrOverflow, "Overflow: more than 32767 tables cannot be listed.");
  }
  for (int16_t i = 0; i < static_cast<int16_t>(tables.size()); ++i) list.Add(tables[i]);
  if (list.Count() > 0) list.Select(1);
}

void FillTableList(ListViewLike& list, const std::string& path, const std::string& password,
                   const std::string& connection_string) {
  std::optional<std::vector<std::string>> tables = db::ListTables(path, connection_string);
  if (!tables) return;
  FillListWithTables(list, *tables);
}

}  // namespace app
