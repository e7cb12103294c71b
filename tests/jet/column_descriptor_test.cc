#include "jet/record/column_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

struct DescriptorFile {
  const char* path;
  const char* password;
};

// Jet 3, Jet 4 and ACE files between them hold every type code.
const DescriptorFile kFiles[] = {
    {"jackcess/testV1997.mdb", ""},
    {"mdbtestdata/nwind.mdb", ""},
    {"jackcess/delColTestV2000.mdb", ""},
    {"jackcess/testUnicodeCompV2003.mdb", ""},
    {"mdb-reader/V2000_with-password.mdb", "password"},
    {"jackcess/complexDataTestV2007.accdb", ""},
    {"jackcess/calcFieldTestV2010.accdb", ""},
    {"mdb-reader/bigint.accdb", ""},
    {"jackcess/extDateTestV2019.accdb", ""},
    {"efcore-jet/Northwind.accdb", ""},
};

std::shared_ptr<Database> OpenFile(const DescriptorFile& f) {
  OpenOptions o;
  o.password = f.password;
  return Database::Open(testing_support::DataPath(f.path), o);
}

// Every local table of the file, system tables included.
std::vector<std::shared_ptr<const TableDef>> AllTables(Database& db) {
  std::vector<std::shared_ptr<const TableDef>> out;
  for (const auto& e : db.Catalog()) {
    if (e.type == 1) out.push_back(db.Table(e.name));
  }
  return out;
}

Bytes DescriptorBytes(const TableDef& t, size_t i, const Layout& L) {
  return Bytes(t.buffer).subspan(t.columns_offset + i * L.col_desc_size, L.col_desc_size);
}

std::string Hex(Bytes b) {
  std::string s;
  char buf[4];
  for (uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02x ", x);
    s += buf;
  }
  return s;
}

TEST(ColumnDescriptor, EveryStoredDescriptorIsWrittenBackAsRead) {
  std::set<uint8_t> jet3_types, jet4_types;
  size_t descriptors = 0;
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.path);
    auto db = OpenFile(f);
    const Layout& L = db->layout();
    for (const auto& t : AllTables(*db)) {
      for (size_t i = 0; i < t->columns.size(); ++i) {
        Bytes stored = DescriptorBytes(*t, i, L);
        ColumnDescriptor d =
            ColumnDescriptor::Read(t->buffer, t->columns_offset + i * L.col_desc_size, L);
        std::string written = d.Encode(L);
        ASSERT_EQ(Hex(Bytes(reinterpret_cast<const uint8_t*>(written.data()), written.size())),
                  Hex(stored))
            << t->columns[i].name;
        // What the definition reader made of the same bytes.
        const Column& c = t->columns[i];
        EXPECT_EQ(d.type_code, c.type_code);
        EXPECT_EQ(d.number, c.number);
        EXPECT_EQ(d.flags, c.flags);
        EXPECT_EQ(d.length, c.length);
        (L.jet3 ? jet3_types : jet4_types).insert(d.type_code);
        ++descriptors;
      }
    }
  }
  EXPECT_GT(descriptors, 500u);
  // The files must keep covering the types, or the round trip proves less.
  for (ColumnType t :
       {ColumnType::kBoolean, ColumnType::kByte, ColumnType::kInteger, ColumnType::kLong,
        ColumnType::kCurrency, ColumnType::kFloat, ColumnType::kDouble, ColumnType::kDateTime,
        ColumnType::kBinary, ColumnType::kText, ColumnType::kOle, ColumnType::kMemo}) {
    EXPECT_TRUE(jet3_types.count(static_cast<uint8_t>(t))) << "Jet 3 " << TypeName(t);
    EXPECT_TRUE(jet4_types.count(static_cast<uint8_t>(t))) << "Jet 4 " << TypeName(t);
  }
  for (ColumnType t : {ColumnType::kGuid, ColumnType::kNumeric, ColumnType::kComplex,
                       ColumnType::kBigInt, ColumnType::kDateTimeExt}) {
    EXPECT_TRUE(jet4_types.count(static_cast<uint8_t>(t))) << "Jet 4 " << TypeName(t);
  }
}

// The type table against what Access wrote: a fixed column of a type with a
// fixed size is that long, memo and OLE columns have no length.
TEST(ColumnDescriptor, TypeTableAgreesWithStoredColumns) {
  size_t checked = 0;
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.path);
    auto db = OpenFile(f);
    for (const auto& t : AllTables(*db)) {
      for (const Column& c : t->columns) {
        const ColumnTypeInfo* info = FindColumnType(c.type_code);
        ASSERT_NE(info, nullptr) << c.name;
        if (c.calculated()) continue;  // a calculated column stores its result wrapped
        switch (info->storage) {
          case TypeStorage::kNullMask:
          case TypeStorage::kFixed:
            if (!c.fixed()) break;
            EXPECT_EQ(c.length, info->size) << c.name << " " << TypeName(c.type);
            ++checked;
            break;
          case TypeStorage::kLongValue:
            EXPECT_FALSE(c.fixed()) << c.name;
            EXPECT_EQ(c.length, 0) << c.name;
            ++checked;
            break;
          case TypeStorage::kVariable:
            break;
        }
      }
    }
  }
  EXPECT_GT(checked, 300u);
}

TEST(ColumnDescriptor, KnownTypesAreTheTableRows) {
  for (int code = 0; code < 256; ++code) {
    const ColumnTypeInfo* info = FindColumnType(static_cast<uint8_t>(code));
    EXPECT_EQ(IsKnownType(static_cast<uint8_t>(code)), info != nullptr) << code;
    if (info) {
      EXPECT_EQ(static_cast<int>(info->type), code);
    }
  }
  // Codes outside the table read as binary, and so does their storage.
  EXPECT_EQ(TypeInfo(static_cast<ColumnType>(0x0E)).type, ColumnType::kBinary);
  EXPECT_FALSE(TypeInfo(static_cast<ColumnType>(0x0E)).addable);
}

// A descriptor with every field given a distinct value for its type.
ColumnDescriptor NewDescriptor(const ColumnTypeInfo& info, const Layout& L) {
  ColumnDescriptor d;
  d.type_code = static_cast<uint8_t>(info.type);
  d.number = 0x0107;
  d.var_index = 0x0003;
  d.second_number = 0x0105;
  d.flags = static_cast<uint8_t>(
      (info.storage == TypeStorage::kFixed || info.storage == TypeStorage::kNullMask ? kColFixed
                                                                                     : 0) |
      kColUpdatable);
  d.fixed_offset = info.storage == TypeStorage::kFixed ? 0x0123 : 0;
  d.length = info.size ? info.size : 0x01FE;
  if (info.type == ColumnType::kNumeric) {
    d.precision = 18;
    d.scale = 4;
  } else if (info.type == ColumnType::kComplex && !L.jet3) {
    d.complex_id = 0x00000A2B;
  } else {
    d.lcid = 0x0409;
    d.code_page = L.jet3 ? 1252 : 0;
    d.sort_version = L.jet3 ? 0 : 1;
  }
  if (!L.jet3) d.ext_flags = info.type == ColumnType::kText ? kColCompressible : 0;
  return d;
}

void ExpectSameFields(const ColumnDescriptor& got, const ColumnDescriptor& want) {
  EXPECT_EQ(got.type_code, want.type_code);
  EXPECT_EQ(got.number, want.number);
  EXPECT_EQ(got.var_index, want.var_index);
  EXPECT_EQ(got.second_number, want.second_number);
  EXPECT_EQ(got.flags, want.flags);
  EXPECT_EQ(got.ext_flags, want.ext_flags);
  EXPECT_EQ(got.fixed_offset, want.fixed_offset);
  EXPECT_EQ(got.length, want.length);
  EXPECT_EQ(got.marker, want.marker);
  EXPECT_EQ(got.jet3_marker, want.jet3_marker);
  // The fields that share bytes: only the ones the type uses.
  if (want.type_code == static_cast<uint8_t>(ColumnType::kNumeric)) {
    EXPECT_EQ(got.precision, want.precision);
    EXPECT_EQ(got.scale, want.scale);
  } else if (want.complex_id != 0) {
    EXPECT_EQ(got.complex_id, want.complex_id);
  } else {
    EXPECT_EQ(got.lcid, want.lcid);
    EXPECT_EQ(got.code_page, want.code_page);
    EXPECT_EQ(got.sort_version, want.sort_version);
  }
}

TEST(ColumnDescriptor, NewDescriptorOfEveryTypeReadsBack) {
  for (Version v : {Version::kJet3, Version::kJet4, Version::kAce16}) {
    const Layout L = Layout::For(v);
    for (const ColumnTypeInfo& info : kColumnTypes) {
      SCOPED_TRACE(VersionName(v) + " " + TypeName(info.type) + " " +
                   std::to_string(static_cast<int>(info.type)));
      const ColumnDescriptor want = NewDescriptor(info, L);
      const std::string bytes = want.Encode(L);
      ASSERT_EQ(bytes.size(), L.col_desc_size);
      // Placed after other bytes, as in a definition.
      std::string definition(7, '\x55');
      definition += bytes;
      Bytes b(reinterpret_cast<const uint8_t*>(definition.data()), definition.size());
      ExpectSameFields(ColumnDescriptor::Read(b, 7, L), want);
    }
  }
}

// The layout itself, for the text column ADD COLUMN writes: these bytes are
// what Access has in such descriptors.
TEST(ColumnDescriptor, TextColumnBytes) {
  ColumnDescriptor d;
  d.type_code = 0x0A;
  d.number = 2;
  d.var_index = 1;
  d.second_number = 2;
  d.lcid = 0x0409;
  d.code_page = 1252;
  d.sort_version = 1;
  d.flags = kColUpdatable;
  d.ext_flags = kColCompressible;
  d.length = 80;
  const std::string jet4 = d.Encode(Layout::For(Version::kJet4));
  EXPECT_EQ(Hex(Bytes(reinterpret_cast<const uint8_t*>(jet4.data()), jet4.size())),
            "0a 59 06 00 00 02 00 01 00 02 00 09 04 00 01 02 01 00 00 00 00 00 00 50 00 ");
  const std::string jet3 = d.Encode(Layout::For(Version::kJet3));
  EXPECT_EQ(Hex(Bytes(reinterpret_cast<const uint8_t*>(jet3.data()), jet3.size())),
            "0a 02 00 01 00 02 00 01 00 09 04 e4 04 02 00 00 50 00 ");
}

TEST(ColumnDescriptor, SharedBytesFollowTheType) {
  const Layout L = Layout::For(Version::kAce12);
  ColumnDescriptor d;
  d.lcid = 0x0409;
  d.precision = 18;
  d.scale = 2;
  d.complex_id = 0x01020304;
  d.sort_version = 1;
  d.type_code = static_cast<uint8_t>(ColumnType::kNumeric);
  const std::string decimal = d.Encode(L);
  ColumnDescriptor r = ColumnDescriptor::Read(
      Bytes(reinterpret_cast<const uint8_t*>(decimal.data()), decimal.size()), 0, L);
  EXPECT_EQ(r.lcid, 0x0212);  // precision and scale over the LCID
  EXPECT_EQ(r.sort_version, 1);
  d.type_code = static_cast<uint8_t>(ColumnType::kComplex);
  std::string complex = d.Encode(L);
  r = ColumnDescriptor::Read(
      Bytes(reinterpret_cast<const uint8_t*>(complex.data()), complex.size()), 0, L);
  EXPECT_EQ(r.complex_id, 0x01020304);
  EXPECT_EQ(r.sort_version, 0x01);  // the id's high byte
  EXPECT_EQ(r.lcid, 0x0304);
}

TEST(ColumnDescriptor, ReadRefusesADescriptorCutShort) {
  for (Version v : {Version::kJet3, Version::kJet4}) {
    const Layout L = Layout::For(v);
    std::vector<uint8_t> bytes(L.col_desc_size + 4, 0);
    EXPECT_NO_THROW(ColumnDescriptor::Read(bytes, 4, L));
    try {
      ColumnDescriptor::Read(bytes, 5, L);
      ADD_FAILURE() << "a descriptor past the end was read";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
    }
    EXPECT_THROW(ColumnDescriptor::Read(bytes, SIZE_MAX - 2, L), Error);
    std::vector<uint8_t> out(L.col_desc_size - 1);
    EXPECT_THROW(ColumnDescriptor().Write(out, L), Error);
  }
}

struct AddCase {
  const char* file;
  const char* table;
};

struct Added {
  ColumnType type;
  Value value;
};

std::vector<Added> ValuesOfEveryAddableType() {
  return {
      {ColumnType::kBoolean, Value::Bool(true)},
      {ColumnType::kByte, Value::Int(200)},
      {ColumnType::kInteger, Value::Int(-12345)},
      {ColumnType::kLong, Value::Int(-123456789)},
      {ColumnType::kCurrency, Value::Currency(-98765432100)},
      {ColumnType::kFloat, Value::Float(1.5f)},
      {ColumnType::kDouble, Value::Double(-2.125e100)},
      {ColumnType::kDateTime, Value::DateTime(45000.75)},
      {ColumnType::kText, Value::Text("Zoë O'Hara")},
      {ColumnType::kMemo, Value::Text(std::string(5000, 'm'))},
      {ColumnType::kOle, Value::Binary(std::string(3000, '\x7f'))},
  };
}

std::string AddedName(ColumnType t) { return "Added " + TypeName(t); }

// ADD COLUMN of every type it can add: each descriptor says what the type
// table says, the row layout stays sound, and the values come back, for our
// reader and for mdbtools.
TEST(AddColumnDescriptor, EveryAddableTypeIsLaidOutAndReadBack) {
  for (const AddCase& c : {AddCase{"jackcess/testV1997.mdb", "Table1"},
                           AddCase{"jackcess/delColTestV2000.mdb", "Table1"},
                           AddCase{"generated/people_V2007_300.accdb", "Empty"}}) {
    SCOPED_TRACE(c.file);
    testing_support::ScratchDir dir;
    const std::string path = dir.Copy(c.file);
    const std::vector<Added> added = ValuesOfEveryAddableType();
    TableDef before;
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      before = *db->Table(c.table);
      for (const Added& a : added) db->AddColumn(c.table, AddedName(a.type), a.type, 40);
      for (ColumnType refused : {ColumnType::kBinary, ColumnType::kGuid, ColumnType::kNumeric,
                                 ColumnType::kBigInt, ColumnType::kComplex}) {
        EXPECT_THROW(db->AddColumn(c.table, "Refused", refused), Error) << TypeName(refused);
      }
      // Access 97 tables with indexes take no new rows here: their old rows
      // show the new columns empty instead.
      if (!db->layout().jet3) {
        auto t = db->Table(c.table);
        std::vector<std::pair<const Column*, Value>> row;
        for (const Added& a : added) row.emplace_back(t->FindColumn(AddedName(a.type)), a.value);
        for (const Column& col : before.columns) {
          if (col.type == ColumnType::kLong)
            row.emplace_back(t->FindColumn(col.name), Value::Int(987654));
        }
        db->InsertRow(*t, row);
      }
      db->Commit();
    }
    auto db = Database::Open(path, OpenOptions{"", false});
    const Layout& L = db->layout();
    auto t = db->Table(c.table);
    ASSERT_EQ(t->columns.size(), before.columns.size() + added.size());
    EXPECT_EQ(t->FindColumn("Refused"), nullptr);
    uint16_t fixed_end = before.fixed_area;
    uint16_t var_slots = before.var_cols;
    uint16_t next_number = before.max_cols;
    for (const Added& a : added) {
      SCOPED_TRACE(TypeName(a.type));
      const Column* col = t->FindColumn(AddedName(a.type));
      ASSERT_NE(col, nullptr);
      const ColumnTypeInfo& info = TypeInfo(a.type);
      EXPECT_EQ(col->type, a.type);
      EXPECT_EQ(col->fixed(), !IsVariableType(a.type));
      EXPECT_EQ(col->length, a.type == ColumnType::kText ? (L.jet3 ? 40 : 80) : info.size);
      if (col->fixed() && a.type != ColumnType::kBoolean) {
        EXPECT_EQ(col->fixed_offset, fixed_end);  // each new fixed column after the last
        fixed_end = static_cast<uint16_t>(fixed_end + col->length);
      }
      if (!col->fixed()) {
        EXPECT_EQ(col->var_index, var_slots++);
      }
      EXPECT_EQ(col->compressible(), !L.jet3 && a.type == ColumnType::kText);
      EXPECT_EQ(col->number, next_number++);  // numbers of dropped columns stay unused
    }
    EXPECT_EQ(t->fixed_area, fixed_end);
    EXPECT_EQ(t->var_cols, var_slots);
    // The new row, found by its values; the old rows have the new columns empty.
    size_t found = 0, old_rows = 0;
    TableScan scan(*db, t);
    while (scan.Next()) {
      if (!scan.Get(*t->FindColumn(AddedName(ColumnType::kBoolean))).as_bool()) {
        ++old_rows;
        for (const Added& a : added) {
          if (a.type == ColumnType::kBoolean) continue;
          EXPECT_TRUE(scan.Get(*t->FindColumn(AddedName(a.type))).is_null()) << TypeName(a.type);
        }
        continue;
      }
      ++found;
      for (const Added& a : added) {
        Value v = scan.Get(*t->FindColumn(AddedName(a.type)));
        EXPECT_EQ(v.kind(), a.value.kind()) << TypeName(a.type);
        EXPECT_EQ(TextForm(v), TextForm(a.value)) << TypeName(a.type);
        if (v.kind() == Value::Kind::kBinary) {
          EXPECT_EQ(v.bytes(), a.value.bytes());
        }
      }
    }
    EXPECT_EQ(found, L.jet3 ? 0u : 1u);
    EXPECT_EQ(old_rows, before.row_count);
    CheckReport report = CheckDatabase(*db);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems.front());
    if (testing_support::Capture("command -v mdb-export 2>/dev/null").empty()) continue;
    std::string csv =
        testing_support::Capture("mdb-export -D '%F %T' " + testing_support::ShellQuote(path) +
                                 " " + testing_support::ShellQuote(c.table));
    const std::string header = csv.substr(0, csv.find('\n'));
    for (const Added& a : added) {
      EXPECT_NE(header.find(AddedName(a.type)), std::string::npos) << header;
    }
    if (L.jet3) continue;
    EXPECT_NE(csv.find("\"Zoë O'Hara\""), std::string::npos) << "mdb-export";
    EXPECT_NE(csv.find(std::string(5000, 'm')), std::string::npos) << "mdb-export";
  }
}

}  // namespace
}  // namespace jet
