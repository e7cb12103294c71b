#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

struct Fixture {
  const char* file;
  const char* table;
  const char* password;
  bool code_page = false;  // Jet 3: text is stored in a single-byte code page
};

// Every other column of every row, by row identity, as text forms plus kind,
// so a change that disturbs neighbours is caught.
std::map<uint32_t, std::vector<std::string>> Snapshot(Database& db, const std::string& table,
                                                      const std::string& skip) {
  std::map<uint32_t, std::vector<std::string>> out;
  auto t = db.Table(table);
  TableScan scan(db, t);
  while (scan.Next()) {
    std::vector<std::string> row;
    for (const auto& c : t->columns) {
      if (NamesEqual(c.name, skip)) continue;
      Value v = scan.Get(c);
      row.push_back(std::to_string(static_cast<int>(v.kind())) + ":" +
                    (v.kind() == Value::Kind::kBinary ? v.bytes() : TextForm(v)));
    }
    out[scan.id().Packed()] = row;
  }
  return out;
}

std::string MemoOfSize(size_t chars, int seed, bool code_page = false) {
  static const char* words[] = {"Anna ",  "O'Hara ", "Zoë ",  "façade ",
                                "naïve ", "Łódź ",   "日本 ", "x"};
  static const char* latin[] = {"Anna ", "O'Hara ", "Zoë ", "façade ", "naïve ", "Øre ", "€ ", "x"};
  const char* const* pick = code_page ? latin : words;
  std::string s;
  std::mt19937 rng(seed);
  while (s.size() < chars) s += pick[rng() % 8];
  // Cut on a character boundary.
  size_t n = chars;
  while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  s.resize(n);
  return s;
}

// The integrity check's verdict, with its first problem when there is one.
::testing::AssertionResult Sound(Database& db) {
  CheckReport r = CheckDatabase(db);
  if (r.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << r.problems[0];
}

// The table the multi-fixture tests change in each file.
std::string TableIn(const std::string& file) {
  return file.find("V1997") != std::string::npos ? "Table1" : "People";
}

class WriterRoundTrip : public ::testing::TestWithParam<Fixture> {};

TEST_P(WriterRoundTrip, MemoColumnOfEverySizeClassSurvivesReopen) {
  const Fixture f = GetParam();
  ScratchDir dir;
  std::string path = dir.Copy(f.file);
  OpenOptions rw{f.password, true};
  std::map<uint32_t, std::vector<std::string>> before;
  std::map<uint32_t, std::optional<std::string>> written;
  const std::vector<size_t> sizes = {0, 3, 20, 64, 65, 300, 2100, 4072, 4100, 9000, 70000};
  {
    auto db = Database::Open(path, rw);
    before = Snapshot(*db, f.table, "Merged");
    db->AddColumn(f.table, "Merged", ColumnType::kMemo);
    db->Commit();
    auto t = db->Table(f.table);
    const Column* m = t->FindColumn("Merged");
    ASSERT_NE(m, nullptr);
    std::vector<RowId> ids;
    {
      TableScan scan(*db, t);
      while (scan.Next()) {
        EXPECT_TRUE(scan.Get(*m).is_null()) << "an added column reads as null in old rows";
        ids.push_back(scan.id());
      }
    }
    ASSERT_FALSE(ids.empty());
    int k = 0;
    for (RowId id : ids) {
      std::optional<std::string> v;
      if (k % 13 != 12) v = MemoOfSize(sizes[k % sizes.size()], k, f.code_page);
      db->UpdateRow(*t, id, {{m, v ? Value::Text(*v) : Value::Null()}});
      written[id.Packed()] = v;
      ++k;
    }
    // Second pass rewrites some values with other sizes, so rows move again
    // and long values are replaced.
    k = 0;
    for (RowId id : ids) {
      if (k % 3 == 0) {
        std::string v = MemoOfSize(sizes[(k + 5) % sizes.size()], k + 100, f.code_page);
        db->UpdateRow(*t, id, {{m, Value::Text(v)}});
        written[id.Packed()] = v;
      }
      ++k;
    }
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{f.password, false});
  EXPECT_TRUE(Sound(*db));
  EXPECT_EQ(Snapshot(*db, f.table, "Merged"), before);
  auto t = db->Table(f.table);
  const Column* m = t->FindColumn("Merged");
  ASSERT_NE(m, nullptr);
  TableScan scan(*db, t);
  size_t seen = 0;
  while (scan.Next()) {
    auto& want = written.at(scan.id().Packed());
    Value got = scan.Get(*m);
    if (!want) {
      EXPECT_TRUE(got.is_null());
    } else {
      ASSERT_EQ(got.kind(), Value::Kind::kText);
      EXPECT_EQ(got.bytes().size(), want->size()) << "row " << seen;
      EXPECT_TRUE(got.bytes() == *want) << "row " << seen << " differs";
    }
    ++seen;
  }
  EXPECT_EQ(seen, written.size());
}

TEST_P(WriterRoundTrip, DropAndAddAgainReadsNull) {
  const Fixture f = GetParam();
  ScratchDir dir;
  std::string path = dir.Copy(f.file);
  {
    auto db = Database::Open(path, OpenOptions{f.password, true});
    auto before = Snapshot(*db, f.table, "Extra");
    db->AddColumn(f.table, "Extra", ColumnType::kMemo);
    auto t = db->Table(f.table);
    TableScan scan(*db, t);
    std::vector<RowId> ids;
    while (scan.Next()) ids.push_back(scan.id());
    for (RowId id : ids)
      db->UpdateRow(*t, id, {{t->FindColumn("Extra"), Value::Text(MemoOfSize(200, 1))}});
    db->Commit();
    uint16_t max_cols = db->Table(f.table)->max_cols;
    db->DropColumn(f.table, "extra");  // names match without regard to case
    db->Commit();
    EXPECT_EQ(db->Table(f.table)->FindColumn("Extra"), nullptr);
    EXPECT_EQ(db->Table(f.table)->max_cols, max_cols) << "column numbers are never reused";
    db->AddColumn(f.table, "Extra", ColumnType::kMemo);
    db->Commit();
    EXPECT_EQ(Snapshot(*db, f.table, "Extra"), before);
  }
  auto db = Database::Open(path, OpenOptions{f.password, false});
  auto t = db->Table(f.table);
  TableScan scan(*db, t);
  while (scan.Next()) EXPECT_TRUE(scan.Get(*t->FindColumn("Extra")).is_null());
  EXPECT_TRUE(Sound(*db));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WriterRoundTrip,
    ::testing::Values(Fixture{"generated/people_V2000_200.mdb", "People", ""},
                      Fixture{"generated/people_V2007_300.accdb", "People", ""},
                      Fixture{"jackcess/testV1997.mdb", "Table1", "", true},
                      Fixture{"mdbtestdata/nwind.mdb", "Customers", "", true},
                      Fixture{"jackcess-encrypt/db-enc.mdb", "Table1", ""},
                      Fixture{"jackcess/overflowTestV2003.mdb", "Table1", ""},
                      Fixture{"efcore-jet/Northwind.accdb", "Order Details", ""},
                      Fixture{"mdb-reader/bigint.accdb", "Table", ""}),
    [](const auto& info) {
      std::string n = info.param.file;
      for (auto& ch : n) {
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return n;
    });

// Property blocks as "block.name=value" lines, in stored order.
std::vector<std::string> PropertyLines(const ObjectProperties& p) {
  std::vector<std::string> out;
  auto add = [&](const std::string& block, const PropertyMap& m) {
    for (const auto& item : m.items()) {
      out.push_back(block + "." + item.name + "=" + TextForm(item.value));
    }
  };
  add("", p.object);
  for (const auto& [name, m] : p.columns) add(name, m);
  return out;
}

// A dropped column takes its properties (here Required and DefaultValue)
// with it; a new column of the same name starts without any, and every
// other block stays as it was.
TEST(WriterProperties, DroppedColumnLeavesNoPropertiesBehind) {
  ScratchDir dir;
  std::string path = dir.Copy("efcore-jet/Northwind.accdb");
  std::vector<std::string> expected;
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    const ObjectProperties before = db->TableProperties("Order Details");
    ASSERT_NE(before.Column("Discount"), nullptr);
    ASSERT_NE(before.Column("Quantity"), nullptr);
    for (const auto& line : PropertyLines(before)) {
      if (line.rfind("Discount.", 0) != 0) expected.push_back(line);
    }
    db->DropColumn("Order Details", "DISCOUNT");
    db->Commit();
    db->AddColumn("Order Details", "Discount", ColumnType::kMemo);
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{});
  const ObjectProperties after = db->TableProperties("Order Details");
  EXPECT_EQ(after.Column("Discount"), nullptr);
  EXPECT_EQ(PropertyLines(after), expected);
  EXPECT_TRUE(Sound(*db));
  // Tables whose columns have no block are left alone.
  ScratchDir other;
  std::string plain = other.Copy("generated/people_V2000_200.mdb");
  auto pdb = Database::Open(plain, OpenOptions{"", true});
  const std::vector<std::string> people = PropertyLines(pdb->TableProperties("People"));
  pdb->DropColumn("People", "City");
  pdb->Commit();
  EXPECT_EQ(PropertyLines(pdb->TableProperties("People")), people);
}

// Refused changes leave the file exactly as it was.
TEST(WriterRefusals, RefusedDefinitionChangesChangeNothing) {
  ScratchDir dir;
  std::string path = dir.Copy("efcore-jet/Northwind.accdb");
  std::string before = testing_support::ReadFile(path);
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    auto expect_refused = [&](auto&& f, const std::string& needle) {
      try {
        f();
        ADD_FAILURE() << "not refused: " << needle;
      } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
      }
    };
    // OrderID is part of the primary key and of a relationship.
    expect_refused([&] { db->DropColumn("Order Details", "OrderID"); }, "index");
    expect_refused([&] { db->DropColumn("Order Details", "NoSuchField"); }, "does not exist");
    expect_refused([&] { db->DropColumn("No Such Table", "X"); }, "does not exist");
    expect_refused([&] { db->AddColumn("Order Details", "quantity", ColumnType::kMemo); },
                   "already exists");
    for (const char* bad : {"", " lead", "a.b", "a!b", "a`b", "a[b", "a]b", "tab\there"}) {
      expect_refused([&] { db->AddColumn("Order Details", bad, ColumnType::kMemo); },
                     "not a valid field name");
    }
    expect_refused([&] { db->AddColumn("Order Details", std::string(65, 'x'), ColumnType::kMemo); },
                   "64 characters");
    db->Commit();
  }
  EXPECT_TRUE(testing_support::ReadFile(path) == before);
}

TEST(WriterRefusals, ReadOnlyOpenCannotWrite) {
  ScratchDir dir;
  std::string path = dir.Copy("generated/people_V2000_200.mdb");
  auto db = Database::Open(path, OpenOptions{"", false});
  EXPECT_THROW(db->AddColumn("People", "X", ColumnType::kMemo), Error);
}

TEST(WriterPlacement, GrowingRowsFirstUseRoomOnTheirOwnPage) {
  ScratchDir dir;
  std::string path = dir.Copy("generated/people_V2000_200.mdb");
  auto db = Database::Open(path, OpenOptions{"", true});
  db->AddColumn("People", "M", ColumnType::kMemo);
  auto t = db->Table("People");
  std::vector<RowId> ids;
  {
    TableScan scan(*db, t);
    while (scan.Next()) ids.push_back(scan.id());
  }
  // A short value for a row on a page with room: the page is repacked, the
  // row stays in its slot and no page is added.
  const Layout& L = db->layout();
  auto roomy = std::find_if(ids.begin(), ids.end(), [&](RowId id) {
    return U16(db->pager().Get(id.page)->bytes(), L.data_free) > 100;
  });
  ASSERT_NE(roomy, ids.end());
  uint32_t pages_before = db->pager().page_count();
  db->UpdateRow(*t, *roomy, {{t->FindColumn("M"), Value::Text("abc")}});
  PagePtr page;
  Bytes bytes;
  RowId data_id;
  ASSERT_TRUE(ResolveRow(*db, *t, *roomy, page, bytes, data_id));
  EXPECT_EQ(data_id, *roomy);
  EXPECT_EQ(db->pager().page_count(), pages_before);
  // A row that moved twice leaves no second copy behind (checked by CheckDatabase).
  for (int round = 0; round < 3; ++round) {
    for (RowId id : ids) {
      db->UpdateRow(*t, id, {{t->FindColumn("M"), Value::Text(std::string(60 + 40 * round, 'q'))}});
    }
  }
  db->Commit();
  EXPECT_TRUE(Sound(*db));
}

// A definition that grows past its page keeps every section, and shrinks
// back when columns go again.
TEST(WriterDefinitions, DefinitionGrowsPastAPageAndShrinksBack) {
  for (const char* file : {"generated/people_V2000_200.mdb", "jackcess/testV1997.mdb"}) {
    ScratchDir dir;
    std::string path = dir.Copy(file);
    const std::string table = TableIn(file);
    std::vector<std::string> added;
    size_t pages_before;
    std::map<uint32_t, std::vector<std::string>> before;
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      before = Snapshot(*db, table, "");
      pages_before = db->Table(table)->pages.size();
      for (int i = 0; i < 40; ++i) {
        std::string name = "Column number " + std::to_string(i) + " with a deliberately long name";
        db->AddColumn(table, name, i % 2 ? ColumnType::kMemo : ColumnType::kText, 50);
        added.push_back(name);
      }
      db->Commit();
      auto t = db->Table(table);
      EXPECT_GT(t->pages.size(), pages_before);
      TableScan scan(*db, t);
      std::vector<RowId> ids;
      while (scan.Next()) ids.push_back(scan.id());
      for (RowId id : ids) {
        db->UpdateRow(*t, id,
                      {{t->FindColumn(added[39]), Value::Text("last")},
                       {t->FindColumn(added[0]), Value::Text("first")}});
      }
      db->Commit();
    }
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      auto t = db->Table(table);
      ASSERT_EQ(t->columns.size(), before.begin()->second.size() + 40);
      EXPECT_EQ(t->columns.back().name, added.back());
      TableScan scan(*db, t);
      while (scan.Next()) {
        EXPECT_EQ(TextForm(scan.Get(*t->FindColumn(added[39]))), "last");
        EXPECT_EQ(TextForm(scan.Get(*t->FindColumn(added[0]))), "first");
        EXPECT_TRUE(scan.Get(*t->FindColumn(added[20])).is_null());
      }
      for (const auto& name : added) db->DropColumn(table, name);
      db->Commit();
      EXPECT_EQ(db->Table(table)->pages.size(), pages_before);
      EXPECT_EQ(Snapshot(*db, table, ""), before);
      EXPECT_TRUE(Sound(*db));
    }
  }
}

// A value of a megabyte spans hundreds of long-value pages; replacing it
// with a short one frees their rows for the column's next values.
TEST(WriterLongValues, OneMegabyteValueRoundTripsAndIsReplaced) {
  for (const char* file : {"generated/people_V2007_300.accdb", "jackcess/testV1997.mdb"}) {
    ScratchDir dir;
    std::string path = dir.Copy(file);
    const std::string table = TableIn(file);
    std::string big = MemoOfSize(1 << 20, 3, true);
    RowId first;
    uint32_t pages_after_big = 0;
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      db->AddColumn(table, "Big", ColumnType::kMemo);
      auto t = db->Table(table);
      TableScan scan(*db, t);
      ASSERT_TRUE(scan.Next());
      first = scan.id();
      db->UpdateRow(*t, first, {{t->FindColumn("Big"), Value::Text(big)}});
      db->Commit();
      pages_after_big = db->pager().page_count();
    }
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      auto t = db->Table(table);
      TableScan scan(*db, t);
      ASSERT_TRUE(scan.Next());
      Value v = scan.Get(*t->FindColumn("Big"));
      ASSERT_EQ(v.kind(), Value::Kind::kText);
      EXPECT_TRUE(v.bytes() == big);
      // Replacing it, then writing it again, reuses the freed rows.
      db->UpdateRow(*t, first, {{t->FindColumn("Big"), Value::Text("short")}});
      db->UpdateRow(*t, first, {{t->FindColumn("Big"), Value::Text(big)}});
      db->Commit();
      EXPECT_LE(db->pager().page_count(), pages_after_big + 2);
      EXPECT_TRUE(Sound(*db));
    }
  }
}

// The integrity check finds nothing wrong in files Access and other tools
// made, so that what it reports after our writes is ours.
TEST(IntegrityCheck, PassesOnEveryFixture) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(testing_support::DataPath(""))) {
    const std::string p = entry.path().string();
    if (p.find("/expected/") != std::string::npos) continue;
    if (entry.path().extension() != ".mdb" && entry.path().extension() != ".accdb") continue;
    const bool protected_file =
        p.find("password") != std::string::npos || p.find("agile") != std::string::npos;
    auto db = Database::Open(p, OpenOptions{protected_file ? "password" : "", false});
    CheckReport r = CheckDatabase(*db);
    EXPECT_TRUE(r.ok()) << p << ": " << (r.problems.empty() ? "" : r.problems[0]);
    ++files;
  }
  EXPECT_GE(files, 25u);
}

}  // namespace
}  // namespace jet
