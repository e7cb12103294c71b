#include <gtest/gtest.h>

#include <string>

#include "jet/table/database.h"
#include "jet/record/value.h"
#include "support/test_support.h"

namespace jet {
namespace {

std::optional<int64_t> Parse(const std::string& s) {
  return ParseDateTimeExt(std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

std::string Stored(const char* text) { return std::string(text) + std::string(1, '\0'); }

TEST(DateTimeExt, ParsesTheStoredForm) {
  // Stored in extDateTestV2019.accdb for 2021-06-14 22:45:12.3456789.
  auto ticks = Parse(Stored("0000000000000737954:0000000819123456789:7"));
  ASSERT_TRUE(ticks);
  DateTimeExtParts p = SplitDateTimeExt(*ticks);
  EXPECT_EQ(p.year, 2021);
  EXPECT_EQ(p.month, 6);
  EXPECT_EQ(p.day, 14);
  EXPECT_EQ(p.hour, 22);
  EXPECT_EQ(p.minute, 45);
  EXPECT_EQ(p.second, 12);
  EXPECT_EQ(p.fraction, 3456789);
  EXPECT_EQ(JoinDateTimeExt(p), *ticks);
}

TEST(DateTimeExt, EncodesTheFullRangeAndBack) {
  const int64_t last = kMaxDateTimeExtDays * kTicksPerDay - 1;
  for (int64_t t :
       {int64_t{0}, int64_t{1}, kTicksPerDay - 1, int64_t{637'594'239'123'456'789}, last}) {
    std::string s = EncodeDateTimeExt(t);
    ASSERT_EQ(s.size(), 42u);
    EXPECT_EQ(Parse(s), t);
  }
  EXPECT_EQ(EncodeDateTimeExt(0), Stored("0000000000000000000:0000000000000000000:7"));
  DateTimeExtParts first = SplitDateTimeExt(0);
  EXPECT_EQ(first.year, 1);
  EXPECT_EQ(first.month, 1);
  EXPECT_EQ(first.day, 1);
  DateTimeExtParts end = SplitDateTimeExt(last);
  EXPECT_EQ(end.year, 9999);
  EXPECT_EQ(end.month, 12);
  EXPECT_EQ(end.day, 31);
  EXPECT_EQ(end.hour, 23);
  EXPECT_EQ(end.second, 59);
  EXPECT_EQ(end.fraction, 9999999);
}

TEST(DateTimeExt, RejectsOtherText) {
  EXPECT_TRUE(Parse("0000000000000737954:0000000819123456789:7"));  // without the NUL
  EXPECT_FALSE(Parse("0000000000000737954:0000000819123456789:"));
  EXPECT_FALSE(Parse(Stored("0000000000000737954:0000000819123456789:6")));
  EXPECT_FALSE(Parse(Stored("0000000000000737954-0000000819123456789:7")));
  EXPECT_FALSE(Parse(Stored("00000000000007379x4:0000000819123456789:7")));
  EXPECT_FALSE(Parse("0000000000000737954:0000000819123456789:7X"));
  // Seconds past the end of the day, days past 9999-12-31, and a day count
  // too large for any calendar.
  EXPECT_FALSE(Parse(Stored("0000000000000737954:0000000864000000000:7")));
  EXPECT_FALSE(Parse(Stored("0000000000003652059:0000000000000000000:7")));
  EXPECT_FALSE(Parse(Stored("9999999999999999999:0000000000000000000:7")));
}

TEST(DateTimeExt, GeneralDateText) {
  auto at = [](int y, int mo, int d, int h, int mi, int s, int f) {
    return FormatGeneralDateExt(JoinDateTimeExt({y, mo, d, h, mi, s, f}));
  };
  EXPECT_EQ(at(2020, 6, 17, 0, 0, 0, 0), "6/17/2020");
  EXPECT_EQ(at(2021, 6, 14, 22, 45, 12, 3456789), "6/14/2021 10:45:12.3456789 PM");
  EXPECT_EQ(at(2021, 6, 14, 12, 45, 0, 0), "6/14/2021 12:45:00 PM");
  EXPECT_EQ(at(2021, 6, 14, 0, 30, 0, 0), "6/14/2021 12:30:00 AM");
  EXPECT_EQ(at(2021, 6, 14, 0, 0, 0, 1), "6/14/2021 12:00:00.0000001 AM");
  EXPECT_EQ(at(100, 6, 14, 12, 45, 0, 1234567), "6/14/100 12:45:00.1234567 PM");
  EXPECT_EQ(TextForm(Value::DateTimeExt(JoinDateTimeExt({1, 1, 1, 0, 0, 0, 0}))), "1/1/1");
}

// The fixture holds each extended date also as the text Access showed for it
// (which always has seven fraction digits) and as a plain date.
TEST(DateTimeExt, FixtureAgreesWithItsTextAndPlainDates) {
  auto db = Database::Open(testing_support::DataPath("jackcess/extDateTestV2019.accdb"), {});
  auto t = db->Table("Table1");
  const Column* ext = t->FindColumn("DateExt");
  const Column* text = t->FindColumn("DateExtStr");
  const Column* plain = t->FindColumn("DateNormal");
  ASSERT_TRUE(ext && text && plain);
  ASSERT_EQ(ext->type, ColumnType::kDateTimeExt);
  TableScan scan(*db, t);
  int rows = 0, dated = 0;
  while (scan.Next()) {
    ++rows;
    Value e = scan.Get(*ext);
    Value s = scan.Get(*text);
    Value d = scan.Get(*plain);
    if (e.is_null()) {
      EXPECT_TRUE(s.is_null());
      continue;
    }
    ++dated;
    ASSERT_EQ(e.kind(), Value::Kind::kDateTimeExt);
    std::string shown = s.bytes();
    if (auto z = shown.find(".0000000"); z != std::string::npos) shown.erase(z, 8);
    EXPECT_EQ(TextForm(e), shown);
    DateTimeExtParts pe = SplitDateTimeExt(e.ext_ticks());
    DateParts pd = SplitAccessDate(d.as_double());
    EXPECT_EQ(std::tie(pe.year, pe.month, pe.day, pe.hour, pe.minute, pe.second),
              std::tie(pd.year, pd.month, pd.day, pd.hour, pd.minute, pd.second))
        << shown;
  }
  EXPECT_EQ(rows, 9);
  EXPECT_EQ(dated, 8);
}

}  // namespace
}  // namespace jet
