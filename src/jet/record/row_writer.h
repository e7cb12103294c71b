// Building row images and storing long values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/storage/format.h"
#include "jet/record/tdef.h"
#include "jet/record/value.h"

namespace jet {

// The stored form of each column of a row being written, by column number.
struct RowCells {
  struct Cell {
    bool present = false;  // not null (booleans: their value)
    std::string bytes;     // fixed or variable data as stored
  };
  std::vector<Cell> cells;  // indexed by column number, max_cols long
};

// Lays out a row for the table as it is now: column count = max columns,
// every variable slot the table ever had, null mask for every column number.
// Throws when the row would exceed the format's maximum row size.
std::string EncodeRow(const TableDef& t, const Layout& layout, const RowCells& cells);

// Encodes a non-long value of column `c` into its stored bytes. Throws the
// type-mismatch error when the value cannot be stored in the column.
std::string EncodeValue(const Column& c, const Value& v, const Layout& layout, uint16_t code_page);

// Stored text of a text or memo column (compressed where Access would).
std::string EncodeText(const Column& c, std::string_view utf8, const Layout& layout,
                       uint16_t code_page);

}  // namespace jet
