// Text lengths count UTF-16 units, as Access stores and counts them: a
// character beyond the first plane (an emoji) takes two of a column's
// characters, and two of a name's 64.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "jet/storage/error.h"
#include "jet/record/schema.h"
#include "jet/record/text.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(Utf16Length, CountsTheUnitsUtf8ToUtf16Makes) {
  EXPECT_EQ(Utf16Length(""), 0u);
  EXPECT_EQ(Utf16Length("abc"), 3u);
  EXPECT_EQ(Utf16Length("Zo\xC3\xAB \xE2\x82\xAC"), 5u);  // Zoë €
  EXPECT_EQ(Utf16Length(kEmoji), 2u);
  EXPECT_EQ(Utf16Length(Repeat(kEmoji, 127) + "x"), 255u);
  // Malformed and cut-off sequences count as the replacement characters the
  // conversion makes of them; any byte string agrees with the conversion.
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string s(rng() % 12, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? 0xF0 + rng() % 8 : rng());
    EXPECT_EQ(Utf16Length(s), Utf8ToUtf16(s).size()) << round;
  }
}

class TextColumnLimits : public testing::TestWithParam<const char*> {};

TEST_P(TextColumnLimits, EmojiTakeTwoOfAColumnsCharacters) {
  ScratchDir dir;
  const std::string path = dir.Copy(GetParam());
  auto db = Database::Open(path, OpenOptions{"", true});
  NewColumn wide{"Wide", ColumnType::kText, 255};
  NewColumn narrow{"Narrow", ColumnType::kText, 3};
  db->CreateTable("Emoji", {wide, narrow});
  auto t = db->Table("Emoji");
  const Column* w = t->FindColumn("Wide");
  const Column* n = t->FindColumn("Narrow");

  auto refused = [&](const Column* c, const std::string& text) {
    try {
      db->InsertRow(*t, {{c, Value::Text(text)}});
      return false;
    } catch (const Error& e) {
      EXPECT_NE(e.description().find("too long"), std::string::npos) << e.description();
      return true;
    }
  };
  EXPECT_TRUE(refused(w, Repeat(kEmoji, 200)));        // 400 units
  EXPECT_TRUE(refused(w, Repeat(kEmoji, 128)));        // 256 units
  EXPECT_TRUE(refused(n, kEmoji + kEmoji));            // 4 units
  EXPECT_TRUE(refused(n, "ab" + kEmoji));              // 4 units
  const std::string fits = Repeat(kEmoji, 127) + "x";  // 255 units
  RowId id = db->InsertRow(*t, {{w, Value::Text(fits)}, {n, Value::Text("a" + kEmoji)}});
  db->InsertRow(*t, {{w, Value::Text(std::string(255, 'q'))}, {n, Value::Text("abc")}});

  // An update is held to the same limit and leaves the row as it was.
  EXPECT_THROW(db->UpdateRow(*t, id, {{w, Value::Text(Repeat(kEmoji, 200))}}), Error);
  EXPECT_THROW(db->UpdateRow(*t, id, {{n, Value::Text(kEmoji + kEmoji)}}), Error);
  db->Commit();

  std::vector<std::pair<std::string, std::string>> rows;
  TableScan scan(*db, db->Table("Emoji"));
  while (scan.Next()) rows.emplace_back(TextForm(scan.Get(*w)), TextForm(scan.Get(*n)));
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::string>>{
                      {fits, "a" + kEmoji}, {std::string(255, 'q'), "abc"}}));
  EXPECT_TRUE(CheckDatabase(*db).ok());
}

INSTANTIATE_TEST_SUITE_P(Files, TextColumnLimits,
                         testing::Values("generated/people_V2007_300.accdb",
                                         "generated/people_V2000_200.mdb"));

TEST(ObjectNames, EmojiTakeTwoOfTheSixtyFourCharacters) {
  EXPECT_NO_THROW(CheckObjectName(Repeat(kEmoji, 32), "table"));  // 64 units
  EXPECT_NO_THROW(CheckObjectName(std::string(64, 'n'), "table"));
  EXPECT_THROW(CheckObjectName(Repeat(kEmoji, 33), "table"), Error);  // 66 units
  EXPECT_THROW(CheckObjectName(std::string(63, 'n') + kEmoji, "table"), Error);
}

}  // namespace
}  // namespace jet
