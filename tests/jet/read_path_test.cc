// The parts of reading that fast readers (the dump) use directly: stored text
// decoded into the caller's memory, long values as views, the page cache
// with few pages and reused page buffers, reads into several buffers, and
// the split of Access dates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "jet/table/create.h"
#include "jet/table/database.h"
#include "jet/record/text.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::DataPath;
using testing_support::ScratchDir;

Bytes AsBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// ---------------------------------------------------------------------------
// Stored text

// What stored text means, spelled out one character at a time: plain
// UTF-16LE; or, after FF FE, runs of single Latin-1 bytes and of UTF-16 units,
// a 00 (the first byte of a unit) switching between them. Surrogates pair
// only inside one run; a lone byte at the end is dropped.
std::string ReferenceText(const std::string& stored) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(stored[i]); };
  const size_t n = stored.size();
  std::u16string run;
  if (n < 2 || byte(0) != 0xFF || byte(1) != 0xFE) {
    for (size_t i = 0; i + 1 < n; i += 2)
      run.push_back(static_cast<char16_t>(byte(i) | byte(i + 1) << 8));
    return Utf16ToUtf8(run);
  }
  std::string out;
  bool compressed = true;
  for (size_t i = 2; i < n;) {
    if (byte(i) == 0) {
      out += Utf16ToUtf8(run);
      run.clear();
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      out += Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(byte(i))));
      ++i;
    } else if (i + 1 < n) {
      run.push_back(static_cast<char16_t>(byte(i) | byte(i + 1) << 8));
      i += 2;
    } else {
      break;
    }
  }
  return out + Utf16ToUtf8(run);
}

// Random stored text: ASCII runs of every length around the 4- and 8-unit
// steps, Latin-1 bytes, run switches, units from every plane (surrogates
// paired and not), zero units and odd lengths.
std::string RandomStoredText(std::mt19937& rng) {
  std::string s;
  if (rng() % 2) s = "\xFF\xFE";
  const int parts = static_cast<int>(rng() % 6);
  for (int p = 0; p < parts; ++p) {
    const size_t len = rng() % 20;
    switch (rng() % 6) {
      case 0:  // ASCII as single bytes
        for (size_t k = 0; k < len; ++k) s.push_back(static_cast<char>(0x20 + rng() % 0x5F));
        break;
      case 1:  // ASCII as units
        for (size_t k = 0; k < len; ++k) {
          s.push_back(static_cast<char>(0x20 + rng() % 0x5F));
          s.push_back(0);
        }
        break;
      case 2:  // Latin-1 and other single bytes
        for (size_t k = 0; k < len; ++k) s.push_back(static_cast<char>(1 + rng() % 255));
        break;
      case 3:  // a switch
        s.push_back(0);
        break;
      case 4: {  // units of any plane, surrogates included
        for (size_t k = 0; k < len; ++k) {
          uint32_t u = rng() % 4 == 0 ? 0xD800 + rng() % 0x800 : rng() % 0x10000;
          s.push_back(static_cast<char>(u & 0xFF));
          s.push_back(static_cast<char>(u >> 8));
        }
        break;
      }
      default:  // any bytes
        for (size_t k = 0; k < len; ++k) s.push_back(static_cast<char>(rng()));
    }
  }
  return s;
}

TEST(StoredText, WritersGiveTheTextCharacterByCharacter) {
  std::mt19937 rng(7031);
  std::vector<char> room;
  const char kGuard = '\x5A';
  for (int i = 0; i < 20000; ++i) {
    const std::string stored = RandomStoredText(rng);
    const std::string want = ReferenceText(stored);
    const size_t bound = stored.size() * kMaxUtf8PerStoredByte;
    room.assign(bound + 16, kGuard);
    char* end = WriteUcs2TextAsUtf8(room.data(), AsBytes(stored));
    ASSERT_EQ(std::string(room.data(), end), want) << "case " << i;
    // Nothing written past the room promised.
    ASSERT_TRUE(std::all_of(room.begin() + bound, room.end(), [&](char c) { return c == kGuard; }))
        << "case " << i;
    EXPECT_EQ(DecodeUcs2Text(AsBytes(stored)), want);
  }
}

TEST(StoredText, PlainUtf16WriterAgreesWithTheUnitWalk) {
  std::mt19937 rng(9127);
  for (int i = 0; i < 5000; ++i) {
    std::u16string units;
    const size_t len = rng() % 40;
    for (size_t k = 0; k < len; ++k) {
      // Long ASCII stretches with the odd other unit, so that the steps of
      // four and eight units start and stop everywhere.
      uint32_t pick = rng() % 10;
      units.push_back(static_cast<char16_t>(pick < 7   ? rng() % 0x80
                                            : pick < 9 ? 0x80 + rng() % 0xFF80
                                                       : 0xD800 + rng() % 0x800));
    }
    std::string stored;
    for (char16_t u : units) {
      stored.push_back(static_cast<char>(u & 0xFF));
      stored.push_back(static_cast<char>(u >> 8));
    }
    std::vector<char> room(stored.size() * kMaxUtf8PerStoredByte + 1);
    char* end = WriteUtf16LeAsUtf8(room.data(), AsBytes(stored));
    ASSERT_EQ(std::string(room.data(), end), Utf16ToUtf8(units)) << "case " << i;
  }
}

// ---------------------------------------------------------------------------
// The page cache and the file

// Plain files with 2 KB and 4 KB pages.
const char* const kPlainFiles[] = {"jackcess/testV1997.mdb", "mdbtestdata/nwind.mdb",
                                   "generated/people_V2007_300.accdb"};

std::vector<uint8_t> PageFromFile(Pager& pager, uint32_t n) {
  std::vector<uint8_t> page(pager.page_size());
  EXPECT_EQ(pager.file().ReadAt(uint64_t{n} * pager.page_size(), page), page.size());
  return page;
}

// With a cache of a few pages every read reuses the buffer of a page let go
// of; each must still give its own page, and a page a reader holds must
// never be taken.
TEST(Pager, FewCachedPagesStillGiveEveryPageAndLeaveHeldOnesAlone) {
  for (const char* file : kPlainFiles) {
    SCOPED_TRACE(file);
    auto db = Database::Open(DataPath(file), {});
    Pager& pager = db->pager();
    pager.SetCachePages(1);
    const uint32_t count = pager.page_count();
    ASSERT_GT(count, 40u);
    PagePtr held = pager.Get(3);
    const std::vector<uint8_t> held_bytes(held->data);
    // In order (whole read-ahead batches), then in a scattered order.
    std::vector<uint32_t> order(count);
    for (uint32_t n = 0; n < count; ++n) order[n] = n;
    std::vector<uint32_t> shuffled = order;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(count));
    order.insert(order.end(), shuffled.begin(), shuffled.end());
    for (uint32_t n : order) {
      PagePtr p = pager.Get(n);
      ASSERT_EQ(p->number, n);
      ASSERT_TRUE(p->data == PageFromFile(pager, n)) << "page " << n;
    }
    EXPECT_EQ(held->number, 3u);
    EXPECT_TRUE(held->data == held_bytes);
    EXPECT_TRUE(pager.Get(3)->data == held_bytes);
  }
}

TEST(PageFile, ReadsSeveralBuffersAsOneStretch) {
  const std::string path = DataPath("generated/people_V2007_300.accdb");
  const std::string whole = testing_support::ReadFile(path);
  PageFile file(path, false);
  // Sizes of every kind, empty ones among them, the last past the end.
  std::vector<std::vector<uint8_t>> buffers = {{},
                                               std::vector<uint8_t>(1),
                                               std::vector<uint8_t>(4096),
                                               {},
                                               std::vector<uint8_t>(3000),
                                               std::vector<uint8_t>(7),
                                               std::vector<uint8_t>(whole.size())};
  std::vector<std::span<uint8_t>> spans(buffers.begin(), buffers.end());
  const uint64_t offset = 4093;
  size_t got = file.ReadAt(offset, spans);
  EXPECT_EQ(got, whole.size() - offset);
  std::string joined;
  for (const auto& b : buffers) joined.append(b.begin(), b.end());
  EXPECT_TRUE(joined.substr(0, got) == whole.substr(offset));
  // From the end of the file nothing is read.
  EXPECT_EQ(file.ReadAt(whole.size(), spans), 0u);
}

// ---------------------------------------------------------------------------
// Long values

// Memos of sizes that are stored in the row, in one row of another page and
// across several pages.
TEST(LongValueBytes, ViewsGiveTheBytesAndOutliveTheCache) {
  ScratchDir dir;
  const std::string path = (dir.path() / "memos.accdb").string();
  CreateDatabase(path, FileFormat::kAccdb2016);
  const std::vector<size_t> sizes = {0, 3, 60, 300, 2000, 4000, 4100, 9000, 70000};
  {
    auto db = Database::Open(path, {"", true});
    db->CreateTable("Notes", {{"ID", ColumnType::kLong}, {"Note", ColumnType::kMemo}});
    for (size_t i = 0; i < sizes.size(); ++i) {
      std::string text;
      for (size_t k = 0; k < sizes[i]; ++k)
        text.push_back(static_cast<char>('a' + (k * 7 + i) % 26));
      db->InsertRow("Notes",
                    {{"ID", Value::Int(static_cast<int64_t>(i))}, {"Note", Value::Text(text)}});
    }
    db->Commit();
  }
  auto db = Database::Open(path, {});
  Pager& pager = db->pager();
  pager.SetCachePages(1);
  auto t = db->Table("Notes");
  const Column* note = t->FindColumn("Note");
  ASSERT_NE(note, nullptr);
  struct Kept {
    PagePtr hold;
    std::string chain;
    Bytes view;
    std::string copy;
  };
  std::vector<std::unique_ptr<Kept>> kept;
  int inline_values = 0;
  TableScan scan(*db, t);
  while (scan.Next()) {
    std::optional<Bytes> field = scan.row().Raw(*note);
    if (!field) continue;
    auto k = std::make_unique<Kept>();
    k->copy = ReadLongValue(pager, db->layout(), *field);
    k->view = LongValueBytes(pager, db->layout(), *field, k->hold, k->chain);
    ASSERT_EQ(std::string(k->view.begin(), k->view.end()), k->copy);
    // Inline data lies in the scan's row, which is only good until the
    // next one; the others are kept.
    if ((*field)[3] & 0x80) {
      ++inline_values;
    } else {
      kept.push_back(std::move(k));
    }
  }
  EXPECT_GT(inline_values, 0);
  const bool one_page =
      std::any_of(kept.begin(), kept.end(), [](const auto& k) { return k->hold != nullptr; });
  const bool chained =
      std::any_of(kept.begin(), kept.end(), [](const auto& k) { return !k->chain.empty(); });
  EXPECT_TRUE(one_page);
  EXPECT_TRUE(chained);
  // Every page passes through the small cache; the views stay as they were.
  for (uint32_t n = 0; n < pager.page_count(); ++n) pager.Get(n);
  for (const auto& k : kept) {
    EXPECT_TRUE(std::string(k->view.begin(), k->view.end()) == k->copy);
  }
}

// ---------------------------------------------------------------------------
// Dates

// The parts of a date with the time rounded to the nearest millisecond,
// halves away from zero (as std::llround rounds).
DateParts ReferenceParts(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 3.0e6) v = 0;
  double day = std::trunc(v);
  int64_t ms = std::llround(std::fabs(v - day) * 86400000.0);
  int64_t days = static_cast<int64_t>(day);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += 1;
  }
  // The day from the time-of-day-free split of a whole day number.
  DateParts p = SplitAccessDate(static_cast<double>(days));
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

TEST(AccessDate, TimesRoundToTheNearestMillisecondHalvesUp) {
  std::mt19937_64 rng(4411);
  std::vector<double> values = {0, -0.0, 0.5, -0.5, 2958465.999999999, -657434.75, 1e-300};
  for (int i = 0; i < 200000; ++i) {
    const double day = static_cast<double>(static_cast<int64_t>(rng() % 3000000) - 700000);
    // Exact halves of a millisecond and their neighbours, and any fraction.
    const double ms = static_cast<double>(rng() % 86400000) + 0.5;
    double frac = ms / 86400000.0;
    switch (i % 4) {
      case 0:
        frac = std::nextafter(frac, 0.0);
        break;
      case 1:
        frac = std::nextafter(frac, 1.0);
        break;
      case 2:
        frac = std::uniform_real_distribution<double>(0, 1)(rng);
        break;
    }
    values.push_back(day < 0 ? day - frac : day + frac);
  }
  for (double v : values) {
    const DateParts got = SplitAccessDate(v);
    const DateParts want = ReferenceParts(v);
    ASSERT_TRUE(got.year == want.year && got.month == want.month && got.day == want.day &&
                got.hour == want.hour && got.minute == want.minute && got.second == want.second &&
                got.millisecond == want.millisecond)
        << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace jet
