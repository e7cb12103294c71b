#include "jet/table/table_scan.h"

#include "jet/page/page_type.h"
#include "jet/page/usage_map.h"
#include "jet/table/complex.h"
#include "jet/table/database.h"

namespace jet {

bool ResolveRow(Database& db, const TableDef& t, RowId id, PagePtr& page, Bytes& bytes,
                RowId& data_id) {
  const Layout& L = db.layout();
  Pager& pager = db.pager();
  for (int hop = 0; hop < 8; ++hop) {
    page = pager.Get(id.page);
    Bytes pb = page->bytes();
    if (!IsType(pb, PageType::kData)) {
      ThrowDamaged("a row pointer leads to a page that holds no rows");
    }
    uint16_t flags = 0;
    bytes = RowTable::RowAt(pb, L, id.row, &flags);
    const SlotKind kind = KindOf(flags);
    if (kind == SlotKind::kDeleted) return false;
    if (kind == SlotKind::kForward) {
      if (bytes.size() < 4) ThrowDamaged("a moved row's pointer is cut short");
      id = RowId::Unpack(U32(bytes, 0));
      continue;
    }
    data_id = id;
    return true;
  }
  ThrowDamaged("moved rows point at each other in a loop");
}

TableScan::TableScan(Database& db, std::shared_ptr<const TableDef> table)
    : db_(&db), table_(std::move(table)), row_(*table_, db.layout()) {
  pages_ = UsageMap(db.pager(), db.layout()).Pages(table_->owned_map);
}

TableScan::~TableScan() = default;

Value TableScan::Get(const Column& c) {
  Value v = db_->Read(row_, c);
  if (v.kind() != Value::Kind::kComplex) return v;
  if (!complex_) complex_ = std::make_unique<ComplexReader>(*db_);
  return Value::Complex(v.complex_key(), complex_->Read(*table_, c, v.complex_key()));
}

bool TableScan::Next() {
  const Layout& L = db_->layout();
  while (page_index_ < pages_.size()) {
    if (!page_) {
      uint32_t n = pages_[page_index_];
      if (n >= db_->pager().page_count()) {
        ++page_index_;
        continue;
      }
      page_ = db_->pager().Get(n);
      // Only data pages that this table owns hold its rows.
      if (!IsDataPageOf(page_->bytes(), L, table_->tdef_page)) {
        page_.reset();
        ++page_index_;
        continue;
      }
      slots_.Load(page_->bytes(), L);
      slot_ = -1;
    }
    while (++slot_ < slots_.size()) {
      if (LoadSlot()) return true;
    }
    page_.reset();
    ++page_index_;
  }
  return false;
}

bool TableScan::LoadSlot() {
  const RowTable::Slot& slot = slots_[static_cast<uint16_t>(slot_)];
  const SlotKind kind = slot.kind();
  // Deleted rows and the moved copies of other slots' rows are not rows here.
  if (kind == SlotKind::kDeleted || kind == SlotKind::kMovedCopy) return false;
  id_ = RowId{page_->number, static_cast<uint8_t>(slot_)};
  Bytes bytes;
  if (kind == SlotKind::kRow) {
    // Most rows are where their slot is, on the page in hand.
    data_page_ = page_;
    data_id_ = id_;
    bytes = slots_.Row(page_->bytes(), static_cast<uint16_t>(slot_));
  } else if (!ResolveRow(*db_, *table_, id_, data_page_, bytes, data_id_)) {
    return false;
  }
  if (bytes.empty()) return false;
  row_.Load(bytes);
  return true;
}

}  // namespace jet
