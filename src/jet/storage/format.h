// Offsets and sizes that differ between the Jet 3 layout and the Jet 4 layout
// (which every ACE version shares).
#pragma once

#include <cstdint>
#include <string>

namespace jet {

enum class Version : uint8_t {
  kJet3 = 0,
  kJet4 = 1,
  kAce12 = 2,
  kAce14 = 3,
  kAce15 = 4,
  kAce16 = 5,
  kAce17 = 6,
};

std::string VersionName(Version v);  // "Jet3", "Jet4", "ACE12", ...

struct Layout {
  bool jet3 = false;
  uint32_t page_size = 4096;
  // Data pages.
  uint32_t data_free = 2;
  uint32_t data_owner = 4;
  uint32_t data_row_count = 12;  // slot count
  uint32_t data_header = 14;     // size before the offset table
  // Table definitions.
  uint32_t tdef_row_count = 0x10;
  uint32_t tdef_autonumber = 0x14;
  uint32_t tdef_table_type = 0x28;
  uint32_t tdef_max_cols = 0x29;
  uint32_t tdef_var_cols = 0x2B;
  uint32_t tdef_num_cols = 0x2D;
  uint32_t tdef_num_idx = 0x2F;
  uint32_t tdef_num_real_idx = 0x33;
  uint32_t tdef_owned_map = 0x37;
  uint32_t tdef_free_map = 0x3B;
  uint32_t tdef_header_end = 0x3F;
  uint32_t real_idx_count_entry = 12;
  uint32_t col_desc_size = 25;
  uint32_t real_idx_def_size = 52;
  uint32_t logical_idx_def_size = 28;
  // Column descriptor fields.
  uint32_t col_type = 0;
  uint32_t col_number = 5;
  uint32_t col_var_index = 7;
  uint32_t col_number2 = 9;
  uint32_t col_misc = 11;  // LCID, or precision/scale, or complex id
  uint32_t col_flags = 15;
  uint32_t col_fixed_offset = 21;
  uint32_t col_length = 23;
  // Rows.
  uint32_t row_count_size = 2;  // bytes of the column count, and of each var offset
  // Long values.
  uint32_t lval_chunk = 4072;  // data bytes of a full chain row
  uint32_t max_row = 4060;
  uint32_t name_len_size = 2;
  uint32_t usage_map_row = 69;

  static Layout For(Version v);
};

}  // namespace jet
