// Index keys: the bytes an index entry sorts by. Each key column gives a flag
// byte and, unless the value is null, the value arranged so that the keys
// sort as unsigned byte strings: numbers big-endian with their sign handled,
// text as the sort key of its collation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/storage/format.h"
#include "jet/record/tdef.h"
#include "jet/record/value.h"

namespace jet {

// Flag bytes in front of each key column.
inline constexpr uint8_t kKeyAscending = 0x7F;
inline constexpr uint8_t kKeyAscendingNull = 0x00;
inline constexpr uint8_t kKeyDescending = 0x80;
inline constexpr uint8_t kKeyDescendingNull = 0xFF;

// The sort key of a text in the General collation (LCID 0x0409) of a file of
// `version`. Sort version 0 is "General - Legacy" (what Access 2000 to 2007
// write, and what every file we create uses); version 1 is the General order
// of Access 2010 and later. Keys follow the character tables in
// jet/collation/ for every UTF-16 unit; only the first 255 units count and
// trailing blanks do not. Jet 3 keys (a different order) are refused.
std::string TextSortKey(std::string_view utf8, uint8_t sort_version, Version version);

// The key of one index over a row. `values` is indexed by column number
// (values of columns outside the index are not looked at). Throws a clear
// error for column types or collations whose keys are not known.
std::string IndexKey(const TableDef& t, const RealIndex& index, const std::vector<Value>& values,
                     Version version);

// Whether any column of the key is null (such keys never collide in unique
// indexes), and whether all are (indexes that ignore nulls leave them out).
bool KeyHasNull(const RealIndex& index, const std::vector<Value>& values);
bool KeyAllNull(const RealIndex& index, const std::vector<Value>& values);

}  // namespace jet
