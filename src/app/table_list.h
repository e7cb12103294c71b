// The table page's list filled from the database's catalogue: the database
// layer reads the catalogue (db::ListTables), the shell puts it in the list.
#pragma once

#include <string>
#include <vector>

#include "app/list_view.h"

namespace app {

// Replaces the list's items with the user tables of the database at `path`
// and selects the first; leaves the list alone when the file does not exist.
// `password` is accepted and not used (the connection string carries it).
// More than 32767 tables fail with kErrOverflow once the list is emptied,
// before any is added. Failures to open the database propagate.
void FillTableList(ListViewLike& list, const std::string& path, const std::string& password,
                   const std::string& connection_string);
// The list-filling half of FillTableList, for a catalogue already read.
void FillListWithTables(ListViewLike& list, const std::vector<std::string>& tables);

}  // namespace app
