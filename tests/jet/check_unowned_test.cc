// The integrity check accounts for every page that holds something: a page
// with rows, a definition or index entries that no object of the database
// owns is reported, except the leftovers Access itself leaves until the file
// is compacted, which are noted.
#include <gtest/gtest.h>

#include <string>

#include "jet/page/allocator.h"
#include "jet/table/check.h"
#include "jet/table/database.h"
#include "jet/page/data_page.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

bool Mentions(const std::vector<std::string>& lines, const std::string& what) {
  for (const std::string& l : lines) {
    if (l.find(what) != std::string::npos) return true;
  }
  return false;
}

// Adds a page the way a write of some other file would leave it: allocated in
// the file-wide map, a sound data page with a row, owned by nothing here.
// Returns its number.
uint32_t AddForeignDataPage(const std::string& path, uint32_t owner) {
  auto db = Database::Open(path, OpenOptions{"", true});
  PageAllocator alloc(db->pager(), db->layout());
  PagePtr p = alloc.NewPage();
  InitDataPage(p->mutable_bytes(), db->layout(), owner);
  DataPage dp(p->mutable_bytes(), db->layout());
  dp.Add(std::string("\x03\x00row from elsewhere\x00\x00", 22));
  dp.Store();
  db->Commit();
  return p->number;
}

TEST(UnownedPages, AForeignDataPageIsAProblem) {
  for (const char* fixture :
       {"generated/people_V2007_300.accdb", "generated/people_V2000_200.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchDir dir;
    const std::string path = dir.Copy(fixture);
    {
      auto db = Database::Open(path, OpenOptions{});
      ASSERT_TRUE(CheckDatabase(*db).ok());
    }
    // Its owner is a page of this file that is no table's definition (the
    // file-wide map's page), as a page from another file would name.
    const uint32_t page = AddForeignDataPage(path, 1);
    auto db = Database::Open(path, OpenOptions{});
    CheckReport r = CheckDatabase(*db);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(Mentions(r.problems, "page " + std::to_string(page) + " holds rows"))
        << (r.problems.empty() ? "no problem reported" : r.problems[0]);
    // The tables themselves are untouched.
    EXPECT_EQ(r.problems.size(), 1u);
  }
}

TEST(UnownedPages, ForeignIndexPagesAndOwnersPastTheEndAreProblems) {
  ScratchDir dir;
  const std::string path = dir.Copy("generated/people_V2007_300.accdb");
  const uint32_t data_page = AddForeignDataPage(path, 0x00FFFFF0);
  uint32_t index_page = 0;
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    PageAllocator alloc(db->pager(), db->layout());
    PagePtr p = alloc.NewPage();
    MutableBytes b = p->mutable_bytes();
    // A leaf with one entry's worth of bytes used, naming an owner that is
    // no definition.
    b[0] = 0x04;
    b[1] = 0x01;
    Put16(b, 2, static_cast<uint16_t>(b.size() - 0x1E0 - 8));
    Put32(b, 4, 1);
    index_page = p->number;
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{});
  CheckReport r = CheckDatabase(*db);
  EXPECT_TRUE(Mentions(r.problems, "page " + std::to_string(data_page) + " holds rows"));
  EXPECT_TRUE(Mentions(r.problems, "page " + std::to_string(index_page) + " holds index entries"));
}

TEST(UnownedPages, EmptyAndFreePagesAreNotReported) {
  ScratchDir dir;
  const std::string path = dir.Copy("generated/people_V2007_300.accdb");
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    PageAllocator alloc(db->pager(), db->layout());
    // An allocated page that never got content, and a data page whose only
    // row is deleted.
    alloc.NewPage();
    PagePtr p = alloc.NewPage();
    InitDataPage(p->mutable_bytes(), db->layout(), 1);
    DataPage dp(p->mutable_bytes(), db->layout());
    dp.Delete(dp.Add("gone"));
    dp.Store();
    // A page with rows that the file-wide map gives back as free.
    PagePtr q = alloc.NewPage();
    InitDataPage(q->mutable_bytes(), db->layout(), 1);
    DataPage dq(q->mutable_bytes(), db->layout());
    dq.Add("stale row");
    dq.Store();
    alloc.MarkGlobal(q->number, true);
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{});
  CheckReport r = CheckDatabase(*db);
  EXPECT_TRUE(r.ok()) << r.problems[0];
}

// A dropped memo column's long values stay where they were; their pages
// name no table, only "LVAL", and are noted.
TEST(UnownedPages, LongValuesOfADroppedColumnAreNoted) {
  ScratchDir dir;
  const std::string path = dir.Copy("generated/people_V2007_300.accdb");
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    const std::string table = "People";
    db->AddColumn(table, "Notes2", ColumnType::kMemo);
    auto t = db->Table(table);
    std::vector<RowId> ids;
    TableScan scan(*db, t);
    while (scan.Next()) ids.push_back(scan.id());
    for (RowId id : ids) {
      db->UpdateRow(*t, id, {{t->FindColumn("Notes2"), Value::Text(std::string(3000, 'n'))}});
    }
    db->Commit();
    db->DropColumn(table, "Notes2");
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{});
  CheckReport r = CheckDatabase(*db);
  EXPECT_TRUE(r.ok()) << r.problems[0];
  EXPECT_TRUE(Mentions(r.notes, "long-value pages belong to no column"));
}

// Access-made files that keep pages Access let go of but did not free: the
// old page of a system table it rewrote, a dropped table's definition with
// its maps and index pages, a usage bitmap no map names. They pass, with a
// note naming them.
TEST(UnownedPages, LeftoversOfAccessAreNoted) {
  struct Case {
    const char* fixture;
    const char* password;
    const char* note;
  };
  for (const Case& c : {
           Case{"mdb-reader/withdeletedcol.accdb", "", "page 94 holds rows of table"},
           Case{"mdb-reader/office-agile-4.4.accdb", "password", "page 68 holds rows of table"},
           Case{"jackcess/odbcLinkerTestV2007.accdb", "", "1 table definitions no catalogue"},
           Case{"mdbtestdata/nwind.mdb", "", "page 1348 is a usage bitmap"},
       }) {
    SCOPED_TRACE(c.fixture);
    auto db = Database::Open(testing_support::DataPath(c.fixture), OpenOptions{c.password, false});
    CheckReport r = CheckDatabase(*db);
    EXPECT_TRUE(r.ok()) << r.problems[0];
    EXPECT_TRUE(Mentions(r.notes, c.note));
  }
}

}  // namespace
}  // namespace jet
