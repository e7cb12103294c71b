#include "jet/storage/format.h"

namespace jet {

std::string VersionName(Version v) {
  switch (v) {
    case Version::kJet3:
      return "Jet3";
    case Version::kJet4:
      return "Jet4";
    case Version::kAce12:
      return "ACE12";
    case Version::kAce14:
      return "ACE14";
    case Version::kAce15:
      return "ACE15";
    case Version::kAce16:
      return "ACE16";
    case Version::kAce17:
      return "ACE17";
  }
  return "unknown";
}

Layout Layout::For(Version v) {
  Layout l;
  if (v != Version::kJet3) return l;
  l.jet3 = true;
  l.page_size = 2048;
  l.data_row_count = 8;
  l.data_header = 10;
  l.tdef_row_count = 0x0C;
  l.tdef_autonumber = 0x10;
  l.tdef_table_type = 0x14;
  l.tdef_max_cols = 0x15;
  l.tdef_var_cols = 0x17;
  l.tdef_num_cols = 0x19;
  l.tdef_num_idx = 0x1B;
  l.tdef_num_real_idx = 0x1F;
  l.tdef_owned_map = 0x23;
  l.tdef_free_map = 0x27;
  l.tdef_header_end = 0x2B;
  l.real_idx_count_entry = 8;
  l.col_desc_size = 18;
  l.real_idx_def_size = 39;
  l.logical_idx_def_size = 20;
  l.col_number = 1;
  l.col_var_index = 3;
  l.col_number2 = 5;
  l.col_misc = 9;  // LCID at 9, code page at 11; precision/scale at 11/12
  l.col_flags = 13;
  l.col_fixed_offset = 14;
  l.col_length = 16;
  l.row_count_size = 1;
  l.lval_chunk = 2032;
  l.max_row = 2012;
  l.name_len_size = 1;
  l.usage_map_row = 133;
  return l;
}

}  // namespace jet
