#include "jet/table/complex.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <string>
#include <vector>

#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

std::shared_ptr<Database> OpenFixture(const std::string& rel) {
  return Database::Open(testing_support::DataPath(rel), {});
}

Bytes AsBytes(const std::string& s) {
  return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Values of one column keyed by the text of another, read through TableScan.
std::map<std::string, Value> ColumnByRow(Database& db, const std::string& table,
                                         const std::string& id_column, const std::string& column) {
  auto t = db.Table(table);
  const Column* id = t->FindColumn(id_column);
  const Column* c = t->FindColumn(column);
  EXPECT_TRUE(id && c);
  std::map<std::string, Value> out;
  TableScan scan(db, t);
  while (scan.Next()) out[TextForm(scan.Get(*id))] = scan.Get(*c);
  return out;
}

std::vector<std::string> Names(const Value& v) {
  std::vector<std::string> out;
  for (const auto& item : v.complex()->items) out.push_back(item.file_name);
  return out;
}

TEST(ComplexColumns, KindsFollowTheTemplateTables) {
  auto db = OpenFixture("jackcess/complexDataTestV2007.accdb");
  auto t = db->Table("Table1");
  ComplexColumnInfo attach = DescribeComplexColumn(*db, *t, *t->FindColumn("attach-data"));
  EXPECT_EQ(attach.kind, ComplexKind::kAttachment);
  EXPECT_EQ(attach.type_table, "MSysComplexType_Attachment");
  EXPECT_EQ(attach.flat->columns[attach.key].name, "_attach-data");
  ComplexColumnInfo multi = DescribeComplexColumn(*db, *t, *t->FindColumn("multi-value-data"));
  EXPECT_EQ(multi.kind, ComplexKind::kMultiValue);
  EXPECT_EQ(multi.type_table, "MSysComplexType_Text");
  EXPECT_EQ(multi.flat->columns[multi.value].name, "Value");
  const Column* vh_column = nullptr;
  for (const auto& c : t->columns) {
    if (c.name.rfind("VersionHistory_", 0) == 0) vh_column = &c;
  }
  ASSERT_NE(vh_column, nullptr);
  ComplexColumnInfo vh = DescribeComplexColumn(*db, *t, *vh_column);
  EXPECT_EQ(vh.kind, ComplexKind::kVersionHistory);
  EXPECT_EQ(vh.flat->columns[vh.value].name, "append-memo-data");
  EXPECT_EQ(vh.flat->columns[vh.modified].type, ColumnType::kDateTime);
}

// The values Jackcess's tests expect for this file.
TEST(ComplexColumns, MultiValueAndVersionHistory) {
  auto db = OpenFixture("jackcess/complexDataTestV2007.accdb");
  auto multi = ColumnByRow(*db, "Table1", "id", "multi-value-data");
  ASSERT_EQ(multi.size(), 4u);
  ASSERT_EQ(multi["row2"].kind(), Value::Kind::kComplex);
  ASSERT_NE(multi["row2"].complex(), nullptr);
  EXPECT_EQ(multi["row2"].complex()->kind, ComplexKind::kMultiValue);
  EXPECT_EQ(multi["row2"].complex()->value_type, ColumnType::kText);
  EXPECT_EQ(TextForm(multi["row2"]), "value1; value4");
  EXPECT_EQ(TextForm(multi["row3"]), "value1; value2; value3; value4");
  EXPECT_TRUE(multi["row1"].complex()->items.empty());
  EXPECT_EQ(multi["row1"].complex_key(), 1);

  std::string vh_name;
  for (const auto& c : db->Table("Table1")->columns) {
    if (c.name.rfind("VersionHistory_", 0) == 0) vh_name = c.name;
  }
  auto vh = ColumnByRow(*db, "Table1", "id", vh_name);
  const auto& row3 = vh["row3"].complex()->items;
  ASSERT_EQ(row3.size(), 3u);
  EXPECT_EQ(row3[0].value, Value::Text("row3-memo"));
  EXPECT_EQ(row3[2].value, Value::Text("row3-memo-again"));
  DateParts when = SplitAccessDate(row3[1].modified.as_double());
  EXPECT_EQ(std::tie(when.year, when.month, when.day, when.hour, when.minute, when.second),
            std::make_tuple(2011, 9, 12, 21, 22, 33));
  EXPECT_EQ(TextForm(vh["row4"]), "row4-memo");
}

TEST(ComplexColumns, AttachmentsAreInflated) {
  auto db = OpenFixture("jackcess/complexDataTestV2007.accdb");
  auto attach = ColumnByRow(*db, "Table1", "id", "attach-data");
  EXPECT_EQ(Names(attach["row2"]), (std::vector<std::string>{"test_data.txt", "test_data2.txt"}));
  EXPECT_EQ(Names(attach["row4"]), (std::vector<std::string>{"test_data2.txt"}));
  EXPECT_TRUE(attach["row3"].complex()->items.empty());
  const ComplexItem& first = attach["row2"].complex()->items[0];
  EXPECT_EQ(first.file_type, "txt");
  EXPECT_EQ(first.file_data, "this is some test data for attachment.");
  EXPECT_EQ(TextForm(attach["row2"]), "test_data.txt; test_data2.txt");
}

// The column was renamed after it was made: its flat table's key column still
// has the old name, so only the complex id finds it.
TEST(ComplexColumns, RenamedColumnIsFoundByItsId) {
  auto db = OpenFixture("mdb-reader/attachments.accdb");
  auto attach = ColumnByRow(*db, "Table1", "ID", "Attachments");
  ASSERT_EQ(attach.size(), 3u);
  EXPECT_TRUE(attach["1"].complex()->items.empty());
  EXPECT_EQ(Names(attach["3"]),
            (std::vector<std::string>{"attachment1.txt", "attachment2.txt", "attachment3.txt"}));
  for (const auto& item : attach["3"].complex()->items) EXPECT_EQ(item.file_data.size(), 12u);
}

TEST(ComplexColumns, ReadComplexMatchesTheScan) {
  auto db = OpenFixture("jackcess/complexDataTestV2007.accdb");
  auto t = db->Table("Table1");
  const Column& c = *t->FindColumn("multi-value-data");
  std::vector<ComplexItem> items = ReadComplex(*db, *t, c, 3);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[1].value, Value::Text("value2"));
  EXPECT_TRUE(ReadComplex(*db, *t, c, 12345).empty());
  // Without a scan, the row value is only the key.
  TableScan scan(*db, t);
  ASSERT_TRUE(scan.Next());
  Value raw = db->Read(scan.row(), c);
  EXPECT_EQ(raw.kind(), Value::Kind::kComplex);
  EXPECT_EQ(raw.complex(), nullptr);
  EXPECT_EQ(TextForm(raw), std::to_string(raw.complex_key()));
}

std::string Le32(uint32_t v) {
  std::string s;
  Append32(s, v);
  return s;
}

// Content as Access stores it: a header (its length, then details such as
// the extension) followed by the file.
std::string WithHeader(const std::string& file) { return Le32(8) + Le32(1) + file; }

std::string Deflate(const std::string& in) {
  uLongf size = compressBound(in.size());
  std::string out(size, '\0');
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size,
                     reinterpret_cast<const Bytef*>(in.data()), in.size()),
            Z_OK);
  out.resize(size);
  return out;
}

TEST(AttachmentData, RawAndDeflated) {
  std::string content = WithHeader("hello, world");
  EXPECT_EQ(DecodeAttachmentData(AsBytes(Le32(0) + Le32(content.size()) + content)),
            "hello, world");
  EXPECT_EQ(DecodeAttachmentData(AsBytes(Le32(1) + Le32(content.size()) + Deflate(content))),
            "hello, world");
  // The stored length bounds the content.
  EXPECT_EQ(DecodeAttachmentData(AsBytes(Le32(0) + Le32(content.size() - 2) + content)),
            "hello, wor");
  EXPECT_EQ(DecodeAttachmentData(AsBytes(Le32(0) + Le32(8) + WithHeader(""))), "");
  EXPECT_EQ(DecodeAttachmentData(Bytes()), "");
}

TEST(AttachmentData, DamageIsReportedAsAnError) {
  std::string content = WithHeader("hello, world");
  std::string deflated = Deflate(content);
  auto decode = [](const std::string& s) { return DecodeAttachmentData(AsBytes(s)); };
  EXPECT_THROW(decode(Le32(0)), Error);
  EXPECT_THROW(decode(Le32(2) + Le32(content.size()) + content), Error);
  EXPECT_THROW(decode(Le32(0) + Le32(3) + content), Error);  // no header
  EXPECT_THROW(decode(Le32(0) + Le32(20) + Le32(64) + "abcdefghijklmnop"),
               Error);  // header overruns
  EXPECT_THROW(decode(Le32(1) + Le32(content.size()) + "not zlib at all"), Error);
  EXPECT_THROW(decode(Le32(1) + Le32(content.size()) + deflated.substr(0, deflated.size() / 2)),
               Error);
}

}  // namespace
}  // namespace jet
