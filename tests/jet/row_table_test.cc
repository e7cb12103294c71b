// The row-offset table of data pages: every reader (the one-row lookup, the
// page decoder a scan uses, the page rebuild and the check) follows one rule
// for deleted slots with stale offsets.
#include "jet/page/row_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jet/page/data_page.h"
#include "jet/table/check.h"
#include "jet/table/create.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

const Layout kJet4 = Layout::For(Version::kJet4);

// A Jet 4 data page with the given rows, packed as Access packs them, and
// then the given entries put over the offsets (to plant stale ones).
struct TestPage {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kJet4.page_size, 0);
  std::vector<uint16_t> starts;

  explicit TestPage(const std::vector<std::string>& rows) {
    InitDataPage(bytes, kJet4, 77);
    uint32_t end = kJet4.page_size;
    for (size_t i = 0; i < rows.size(); ++i) {
      end -= static_cast<uint32_t>(rows[i].size());
      std::memcpy(bytes.data() + end, rows[i].data(), rows[i].size());
      starts.push_back(static_cast<uint16_t>(end));
      RowTable::PutEntry(bytes, kJet4, static_cast<uint16_t>(i), static_cast<uint16_t>(end), 0);
    }
    const uint32_t table_end = kJet4.data_header + 2 * static_cast<uint32_t>(rows.size());
    RowTable::PutCountAndFree(bytes, kJet4, static_cast<uint16_t>(rows.size()),
                              static_cast<uint16_t>(end - table_end));
  }
  // Turns slot `i` into a deleted slot naming `offset`; the rows after it are
  // moved up so that they follow the last placed row, as after a compaction
  // that kept the deleted slot's stale entry.
  void DeleteWithStaleOffset(uint16_t i, uint16_t offset) {
    const uint32_t gap = (i == 0 ? kJet4.page_size : starts[i - 1]) - starts[i];
    const uint32_t low = starts.back();
    std::memmove(bytes.data() + low + gap, bytes.data() + low, starts[i] - low);
    for (size_t k = i + 1; k < starts.size(); ++k) {
      starts[k] = static_cast<uint16_t>(starts[k] + gap);
      RowTable::PutEntry(bytes, kJet4, static_cast<uint16_t>(k), starts[k], 0);
    }
    RowTable::PutEntry(bytes, kJet4, i, offset, kSlotFlags);
    const uint32_t table_end = kJet4.data_header + 2 * static_cast<uint32_t>(starts.size());
    RowTable::PutCountAndFree(bytes, kJet4, static_cast<uint16_t>(starts.size()),
                              static_cast<uint16_t>(starts.back() - table_end));
  }
  std::string RowText(Bytes b) const { return std::string(b.begin(), b.end()); }
};

TEST(RowTable, EveryReaderSkipsADeletedSlotWithAStaleOffset) {
  const std::vector<std::string> rows = {"first row.", "second row, deleted", "third", "fourth!"};
  // Above the row before it, and inside the header: both stale.
  for (uint16_t stale : {uint16_t{4095}, uint16_t{3}}) {
    SCOPED_TRACE(stale);
    TestPage page(rows);
    page.DeleteWithStaleOffset(1, stale);
    const RowTable table(page.bytes, kJet4);
    ASSERT_EQ(table.size(), 4);
    EXPECT_EQ(table[1].kind(), SlotKind::kDeleted);
    EXPECT_EQ(table[1].length, 0);
    for (uint16_t i : {0, 2, 3}) {
      EXPECT_EQ(page.RowText(table.Row(page.bytes, i)), rows[i]);
      EXPECT_EQ(page.RowText(RowTable::RowAt(page.bytes, kJet4, i)), rows[i]);
    }
    EXPECT_TRUE(RowTable::RowAt(page.bytes, kJet4, 1).empty());
    EXPECT_EQ(table.computed_free(), U16(page.bytes, kJet4.data_free));

    // The rebuild keeps every live row and shrinks the deleted one.
    DataPage dp(page.bytes, kJet4);
    dp.mutable_bytes(3) = "fourth, changed";
    dp.Store();
    const RowTable after(page.bytes, kJet4);
    EXPECT_EQ(page.RowText(after.Row(page.bytes, 0)), rows[0]);
    EXPECT_EQ(page.RowText(after.Row(page.bytes, 2)), rows[2]);
    EXPECT_EQ(page.RowText(after.Row(page.bytes, 3)), "fourth, changed");
    EXPECT_EQ(after[1].kind(), SlotKind::kDeleted);
  }
}

TEST(RowTable, ALiveSlotOutOfOrderOrACountPastThePageIsDamaged) {
  TestPage page({"aaaa", "bbbb", "cccc"});
  RowTable::PutEntry(page.bytes, kJet4, 1, 4095, 0);  // live, above its end
  EXPECT_THROW(RowTable(page.bytes, kJet4), Error);
  EXPECT_THROW(RowTable::RowAt(page.bytes, kJet4, 2), Error);
  EXPECT_EQ(page.RowText(RowTable::RowAt(page.bytes, kJet4, 0)), "aaaa");

  TestPage many({"x"});
  Put16(many.bytes, kJet4.data_row_count, 2100);  // the table would pass the page end
  EXPECT_THROW(RowTable(many.bytes, kJet4), Error);
  EXPECT_THROW(RowTable::RowAt(many.bytes, kJet4, 0), Error);
  EXPECT_THROW(RowTable::RowAt(page.bytes, kJet4, 3), Error);  // past the count
}

// The same on a real table: a stale deleted slot between two rows of a
// table's page; a scan returns the other rows whole and the check is clean.
TEST(RowTable, ScansAndTheCheckAgreeOnAStaleDeletedSlot) {
  ScratchDir dir;
  const std::string path = (dir.path() / "stale.mdb").string();
  CreateDatabase(path, FileFormat::kMdb2003);
  uint32_t data_page = 0;
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    db->CreateTable("T", {{"Name", ColumnType::kText}});
    for (const char* name : {"Ada", "Grace", "Edsger", "Barbara"}) {
      db->InsertRow("T", {{"Name", Value::Text(name)}});
    }
    db->Commit();
    TableScan scan(*db, db->Table("T"));
    ASSERT_TRUE(scan.Next());
    data_page = scan.id().page;
  }
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    PagePtr p = db->pager().GetForWrite(data_page);
    const RowTable before(p->bytes(), db->layout());
    ASSERT_EQ(before.size(), 4);
    // Slot 1 deleted, its bytes dropped, its entry left above its neighbour.
    std::vector<std::string> rows;
    for (uint16_t i = 0; i < 4; ++i) {
      Bytes r = before.Row(p->bytes(), i);
      rows.emplace_back(r.begin(), r.end());
    }
    TestPage rebuilt(rows);
    rebuilt.DeleteWithStaleOffset(1, 4095);
    std::memcpy(p->data.data() + db->layout().data_header,
                rebuilt.bytes.data() + db->layout().data_header,
                db->layout().page_size - db->layout().data_header);
    Put16(p->mutable_bytes(), db->layout().data_free, U16(rebuilt.bytes, db->layout().data_free));
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{});
  std::vector<std::string> names;
  TableScan scan(*db, db->Table("T"));
  const Column* name = db->Table("T")->FindColumn("Name");
  while (scan.Next()) names.push_back(scan.Get(*name).bytes());
  EXPECT_EQ(names, (std::vector<std::string>{"Ada", "Edsger", "Barbara"}));
  EXPECT_TRUE(CheckDatabase(*db).ok())
      << (CheckDatabase(*db).problems.empty() ? "" : CheckDatabase(*db).problems[0]);
}

}  // namespace
}  // namespace jet
