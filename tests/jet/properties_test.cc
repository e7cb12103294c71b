#include "jet/record/properties.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jet/table/database.h"
#include "jet/record/text.h"
#include "support/test_support.h"

namespace jet {
namespace {

std::shared_ptr<Database> OpenFixture(const std::string& rel, const std::string& password = "") {
  OpenOptions o;
  o.password = password;
  return Database::Open(testing_support::DataPath(rel), o);
}

Bytes AsBytes(const std::string& s) {
  return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// The raw LvProp blob of a catalogue object, as stored.
std::string RawLvProp(Database& db, const std::string& object) {
  auto catalog = db.Table("MSysObjects");
  const Column* name = catalog->FindColumn("Name");
  const Column* lv = catalog->FindColumn("LvProp");
  TableScan scan(db, catalog);
  while (scan.Next()) {
    Value n = scan.Get(*name);
    if (n.kind() == Value::Kind::kText && n.bytes() == object) return scan.Get(*lv).bytes();
  }
  return {};
}

TEST(Properties, CalculatedColumnsOfAnAce14Table) {
  auto db = OpenFixture("jackcess/calcFieldTestV2010.accdb");
  ObjectProperties p = db->TableProperties("Table1");

  // mdb-prop reports these result types for the calculated columns.
  const std::vector<std::pair<std::string, int>> result_types = {
      {"LastFirst", 10},   {"LastFirstLen", 4},  {"MonthlySalary", 5}, {"IsRich", 1},
      {"AllNames", 12},    {"WeeklySalary", 16}, {"SalaryTest", 5},    {"BoolTest", 1},
      {"DecimalTest", 16}, {"FloatTest", 6},     {"BigNumTest", 16}};
  for (const auto& [column, type] : result_types) {
    const PropertyMap* m = p.Column(column);
    ASSERT_NE(m, nullptr) << column;
    Value v = m->Get("ResultType");
    ASSERT_EQ(v.kind(), Value::Kind::kInt) << column;
    EXPECT_EQ(v.as_int(), type) << column;
  }
  EXPECT_EQ(p.Column("LastFirst")->Get("Expression"),
            Value::Text("[LastName] & \", \" & [FirstName]"));
  EXPECT_EQ(p.Column("Salary")->Get("Format"), Value::Text("$#,##0.00;($#,##0.00)"));
  EXPECT_EQ(p.Column("Salary")->Get("CurrencyLCID"), Value::Int(1033));
  EXPECT_EQ(p.Column("FirstName")->Get("AllowZeroLength"), Value::Bool(true));
  EXPECT_EQ(p.Column("FirstName")->Get("Required"), Value::Bool(false));
  // Object GUIDs are stored as binary; they come back as GUIDs.
  Value guid = p.Column("ID")->Get("GUID");
  ASSERT_EQ(guid.kind(), Value::Kind::kGuid);
  EXPECT_EQ(FormatGuid(guid.bytes()), "{7B4C91E0-774D-4889-B11A-0B9D2CF3D167}");
  EXPECT_EQ(p.object.Get("FCMinReadVer"), Value::Text("14.0.0000.0000"));
  EXPECT_EQ(p.object.Get("DefaultView"), Value::Int(2));
  EXPECT_TRUE(p.object.Get("NoSuchProperty").is_null());
  EXPECT_EQ(p.Column("NoSuchColumn"), nullptr);
}

TEST(Properties, NamesMatchWithoutRegardToCase) {
  auto db = OpenFixture("jackcess/calcFieldTestV2010.accdb");
  ObjectProperties p = db->TableProperties("table1");
  const PropertyMap* m = p.Column("lastfirst");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Get("resulttype"), Value::Int(10));
  EXPECT_EQ(m->Find("EXPRESSION")->type_code, static_cast<uint8_t>(ColumnType::kMemo));
}

TEST(Properties, Jet3BlobsUseTheCodePage) {
  auto db = OpenFixture("jackcess/testV1997.mdb");
  ASSERT_EQ(db->version(), Version::kJet3);
  ObjectProperties p = db->TableProperties("Table1");
  ASSERT_NE(p.Column("A"), nullptr);
  EXPECT_EQ(p.Column("A")->Get("ColumnWidth"), Value::Int(-1));
  EXPECT_EQ(p.Column("A")->Get("UnicodeCompression"), Value::Bool(true));
  EXPECT_EQ(p.Column("B")->Get("UnicodeCompression"), Value::Bool(false));
  EXPECT_EQ(p.object.Get("DefaultView"), Value::Int(2));
  EXPECT_EQ(p.object.Get("OrderByOn"), Value::Bool(false));
}

TEST(Properties, ResultTypesReachTheTableDefinition) {
  auto db = OpenFixture("jackcess/calcFieldTestV2010.accdb");
  auto t = db->Table("Table1");
  const Column* monthly = t->FindColumn("MonthlySalary");
  ASSERT_NE(monthly, nullptr);
  EXPECT_EQ(monthly->type, ColumnType::kDouble);
  EXPECT_EQ(monthly->value_type(), ColumnType::kCurrency);
  EXPECT_EQ(t->FindColumn("IsRich")->value_type(), ColumnType::kBoolean);
  EXPECT_EQ(t->FindColumn("FloatTest")->value_type(), ColumnType::kFloat);
  // Ordinary columns keep their own type and get no result type.
  EXPECT_EQ(t->FindColumn("Salary")->result_type, 0);
  EXPECT_EQ(t->FindColumn("Salary")->value_type(), ColumnType::kCurrency);
}

// Every object of every fixture has a blob that parses (or none).
TEST(Properties, EveryFixtureObjectParses) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"generated/people_V2000_200.mdb", ""},
      {"generated/people_V2007_300.accdb", ""},
      {"access_parser/test.mdb", ""},
      {"efcore-jet/Northwind.accdb", ""},
      {"mdbtestdata/nwind.mdb", ""},
      {"jackcess-encrypt/db-enc.mdb", ""},
      {"mdb-reader/V2000_with-password.mdb", "password"},
      {"mdb-reader/bigint.accdb", ""},
      {"mdb-reader/withdeletedcol.accdb", ""},
      {"mdb-reader/ASampleDatabase.accdb", ""},
      {"mdb-reader/attachments.accdb", ""},
      {"mdb-reader/longtext.accdb", ""},
      {"mdb-reader/office-agile-4.4.accdb", "password"},
      {"jackcess/testEmoticonsV2010.accdb", ""},
      {"jackcess/testUnicodeCompV2003.mdb", ""},
      {"jackcess/oldDatesV2007.accdb", ""},
      {"jackcess/testV1997.mdb", ""},
      {"jackcess/calcFieldTestV2010.accdb", ""},
      {"jackcess/extDateTestV2019.accdb", ""},
      {"jackcess/delColTestV2000.mdb", ""},
      {"jackcess/overflowTestV2003.mdb", ""},
      {"jackcess/complexDataTestV2007.accdb", ""},
      {"ucanaccess/linked.mdb", ""},
      {"ucanaccess/parameters.accdb", ""},
      {"ucanaccess/weirdObjectNames.mdb", ""}};
  for (const auto& [file, password] : files) {
    auto db = OpenFixture(file, password);
    size_t with_properties = 0;
    for (const auto& e : db->Catalog()) {
      try {
        ObjectProperties p = db->Properties(e.id);
        with_properties += !p.object.empty() || !p.columns.empty();
      } catch (const Error& err) {
        ADD_FAILURE() << file << " " << e.name << ": " << err.what();
      }
    }
    EXPECT_GT(with_properties, 0u) << file;
  }
}

// Builds Jet 4 blobs chunk by chunk.
class BlobBuilder {
 public:
  BlobBuilder() : blob_("MR2", 4) {}
  BlobBuilder& Names(const std::vector<std::string>& names) {
    std::string body;
    for (const auto& n : names) {
      std::string u = Utf16Le(n);
      Append16(body, static_cast<uint16_t>(u.size()));
      body += u;
    }
    return Chunk(0x80, body);
  }
  // `entries` are already encoded (see Entry).
  BlobBuilder& Values(uint16_t type, const std::string& block_name, const std::string& entries) {
    std::string body;
    std::string u = Utf16Le(block_name);
    Append32(body, static_cast<uint32_t>(6 + u.size()));
    Append16(body, static_cast<uint16_t>(u.size()));
    body += u;
    return Chunk(type, body + entries);
  }
  BlobBuilder& Chunk(uint16_t type, const std::string& body) {
    Append32(blob_, static_cast<uint32_t>(6 + body.size()));
    Append16(blob_, type);
    blob_ += body;
    return *this;
  }
  static std::string Entry(uint8_t ddl, ColumnType type, uint16_t name_index,
                           const std::string& data) {
    std::string e;
    Append16(e, static_cast<uint16_t>(8 + data.size()));
    e.push_back(static_cast<char>(ddl));
    e.push_back(static_cast<char>(type));
    Append16(e, name_index);
    Append16(e, static_cast<uint16_t>(data.size()));
    return e + data;
  }
  static std::string Utf16Le(const std::string& utf8) {
    std::string out;
    for (char16_t c : Utf8ToUtf16(utf8)) Append16(out, c);
    return out;
  }
  const std::string& blob() const { return blob_; }

 private:
  std::string blob_;
};

std::string Le32(uint32_t v) {
  std::string s;
  Append32(s, v);
  return s;
}

TEST(PropertyBlob, ParsesObjectAndColumnBlocks) {
  std::string entries_object =
      BlobBuilder::Entry(0, ColumnType::kText, 0, BlobBuilder::Utf16Le("Kunden"));
  std::string entries_column =
      BlobBuilder::Entry(1, ColumnType::kBoolean, 1, std::string(1, '\xFF')) +
      BlobBuilder::Entry(0, ColumnType::kLong, 2, Le32(0xFFFFFFFE));
  BlobBuilder b;
  b.Names({"Description", "Required", "ColumnWidth"})
      .Values(0x00, "", entries_object)
      .Chunk(0x42, "unknown chunk kinds are skipped")
      .Values(0x01, "Straße", entries_column);
  ObjectProperties p = ParseProperties(AsBytes(b.blob()), Layout::For(Version::kAce12), 1252);
  EXPECT_EQ(p.object.Get("Description"), Value::Text("Kunden"));
  ASSERT_EQ(p.columns.size(), 1u);
  EXPECT_EQ(p.columns[0].first, "Straße");
  const PropertyMap* m = p.Column("STRAßE");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->items().size(), 2u);
  EXPECT_EQ(m->items()[0].name, "Required");
  EXPECT_EQ(m->items()[0].ddl, 1);
  EXPECT_EQ(m->items()[0].value, Value::Bool(true));
  EXPECT_EQ(m->Get("ColumnWidth"), Value::Int(-2));
}

TEST(PropertyBlob, EmptyBlobHasNoProperties) {
  ObjectProperties p = ParseProperties(Bytes(), Layout::For(Version::kAce12), 1252);
  EXPECT_TRUE(p.object.empty());
  EXPECT_TRUE(p.columns.empty());
}

TEST(PropertyBlob, DamageIsReportedAsAnError) {
  const Layout L = Layout::For(Version::kJet4);
  auto parse = [&](const std::string& blob) { ParseProperties(AsBytes(blob), L, 1252); };
  std::string entry = BlobBuilder::Entry(0, ColumnType::kLong, 0, Le32(7));
  std::string good = BlobBuilder().Names({"A"}).Values(0x00, "", entry).blob();
  ASSERT_NO_THROW(parse(good));

  EXPECT_THROW(parse("KKD" + std::string(1, '\0') + good.substr(4)), Error);  // Jet 3 signature
  EXPECT_THROW(parse(good.substr(0, 3)), Error);
  // A chunk running past the end, one too short to hold its own header, and
  // stray bytes after the last chunk.
  EXPECT_THROW(parse(good.substr(0, good.size() - 1)), Error);
  std::string short_chunk = good;
  short_chunk[4] = 5;
  EXPECT_THROW(parse(short_chunk), Error);
  EXPECT_THROW(parse(good + "xyz"), Error);
  // An entry naming a property that is not in the names chunk.
  EXPECT_THROW(parse(BlobBuilder()
                         .Names({"A"})
                         .Values(0x00, "", BlobBuilder::Entry(0, ColumnType::kLong, 1, Le32(7)))
                         .blob()),
               Error);
  // Values before any names chunk.
  EXPECT_THROW(parse(BlobBuilder().Values(0x00, "", entry).blob()), Error);
  // A value longer than its entry, and an entry longer than its chunk.
  std::string long_value = entry;
  long_value[6] = 9;
  EXPECT_THROW(parse(BlobBuilder().Names({"A"}).Values(0x00, "", long_value).blob()), Error);
  std::string long_entry = entry;
  long_entry[0] = 40;
  EXPECT_THROW(parse(BlobBuilder().Names({"A"}).Values(0x00, "", long_entry).blob()), Error);
  // A fixed-size type whose value is too short.
  EXPECT_THROW(parse(BlobBuilder()
                         .Names({"A"})
                         .Values(0x00, "", BlobBuilder::Entry(0, ColumnType::kDouble, 0, Le32(7)))
                         .blob()),
               Error);
  // A names chunk whose last name runs past the chunk.
  std::string names;
  Append16(names, 10);
  names += "AB";
  EXPECT_THROW(parse(BlobBuilder().Chunk(0x80, names).blob()), Error);
}

// Cutting a real blob short anywhere, or overwriting any byte, gives either
// properties or a jet::Error, never anything worse.
TEST(PropertyBlob, TruncatedAndCorruptedRealBlobsFailCleanly) {
  auto db = OpenFixture("jackcess/extDateTestV2019.accdb");
  const std::string blob = RawLvProp(*db, "Table1");
  ASSERT_GT(blob.size(), 1000u);
  const Layout& L = db->layout();
  size_t errors = 0;
  auto attempt = [&](const std::string& b) {
    try {
      ParseProperties(AsBytes(b), L, db->code_page());
    } catch (const Error&) {
      ++errors;
    }
  };
  for (size_t n = 0; n < blob.size(); ++n) attempt(blob.substr(0, n));
  EXPECT_GT(errors, blob.size() / 2);
  for (size_t i = 0; i < blob.size(); ++i) {
    for (char c : {'\x00', '\xFF'}) {
      std::string b = blob;
      b[i] = c;
      attempt(b);
    }
  }
}

}  // namespace
}  // namespace jet
