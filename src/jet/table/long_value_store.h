// Where memo and OLE values live when they are not inline in their row: one
// long-value row on an LVAL page, or a chain of rows (see record/row.h for
// the 12-byte field that points at them and for reading them back).
//
//   field (12 bytes, in the row)       chain row (on an LVAL page)
//   offset size meaning                offset size meaning
//   0x00   3    length of the value    0x00   4    row pointer of the next
//   0x03   1    0x80 inline,                       row, 0 at the end
//               0x40 one row, 0 chain  0x04   ...  up to lval_chunk bytes
//   0x04   4    row pointer (not inline)
//   0x08   4    unused (0)
//   0x0C   ...  the value, when inline
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jet/page/allocator.h"
#include "jet/record/tdef.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

class LongValueStore {
 public:
  LongValueStore(Pager& pager, PageAllocator& allocator, const Layout& layout)
      : pager_(pager), allocator_(allocator), layout_(layout) {}

  // Stores a value of column `c` and returns its field (12-byte header, plus
  // the data when `inline_ok`).
  std::string Store(const TableDef& t, const Column& c, const std::string& data, bool inline_ok);
  // Deletes the rows a field points at; their room serves the column's next
  // values.
  void Free(const TableDef& t, const Column& c, Bytes field);

  void ForgetColumn(uint32_t tdef_page, uint16_t column) { pages_.erase({tdef_page, column}); }
  void Forget() { pages_.clear(); }

 private:
  // A page with room for `len` more bytes of long values of column `c`.
  PagePtr PageFor(const TableDef& t, const Column& c, size_t len);

  Pager& pager_;
  PageAllocator& allocator_;
  const Layout& layout_;
  // Pages each column last wrote to or freed rows on: column -> pages.
  std::map<std::pair<uint32_t, uint16_t>, std::vector<uint32_t>> pages_;
};

}  // namespace jet
