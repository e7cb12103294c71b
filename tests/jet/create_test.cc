// New databases, new tables and new rows: what the engine creates must read
// back the same in the engine, pass the integrity check (which walks every
// index and compares it with the rows), and hold index keys exactly as Access
// encodes them.
#include "jet/table/create.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

constexpr FileFormat kAllFormats[] = {FileFormat::kMdb2000, FileFormat::kMdb2003,
                                      FileFormat::kAccdb2007, FileFormat::kAccdb2016};

std::string Extension(FileFormat f) {
  return f == FileFormat::kMdb2000 || f == FileFormat::kMdb2003 ? ".mdb" : ".accdb";
}

void ExpectSound(Database& db) {
  CheckReport r = CheckDatabase(db);
  for (const auto& p : r.problems) ADD_FAILURE() << p;
  for (const auto& n : r.notes) {
    EXPECT_EQ(n.find("keys not compared"), std::string::npos) << n;
  }
}

std::vector<std::string> Names(Database& db, int16_t type, int32_t parent) {
  std::vector<std::string> out;
  for (const auto& e : db.Catalog()) {
    if (e.type == type && e.parent_id == parent) out.push_back(e.name);
  }
  return out;
}

// Words over ASCII letters and punctuation, accented and expanding Latin
// letters ("ß", "æ"), a combining accent, Cyrillic, Greek and ideographs.
std::string RandomWord(std::mt19937& rng) {
  static const std::vector<std::string> pieces = [] {
    std::vector<std::string> p;
    for (char c :
         std::string("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 '-.,&_"))
      p.emplace_back(1, c);
    for (const char* u :
         {"é", "É", "ß", "æ", "Ø", "ł", "Ł", "ñ", "\xCC\x81", "Ж", "ж", "λ", "漢", "字", "ü"})
      p.emplace_back(u);
    return p;
  }();
  std::string s;
  size_t n = 1 + rng() % 60;
  for (size_t i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
  return s;
}

class NewDatabase : public ::testing::TestWithParam<FileFormat> {};

TEST_P(NewDatabase, HasTheSystemObjectsAccessCreates) {
  const FileFormat f = GetParam();
  ScratchDir dir;
  const std::string path = (dir.path() / ("new" + Extension(f))).string();
  CreateDatabase(path, f, CreateOptions{45000.5});
  auto db = Database::Open(path, OpenOptions{});
  const bool ace = f == FileFormat::kAccdb2007 || f == FileFormat::kAccdb2016;
  EXPECT_EQ(db->version(), f == FileFormat::kAccdb2016   ? Version::kAce16
                           : f == FileFormat::kAccdb2007 ? Version::kAce12
                                                         : Version::kJet4);
  EXPECT_EQ(db->header().engine_name, ace ? "Standard ACE DB" : "Standard Jet DB");
  EXPECT_EQ(db->header().code_page, 1252);
  EXPECT_EQ(db->header().sort_order, 0x0409);
  EXPECT_EQ(db->header().sort_version, 0);
  EXPECT_EQ(db->header().database_key, 0u);
  EXPECT_TRUE(db->header().password.empty());
  EXPECT_DOUBLE_EQ(db->header().creation_date, 45000.5);

  EXPECT_EQ(Names(*db, 3, kContainersParent),
            (std::vector<std::string>{"Tables", "Databases", "Relationships"}));
  std::vector<std::string> tables = {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};
  if (ace) {
    for (const char* t :
         {"MSysComplexColumns", "MSysComplexType_UnsignedByte", "MSysComplexType_Short",
          "MSysComplexType_Long", "MSysComplexType_IEEESingle", "MSysComplexType_IEEEDouble",
          "MSysComplexType_GUID", "MSysComplexType_Decimal", "MSysComplexType_Text",
          "MSysComplexType_Attachment"}) {
      tables.push_back(t);
    }
  }
  EXPECT_EQ(Names(*db, 1, kTablesContainer), tables);
  for (const auto& e : db->Catalog()) {
    EXPECT_NE(e.flags & 0x80000000u, 0u) << e.name;
    EXPECT_EQ(e.flags & 0x00030000u, e.name.rfind("MSysComplexType_", 0) == 0 ? 0x30000u : 0u);
  }
  EXPECT_TRUE(db->UserTables().empty());
  // The catalogue is page 2 and its columns are numbered as in every Access file.
  auto cat = db->TableById(2);
  const char* columns[] = {"Id",          "ParentId",     "Name",        "Type",     "DateCreate",
                           "DateUpdate",  "Owner",        "Flags",       "Database", "Connect",
                           "ForeignName", "RmtInfoShort", "RmtInfoLong", "Lv",       "LvProp",
                           "LvModule",    "LvExtra"};
  ASSERT_EQ(cat->columns.size(), 17u);
  for (uint16_t i = 0; i < 17; ++i) {
    const Column* c = cat->FindColumn(columns[i]);
    ASSERT_NE(c, nullptr) << columns[i];
    EXPECT_EQ(c->number, i);
  }
  ASSERT_EQ(cat->real_indexes.size(), 2u);
  // Access tells its two .mdb formats apart by this property.
  ObjectProperties props = db->Properties(0x10000000);
  EXPECT_EQ(TextForm(props.object.Get("AccessVersion")),
            f == FileFormat::kMdb2000 ? "08.50" : "09.50");
  ExpectSound(*db);
}

TEST_P(NewDatabase, RefusesAnExistingFileAndLeavesNoTemporaryBehind) {
  ScratchDir dir;
  const std::string path = (dir.path() / "x.db").string();
  testing_support::WriteFile(path, "precious");
  EXPECT_THROW(CreateDatabase(path, GetParam()), Error);
  EXPECT_EQ(testing_support::ReadFile(path), "precious");
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_P(NewDatabase, SameOptionsGiveTheSameBytes) {
  ScratchDir dir;
  const std::string a = (dir.path() / "a.db").string();
  const std::string b = (dir.path() / "b.db").string();
  CreateDatabase(a, GetParam(), CreateOptions{44000.25});
  CreateDatabase(b, GetParam(), CreateOptions{44000.25});
  EXPECT_EQ(testing_support::ReadFile(a), testing_support::ReadFile(b));
}

INSTANTIATE_TEST_SUITE_P(Formats, NewDatabase, ::testing::ValuesIn(kAllFormats),
                         [](const auto& info) { return FileFormatName(info.param); });

// A table of every type a new table can have, filled and read back.
class NewTable : public ::testing::TestWithParam<FileFormat> {};

std::vector<NewColumn> EveryType() {
  return {
      {"ID", ColumnType::kLong, 255, true}, {"Name", ColumnType::kText, 40},
      {"Notes", ColumnType::kMemo},         {"Small", ColumnType::kByte},
      {"Medium", ColumnType::kInteger},     {"Large", ColumnType::kLong},
      {"Price", ColumnType::kCurrency},     {"Ratio", ColumnType::kFloat},
      {"Exact", ColumnType::kDouble},       {"Born", ColumnType::kDateTime},
      {"Active", ColumnType::kBoolean},
  };
}

TEST_P(NewTable, RowsOfEveryTypeReadBackAfterReopen) {
  ScratchDir dir;
  const std::string path = (dir.path() / ("t" + Extension(GetParam()))).string();
  CreateDatabase(path, GetParam());
  const std::string long_memo(9000, 'm');
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    db->CreateTable("People", EveryType(), {"ID"});
    db->InsertRow("People", {{"Name", Value::Text("Zoë O'Hara")},
                             {"Notes", Value::Text("short")},
                             {"Small", Value::Int(255)},
                             {"Medium", Value::Int(-32768)},
                             {"Large", Value::Int(2147483647)},
                             {"Price", Value::Currency(-123456789)},
                             {"Ratio", Value::Float(0.5f)},
                             {"Exact", Value::Double(-1e300)},
                             {"Born", Value::DateTime(-657434.0)},
                             {"Active", Value::Bool(true)}});
    db->InsertRow("People", {{"Name", Value::Null()}, {"Notes", Value::Text(long_memo)}});
    db->InsertRow("People", {{"ID", Value::Int(10)}, {"Name", Value::Text("")}});
    db->InsertRow("People", {});
    db->Commit();
  }
  auto db = Database::Open(path, OpenOptions{});
  EXPECT_EQ(db->UserTables(), std::vector<std::string>{"People"});
  auto t = db->Table("People");
  ASSERT_EQ(t->columns.size(), 11u);
  std::vector<NewColumn> want = EveryType();
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(t->columns[i].name, want[i].name);
    EXPECT_EQ(t->columns[i].type, want[i].type);
  }
  EXPECT_EQ(t->FindColumn("Name")->length, 80);
  EXPECT_TRUE(t->FindColumn("ID")->autonumber());
  EXPECT_EQ(t->row_count, 4u);
  EXPECT_EQ(t->autonumber, 11u);
  ASSERT_EQ(t->logical_indexes.size(), 1u);
  EXPECT_EQ(t->logical_indexes[0].name, "PrimaryKey");
  EXPECT_EQ(t->logical_indexes[0].kind, 1);
  std::vector<std::vector<std::string>> rows;
  TableScan scan(*db, t);
  while (scan.Next()) {
    std::vector<std::string> r;
    for (const auto& c : t->columns) {
      Value v = scan.Get(c);
      r.push_back(v.is_null() ? "<null>" : TextForm(v));
    }
    rows.push_back(r);
  }
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "Zoë O'Hara", "short", "255", "-32768",
                                               "2147483647", "-12345.6789", "0.5", "-1E+300",
                                               TextForm(Value::DateTime(-657434.0)), "True"}));
  EXPECT_EQ(rows[1][0], "2");
  EXPECT_EQ(rows[1][1], "<null>");
  EXPECT_EQ(rows[1][2], long_memo);
  EXPECT_EQ(rows[1][10], "False");
  EXPECT_EQ(rows[2][0], "10");
  EXPECT_EQ(rows[2][1], "");
  EXPECT_EQ(rows[3][0], "11");  // numbering goes on after an explicit value
  ExpectSound(*db);
}

TEST_P(NewTable, RefusalsChangeNothing) {
  ScratchDir dir;
  const std::string path = (dir.path() / ("r" + Extension(GetParam()))).string();
  CreateDatabase(path, GetParam());
  auto db = Database::Open(path, OpenOptions{"", true});
  db->CreateTable("Codes", {{"Code", ColumnType::kText, 10}, {"N", ColumnType::kLong}}, {"Code"});
  db->InsertRow("Codes", {{"Code", Value::Text("abc")}, {"N", Value::Int(1)}});
  db->Commit();
  auto expect_refused = [&](auto&& action, const std::string& words) {
    try {
      action();
      ADD_FAILURE() << "not refused: " << words;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
  };
  // Text keys fold case, as Access's do: "ABC" is a duplicate of "abc".
  expect_refused([&] { db->InsertRow("Codes", {{"Code", Value::Text("ABC")}}); }, "duplicate");
  expect_refused([&] { db->InsertRow("Codes", {{"N", Value::Int(2)}}); }, "Null");
  // Keys fold case beyond ASCII too.
  db->InsertRow("Codes", {{"Code", Value::Text("Łódź")}, {"N", Value::Int(2)}});
  db->Commit();
  expect_refused([&] { db->InsertRow("Codes", {{"Code", Value::Text("ŁÓDŹ")}}); }, "duplicate");
  expect_refused(
      [&] {
        db->InsertRow("Codes", {{"Code", Value::Text("much too long")}});
      },
      "too long");
  expect_refused([&] { db->CreateTable("codes", {{"X", ColumnType::kLong}}); }, "already exists");
  // Names whose sort keys are equal clash in the catalogue's unique index.
  db->CreateTable("Café", {{"X", ColumnType::kLong}});
  db->Commit();
  expect_refused(
      [&] {
        db->CreateTable("Cafe\xCC\x81", {{"X", ColumnType::kLong}});
      },
      "already exists");
  expect_refused([&] { db->CreateTable("A.B", {{"X", ColumnType::kLong}}); }, "not a valid table");
  expect_refused([&] { db->CreateTable("T", {}); }, "at least one field");
  expect_refused(
      [&] {
        db->CreateTable("T", {{"X", ColumnType::kLong}, {"x", ColumnType::kText}});
      },
      "defined twice");
  expect_refused(
      [&] {
        db->CreateTable("T", {{"M", ColumnType::kMemo}}, {"M"});
      },
      "cannot be part of a primary key");
  expect_refused([&] { db->CreateTable("T", {{"X", ColumnType::kText, 256}}); }, "255");
  EXPECT_EQ(db->pending_pages(), 0u);
  EXPECT_EQ(db->UserTables(), (std::vector<std::string>{"Café", "Codes"}));
  EXPECT_EQ(db->Table("Codes")->row_count, 2u);
  ExpectSound(*db);
}

// Yes/No can be part of a key: a missing value is No, so it collides with
// an explicit No.
TEST_P(NewTable, YesNoInAPrimaryKey) {
  ScratchDir dir;
  const std::string path = (dir.path() / ("y" + Extension(GetParam()))).string();
  CreateDatabase(path, GetParam());
  auto db = Database::Open(path, OpenOptions{"", true});
  db->CreateTable("Flags", {{"Code", ColumnType::kText, 10}, {"Active", ColumnType::kBoolean}},
                  {"Code", "Active"});
  db->InsertRow("Flags", {{"Code", Value::Text("a")}, {"Active", Value::Bool(true)}});
  db->InsertRow("Flags", {{"Code", Value::Text("a")}, {"Active", Value::Bool(false)}});
  db->InsertRow("Flags", {{"Code", Value::Text("b")}, {"Active", Value::Bool(true)}});
  EXPECT_THROW(db->InsertRow("Flags", {{"Code", Value::Text("A")}}), Error);
  db->Commit();
  EXPECT_EQ(db->Table("Flags")->row_count, 3u);
  ExpectSound(*db);
}

TEST_P(NewTable, ManyTablesSplitTheCatalogueIndexes) {
  ScratchDir dir;
  const std::string path = (dir.path() / ("m" + Extension(GetParam()))).string();
  CreateDatabase(path, GetParam());
  std::set<std::string> names;
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    std::mt19937 rng(5);
    while (names.size() < 600) {
      std::string name = "T" + std::to_string(rng() % 100000) + " - " + RandomWord(rng);
      std::replace(name.begin(), name.end(), '.', '_');  // not allowed in names
      // At most 64 characters, cut between characters.
      size_t chars = 0, cut = 0;
      while (cut < name.size() && chars < 64) {
        ++cut;
        while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
        ++chars;
      }
      name.resize(cut);
      while (name.back() == ' ') name.pop_back();
      bool clash = false;
      for (const auto& n : names) clash = clash || NamesEqual(n, name);
      if (clash) continue;
      try {
        db->CreateTable(name, {{"N", ColumnType::kLong}});
      } catch (const Error& e) {
        // Another name with the same sort key ("e" and a combining accent).
        ASSERT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
        continue;
      }
      names.insert(name);
      if (names.size() % 100 == 0) db->Commit();
    }
  }
  auto db = Database::Open(path, OpenOptions{});
  std::vector<std::string> listed = db->UserTables();
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), names);
  for (const RealIndex& r : db->TableById(2)->real_indexes) {
    IndexNode root =
        ReadIndexNode(db->pager().Get(r.first_page)->bytes(), r.first_page, db->layout());
    EXPECT_FALSE(root.leaf);
  }
  ExpectSound(*db);
}

INSTANTIATE_TEST_SUITE_P(Formats, NewTable, ::testing::ValuesIn(kAllFormats),
                         [](const auto& info) { return FileFormatName(info.param); });

// Rows added to tables Access made go into Access's own index trees (with
// their compressed leaves and nodes), which split; relationships are kept.
TEST(AccessTables, InsertsKeepTheirIndexesAndRelationships) {
  ScratchDir dir;
  const std::string path = dir.Copy("efcore-jet/Northwind.accdb");
  auto db = Database::Open(path, OpenOptions{"", true});
  auto ids = [&](const char* table, const char* column) {
    std::vector<int64_t> out;
    auto t = db->Table(table);
    TableScan scan(*db, t);
    while (scan.Next()) out.push_back(scan.Get(*t->FindColumn(column)).as_int());
    return out;
  };
  std::vector<int64_t> orders = ids("Orders", "OrderID");
  std::vector<int64_t> products = ids("Products", "ProductID");
  std::set<std::pair<int64_t, int64_t>> taken;
  {
    auto t = db->Table("Order Details");
    TableScan scan(*db, t);
    while (scan.Next()) {
      taken.emplace(scan.Get(*t->FindColumn("OrderID")).as_int(),
                    scan.Get(*t->FindColumn("ProductID")).as_int());
    }
  }
  const size_t before = taken.size();
  std::mt19937 rng(77);
  auto details = db->Table("Order Details");
  auto col = [&](const char* name) { return details->FindColumn(name); };
  while (taken.size() < before + 3000) {
    int64_t o = orders[rng() % orders.size()], p = products[rng() % products.size()];
    if (!taken.emplace(o, p).second) continue;
    db->InsertRow(*details, {{col("OrderID"), Value::Int(o)},
                             {col("ProductID"), Value::Int(p)},
                             {col("UnitPrice"), Value::Currency(12345)},
                             {col("Quantity"), Value::Int(static_cast<int>(rng() % 50))},
                             {col("Discount"), Value::Float(0.05f)}});
  }
  try {
    db->InsertRow(*details, {{col("OrderID"), Value::Int(1)}, {col("ProductID"), Value::Int(1)}});
    ADD_FAILURE() << "an order that does not exist was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("related record is required in table 'Orders'"),
              std::string::npos)
        << e.what();
  }
  db->InsertRow("Customers", {{"CustomerID", Value::Text("TESSA")},
                              {"CompanyName", Value::Text("Tessaly & Sons' Shop")},
                              {"City", Value::Text("Berlin")}});
  db->Commit();
  auto reopened = Database::Open(path, OpenOptions{});
  EXPECT_EQ(reopened->Table("Order Details")->row_count, before + 3000);
  CheckReport r = CheckDatabase(*reopened);
  for (const auto& p : r.problems) ADD_FAILURE() << p;
}

// Index keys of Access files: every entry of every index whose key encoding
// is known must be the key of its row, computed from the row's values.
TEST(IndexKeys, MatchWhatAccessStored) {
  const char* files[] = {"efcore-jet/Northwind.accdb",
                         "jackcess/delColTestV2000.mdb",
                         "jackcess/overflowTestV2003.mdb",
                         "jackcess/testUnicodeCompV2003.mdb",
                         "ucanaccess/weirdObjectNames.mdb",
                         "ucanaccess/parameters.accdb",
                         "mdb-reader/bigint.accdb",
                         "jackcess/testEmoticonsV2010.accdb",
                         "jackcess/odbcLinkerTestV2007.accdb",
                         "jackcess/testIndexPropertiesV2010.accdb"};
  size_t compared = 0;
  size_t non_ascii = 0;  // entries over text beyond ASCII
  std::set<int> versions;
  for (const char* f : files) {
    auto db = Database::Open(testing_support::DataPath(f), OpenOptions{});
    PageAllocator alloc(db->pager(), db->layout());
    for (const auto& e : db->Catalog()) {
      if (e.type != 1) continue;
      auto t = db->TableById(e.id);
      for (const RealIndex& r : t->real_indexes) {
        IndexTree tree(db->pager(), alloc, db->layout(), t->tdef_page, r.first_page, r.usage_map);
        std::map<uint32_t, std::string> stored;
        for (auto& entry : tree.Entries()) stored[entry.row] = entry.key;
        TableScan scan(*db, t);
        std::vector<Value> values(t->max_cols);
        while (scan.Next()) {
          for (const auto& c : t->columns) values[c.number] = scan.Get(c);
          std::string key;
          try {
            key = IndexKey(*t, r, values, db->version());
          } catch (const Error&) {
            continue;  // a type whose key is not known
          }
          auto it = stored.find(scan.id().Packed());
          if (it == stored.end()) continue;  // left out of an index that ignores nulls
          EXPECT_EQ(it->second, key) << f << " table " << e.name;
          ++compared;
          for (const auto& [number, order] : r.columns) {
            const Value& v = values[number];
            if (v.kind() == Value::Kind::kText &&
                std::any_of(v.bytes().begin(), v.bytes().end(), [](char c) { return c & 0x80; })) {
              ++non_ascii;
              break;
            }
          }
          versions.insert(db->header().sort_version);
        }
      }
    }
  }
  EXPECT_GT(compared, 3000u);
  EXPECT_GT(non_ascii, 0u);
  EXPECT_EQ(versions, (std::set<int>{0, 1}));
}

std::string Key(std::string_view text, uint8_t sort_version = 0, Version v = Version::kAce12) {
  return TextSortKey(text, sort_version, v);
}

TEST(IndexKeys, GeneralLegacyText) {
  // Case folds; blanks and punctuation have primary weights; the apostrophe
  // and the hyphen go to the last section with their position.
  EXPECT_EQ(Key("Tables"), std::string("\x6d\x4a\x4c\x5e\x51\x6b\x01\x00", 8));
  EXPECT_EQ(Key("TABLES"), Key("tables"));
  EXPECT_EQ(Key(""), std::string("\x01\x00", 2));
  EXPECT_EQ(Key("B's"), std::string("\x4c\x6b\x01\x01\x01\x01\x80\x0b\x06\x80\x00", 11));
  EXPECT_LT(Key("Apple"), Key("apples"));
  EXPECT_LT(Key("a b"), Key("ab"));
  EXPECT_LT(Key("9"), Key("A"));
  // Accents come after all primary weights, one byte per character, with
  // trailing defaults dropped.
  EXPECT_EQ(Key("café"), std::string("\x4d\x4a\x53\x51\x01\x02\x02\x02\x0e\x00", 10));
  EXPECT_LT(Key("resume"), Key("résumé"));
  EXPECT_LT(Key("résumé"), Key("resumes"));
  EXPECT_EQ(Key("ÉCOLE"), Key("école"));
  // Trailing blanks do not count, and only the first 255 units do.
  EXPECT_EQ(Key("abc   "), Key("abc"));
  EXPECT_NE(Key(" abc"), Key("abc"));
  EXPECT_EQ(Key(std::string(255, 'a') + "b"), Key(std::string(255, 'a') + "c"));
  EXPECT_NE(Key(std::string(254, 'a') + "b"), Key(std::string(254, 'a') + "c"));
  // Control characters are placed by position like the apostrophe.
  EXPECT_EQ(Key("a\x01"), std::string("\x4a\x01\x01\x01\x01\x80\x0b\x06\x03\x00", 10));
  EXPECT_THROW(Key("abc", 0, Version::kJet3), Error);
  EXPECT_THROW(Key("abc", 2), Error);
}

TEST(IndexKeys, ExpansionsCountAsElementsSinceAccess2007) {
  // "ß" sorts as "ss": Access 2007 and later give each element its own
  // accent byte and position, Jet 4 counts the character once. Both were
  // read from index entries Access wrote (the Northwind and Unicode fixtures
  // are checked entry by entry in MatchWhatAccessStored).
  EXPECT_EQ(Key("ßä", 0, Version::kAce12), std::string("\x6b\x6b\x4a\x01\x02\x02\x13\x00", 8));
  EXPECT_EQ(Key("ßä", 0, Version::kJet4), std::string("\x6b\x6b\x4a\x01\x02\x13\x00", 7));
  EXPECT_EQ(Key("ß-", 0, Version::kAce12),
            std::string("\x6b\x6b\x01\x01\x01\x01\x80\x0f\x06\x82\x00", 11));
  EXPECT_EQ(Key("ß-", 0, Version::kJet4),
            std::string("\x6b\x6b\x01\x01\x01\x01\x80\x0b\x06\x82\x00", 11));
  EXPECT_EQ(Key("Æ", 0, Version::kJet4), Key("ae", 0, Version::kJet4));
}

TEST(IndexKeys, DescendingTextAndYesNo) {
  TableDef t;
  Column text;
  text.name = "Word";
  text.type = ColumnType::kText;
  text.number = 0;
  text.lcid = 0x0409;
  Column flag;
  flag.name = "Done";
  flag.type = ColumnType::kBoolean;
  flag.number = 1;
  t.columns = {text, flag};
  auto key = [&](uint8_t text_order, uint8_t flag_order, Value word, bool done) {
    RealIndex r;
    r.columns = {{0, text_order}, {1, flag_order}};
    return IndexKey(t, r, {std::move(word), Value::Bool(done)}, Version::kJet4);
  };
  const uint8_t asc = 0x01, desc = 0x00;
  // Descending text: the inverted key and a 00, so that a prefix sorts after
  // the longer text and nulls last.
  EXPECT_EQ(key(desc, asc, Value::Text("a"), true), std::string("\x80\xb5\xfe\xff\x00\x7f\x00", 7));
  EXPECT_GT(key(desc, asc, Value::Text("a"), true), key(desc, asc, Value::Text("ab"), true));
  EXPECT_LT(key(desc, asc, Value::Text("b"), true), key(desc, asc, Value::Text("a"), true));
  EXPECT_LT(key(desc, asc, Value::Text("é"), true), key(desc, asc, Value::Text("e"), true));
  EXPECT_LT(key(desc, asc, Value::Text("zz"), true), key(desc, asc, Value(), true));
  // Yes sorts before No ascending, after it descending.
  EXPECT_LT(key(asc, asc, Value::Text("a"), true), key(asc, asc, Value::Text("a"), false));
  EXPECT_GT(key(asc, desc, Value::Text("a"), true), key(asc, desc, Value::Text("a"), false));
}

TEST(IndexKeys, GeneralText) {
  EXPECT_EQ(Key("Data", 1), std::string("\x0e\x1a\x0e\x02\x0e\x99\x0e\x02\x01\x00", 10));
  EXPECT_EQ(Key("KQZ", 1), Key("kqz", 1));
  EXPECT_LT(Key("kilo", 1), Key("quebec", 1));
  EXPECT_LT(Key("quebec", 1), Key("zulu", 1));
  EXPECT_LT(Key("zulu", 1), Key("zulú", 1));
  EXPECT_LT(Key("9", 1), Key("a", 1));
  // Every script has keys; ideographs and letters outside the first plane
  // (surrogate pairs) too, and different texts keep different keys.
  EXPECT_NE(Key("漢字", 1), Key("字漢", 1));
  EXPECT_NE(Key("Мир", 1), Key("мир!", 1));
  EXPECT_EQ(Key("Мир", 1), Key("МИР", 1));
  EXPECT_NE(Key("\xF0\x9F\x98\x80", 1), Key("\xF0\x9F\x98\x81", 1));
  EXPECT_NE(Key("\xF0\x9F\x98\x80", 0), Key("", 0));
}

// Thousands of rows in random order through several indexes, so that leaves
// and nodes split and the root gains levels; every index is then walked and
// compared, in order, with the rows.
class IndexGrowth : public ::testing::TestWithParam<FileFormat> {};

TEST_P(IndexGrowth, RandomInsertsKeepEveryIndexInOrder) {
  ScratchDir dir;
  const std::string path = (dir.path() / ("g" + Extension(GetParam()))).string();
  CreateDatabase(path, GetParam());
  auto db = Database::Open(path, OpenOptions{"", true});
  TableDesign design;
  auto col = [](const char* name, ColumnType type, uint16_t length, uint8_t flags) {
    ColumnDesign c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.flags = flags;
    return c;
  };
  const uint8_t fixed = kColUpdatable | kColFixed;
  design.columns = {
      col("Id", ColumnType::kLong, 4, fixed), col("Word", ColumnType::kText, 510, kColUpdatable),
      col("Score", ColumnType::kDouble, 8, fixed), col("When", ColumnType::kDateTime, 8, fixed),
      col("Group", ColumnType::kInteger, 2, fixed)};
  auto index = [](const char* name, std::vector<uint16_t> cols, uint8_t flags, uint32_t number) {
    IndexDesign x;
    x.name = name;
    x.columns = std::move(cols);
    x.flags = flags;
    x.number = number;
    return x;
  };
  design.indexes = {index("Id", {0}, kIndexBase | kIndexUnique | kIndexRequired, 0),
                    index("Word", {1}, kIndexBase, 1),
                    index("Score", {2}, kIndexBase | kIndexIgnoreNulls, 2),
                    index("GroupWhen", {4, 3}, kIndexBase, 3)};
  uint32_t tdef = db->WriteNewTable(design);
  CatalogRow row;
  row.id = static_cast<int32_t>(tdef);
  row.parent_id = kTablesContainer;
  row.name = "Growth";
  row.type = 1;
  db->AddCatalogRow(row);
  auto t = db->Table("Growth");
  std::mt19937 rng(20240611);
  std::vector<int32_t> ids(6000);
  for (size_t i = 0; i < ids.size(); ++i)
    ids[i] = static_cast<int32_t>(i * 7919 % 1000003) - 500000;
  std::shuffle(ids.begin(), ids.end(), rng);
  size_t n = 0;
  for (int32_t id : ids) {
    std::vector<std::pair<const Column*, Value>> v = {
        {t->FindColumn("Id"), Value::Int(id)},
        {t->FindColumn("Word"),
         rng() % 10 ? Value::Text(RandomWord(rng) + (rng() % 8 ? "" : "\xF0\x9F\x98\x80"))
                    : Value::Null()},
        {t->FindColumn("Score"), rng() % 5
                                     ? Value::Double(std::ldexp(static_cast<double>(rng()) - 2e9,
                                                                -static_cast<int>(rng() % 40)))
                                     : Value::Null()},
        {t->FindColumn("When"), Value::DateTime(static_cast<double>(rng() % 200000) / 7.0 - 10000)},
        {t->FindColumn("Group"), Value::Int(static_cast<int>(rng() % 7) - 3)}};
    db->InsertRow(*t, v);
    if (++n % 1500 == 0) db->Commit();
  }
  EXPECT_THROW(db->InsertRow(*t, {{t->FindColumn("Id"), Value::Int(ids[17])}}), Error);
  db->Commit();

  auto reopened = Database::Open(path, OpenOptions{});
  (void)reopened;  // the same object: opening again must not disturb it
  auto t2 = db->Table("Growth");
  EXPECT_EQ(t2->row_count, ids.size());
  PageAllocator alloc(db->pager(), db->layout());
  for (const RealIndex& r : t2->real_indexes) {
    IndexTree tree(db->pager(), alloc, db->layout(), t2->tdef_page, r.first_page, r.usage_map);
    std::vector<IndexEntry> entries = tree.Entries();
    std::vector<IndexEntry> expected;
    TableScan scan(*db, t2);
    std::vector<Value> values(t2->max_cols);
    while (scan.Next()) {
      for (const auto& c : t2->columns) values[c.number] = scan.Get(c);
      if ((r.flags & kIndexIgnoreNulls) && KeyAllNull(r, values)) continue;
      expected.push_back(
          IndexEntry{IndexKey(*t2, r, values, db->version()), scan.id().Packed(), 0});
    }
    std::sort(expected.begin(), expected.end(),
              [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      ASSERT_EQ(CompareEntries(entries[i], expected[i]), 0) << "entry " << i;
    }
    // The trees grew beyond one page: the root became a node.
    IndexNode root =
        ReadIndexNode(db->pager().Get(r.first_page)->bytes(), r.first_page, db->layout());
    EXPECT_FALSE(root.leaf);
  }
  // Index pages are owned by their index's map and used in the file-wide map.
  ExpectSound(*db);
}

INSTANTIATE_TEST_SUITE_P(Formats, IndexGrowth,
                         ::testing::Values(FileFormat::kMdb2003, FileFormat::kAccdb2016),
                         [](const auto& info) { return FileFormatName(info.param); });

TEST(IndexGrowth, SequentialAppendsFillLeavesAndDeepenTheTree) {
  ScratchDir dir;
  const std::string path = (dir.path() / "seq.mdb").string();
  CreateDatabase(path, FileFormat::kMdb2003);
  auto db = Database::Open(path, OpenOptions{"", true});
  db->CreateTable("Seq", {{"ID", ColumnType::kLong, 255, true}, {"Pad", ColumnType::kText, 200}},
                  {"Pad", "ID"});
  auto t = db->Table("Seq");
  const Column* pad = t->FindColumn("Pad");
  // Long keys in ascending order: each leaf takes about 16, each node about
  // 16 children, so 6000 rows need three levels.
  for (int i = 0; i < 6000; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%07d", i);
    db->InsertRow(*t, {{pad, Value::Text(std::string(buf) + std::string(190, 'x'))}});
  }
  db->Commit();
  const RealIndex& r = db->Table("Seq")->real_indexes[0];
  PageAllocator alloc(db->pager(), db->layout());
  IndexTree tree(db->pager(), alloc, db->layout(), t->tdef_page, r.first_page, r.usage_map);
  EXPECT_EQ(tree.Entries().size(), 6000u);
  IndexNode root =
      ReadIndexNode(db->pager().Get(r.first_page)->bytes(), r.first_page, db->layout());
  ASSERT_FALSE(root.leaf);
  IndexNode below = ReadIndexNode(db->pager().Get(root.entries[0].child)->bytes(),
                                  root.entries[0].child, db->layout());
  EXPECT_FALSE(below.leaf);
  // Appending fills leaves: all but the last are nearly full.
  std::vector<uint32_t> leaf_pages;
  uint32_t page = r.first_page;
  IndexNode n = root;
  while (!n.leaf) {
    page = n.entries.empty() ? n.tail : n.entries[0].child;
    n = ReadIndexNode(db->pager().Get(page)->bytes(), page, db->layout());
  }
  for (; page; page = n.next) {
    n = ReadIndexNode(db->pager().Get(page)->bytes(), page, db->layout());
    leaf_pages.push_back(U16(db->pager().Get(page)->bytes(), 2));
  }
  ASSERT_GT(leaf_pages.size(), 100u);
  for (size_t i = 0; i + 1 < leaf_pages.size(); ++i) EXPECT_LT(leaf_pages[i], 260u);
  ExpectSound(*db);
}

}  // namespace
}  // namespace jet
