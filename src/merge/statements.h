// The texts the merge run builds: the field array, the column list, the
// literals of its conditions and the check of the result-column name. Pure
// functions, no database.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/record/value.h"

namespace merge {

// The merge field list without its grave accents, split at every ", ".
// "`First`, `Last`" gives {"First", "Last"}; "" gives no names.
std::vector<std::string> SplitFieldList(std::string_view list);

// "[First],[Middle],[Last]".
std::string ColumnList(const std::vector<std::string>& fields);

// Leading and trailing blanks removed (only blanks, not tabs or line breaks).
std::string TrimBlanks(std::string_view text);

// The longest result-column name the database accepts, in characters.
inline constexpr int kMaxNameLength = 64;

// Why `typed` (the name box as typed) cannot name the result column of a
// merge of `fields`, as a message for the user; nothing when it can. The name
// is then used as TrimBlanks(typed).
std::optional<std::string> NameProblem(std::string_view typed,
                                       const std::vector<std::string>& fields);

// The literal that matches `value` exactly in a condition: text quoted with
// inner quotes doubled, numbers with every digit that tells them apart,
// dates as #m/d/yyyy h:mm:ss#, booleans as True or False. Throws
// jet::Error(kTypeMismatch) for values that no literal can match (binary and
// OLE data, GUIDs, extended dates, infinities). Not for null.
std::string ConditionLiteral(const jet::Value& value);

}  // namespace merge
