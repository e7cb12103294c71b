// Index keys: the bytes an index entry sorts by. Each key column gives a flag
// byte and, unless the value is null, the value arranged so that the keys
// sort as unsigned byte strings: numbers big-endian with their sign handled,
// text as the sort key of its collation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/tdef.h"
#include "jet/value.h"

namespace jet {

// Flag bytes in front of each key column.
inline constexpr uint8_t kKeyAscending = 0x7F;
inline constexpr uint8_t kKeyAscendingNull = 0x00;
inline constexpr uint8_t kKeyDescending = 0x80;
inline constexpr uint8_t kKeyDescendingNull = 0xFF;

// The sort key of a text in the General collation (LCID 0x0409). Sort
// version 0 is "General - Legacy" (what Access 2000 to 2007 write, and what
// every file we create uses); version 1 is the General order of Access 2010
// and later. Only the characters whose keys were learnt from Access files are
// known: printable ASCII for version 0, letters (but k, q, z), digits, the
// blank, the full stop and the underscore for version 1. Anything else is
// refused with a clear error rather than guessed, because a wrong key puts
// the entry where Access will never find it.
std::string TextSortKey(std::string_view utf8, uint8_t sort_version);

// The key of one index over a row. `values` is indexed by column number
// (values of columns outside the index are not looked at). Throws a clear
// error for column types or collations whose keys are not known.
std::string IndexKey(const TableDef& t, const RealIndex& index, const std::vector<Value>& values);

// Whether any column of the key is null (such keys never collide in unique
// indexes), and whether all are (indexes that ignore nulls leave them out).
bool KeyHasNull(const RealIndex& index, const std::vector<Value>& values);
bool KeyAllNull(const RealIndex& index, const std::vector<Value>& values);

}  // namespace jet
