// Values and their text forms, stored text (compressed Unicode and Jet 3
// code pages), the file header, and Jet's RC4 page encoding.
#include "jet/record/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "jet/crypto/jet_rc4.h"
#include "jet/crypto/office_codec.h"
#include "jet/table/database.h"
#include "jet/storage/error.h"
#include "jet/storage/header.h"
#include "jet/record/text.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::DataPath;
using testing_support::ReadFile;

std::span<const uint8_t> AsBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// ---------------------------------------------------------------------------
// Equality

// Each kind compares its own payload: extended dates and complex keys live in
// the integer member, so two of them with different payloads must differ.
TEST(ValueEquality, ComparesThePayloadOfEachKind) {
  const int64_t noon = JoinDateTimeExt({2021, 6, 14, 12, 0, 0, 0});
  EXPECT_EQ(Value::DateTimeExt(noon), Value::DateTimeExt(noon));
  EXPECT_FALSE(Value::DateTimeExt(noon) == Value::DateTimeExt(noon + 1));
  EXPECT_FALSE(Value::DateTimeExt(0) == Value::DateTimeExt(kTicksPerDay));

  EXPECT_EQ(Value::Complex(7), Value::Complex(7));
  EXPECT_FALSE(Value::Complex(7) == Value::Complex(8));
  // The items read behind a key do not change which row it names.
  auto items = std::make_shared<ComplexList>();
  items->items.push_back(ComplexItem{Value::Text("a"), Value::Null(), "", "", ""});
  EXPECT_EQ(Value::Complex(7, items), Value::Complex(7));

  // The other kinds keep comparing as before.
  EXPECT_EQ(Value::Double(1.5), Value::Double(1.5));
  EXPECT_FALSE(Value::Double(1.5) == Value::Double(2.5));
  EXPECT_FALSE(Value::DateTime(1.0) == Value::DateTime(2.0));
  EXPECT_FALSE(Value::Float(1.0f) == Value::Float(2.0f));
  EXPECT_FALSE(Value::Int(1) == Value::Int(2));
  EXPECT_FALSE(Value::Text("a") == Value::Text("b"));
  EXPECT_FALSE(Value::Decimal(false, std::string(16, '\0'), 2) ==
               Value::Decimal(false, std::string(16, '\0'), 3));
  // Same payload, different kinds.
  EXPECT_FALSE(Value::Int(3) == Value::Complex(3));
  EXPECT_FALSE(Value::Int(3) == Value::DateTimeExt(3));
  EXPECT_FALSE(Value::DateTimeExt(0) == Value::Null());
}

// ---------------------------------------------------------------------------
// Numbers

TEST(TextForm, IntegersAndBooleans) {
  EXPECT_EQ(TextForm(Value::Int(0)), "0");
  EXPECT_EQ(TextForm(Value::Int(-32768)), "-32768");
  EXPECT_EQ(TextForm(Value::Int(std::numeric_limits<int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(TextForm(Value::Bool(true)), "True");
  EXPECT_EQ(TextForm(Value::Bool(false)), "False");
  EXPECT_EQ(TextForm(Value::Null()), "");
}

// Singles show 7 significant digits, so the float's binary noise is hidden.
TEST(TextForm, SinglesShowSevenSignificantDigits) {
  EXPECT_EQ(TextForm(Value::Float(1.1f)), "1.1");
  EXPECT_EQ(TextForm(Value::Float(0.1f)), "0.1");
  EXPECT_EQ(TextForm(Value::Float(-0.001f)), "-0.001");
  EXPECT_EQ(TextForm(Value::Float(3.14159265f)), "3.141593");
  EXPECT_EQ(TextForm(Value::Float(2583.2092f)), "2583.209");
  EXPECT_EQ(TextForm(Value::Float(1234567.0f)), "1234567");
  EXPECT_EQ(TextForm(Value::Float(9999999.0f)), "9999999");
  // Seven digits no longer hold the integer part: exponent form.
  EXPECT_EQ(TextForm(Value::Float(10000000.0f)), "1E+07");
  EXPECT_EQ(TextForm(Value::Float(12345678.0f)), "1.234568E+07");
  EXPECT_EQ(TextForm(Value::Float(std::numeric_limits<float>::max())), "3.402823E+38");
  EXPECT_EQ(TextForm(Value::Float(1.5e-7f)), "1.5E-07");
  EXPECT_EQ(TextForm(Value::Float(-0.0f)), "0");
}

TEST(TextForm, DoublesShowFifteenSignificantDigits) {
  EXPECT_EQ(TextForm(Value::Double(1.0 / 3)), "0.333333333333333");
  EXPECT_EQ(TextForm(Value::Double(2.0 / 3)), "0.666666666666667");
  EXPECT_EQ(TextForm(Value::Double(0.1 + 0.2)), "0.3");
  EXPECT_EQ(TextForm(Value::Double(444.555)), "444.555");
  EXPECT_EQ(TextForm(Value::Double(-123456.789)), "-123456.789");
  EXPECT_EQ(TextForm(Value::Double(100)), "100");
  EXPECT_EQ(TextForm(Value::Double(123456789012345.0)), "123456789012345");
  EXPECT_EQ(TextForm(Value::Double(1e15)), "1E+15");
  EXPECT_EQ(TextForm(Value::Double(1234567890123456.0)), "1.23456789012346E+15");
  // Rounding to 15 digits carries into the exponent.
  EXPECT_EQ(TextForm(Value::Double(999999999999999.9)), "1E+15");
  EXPECT_EQ(TextForm(Value::Double(0.9999999999999999)), "1");
  EXPECT_EQ(TextForm(Value::Double(1e300)), "1E+300");
  EXPECT_EQ(TextForm(Value::Double(-2.5e-300)), "-2.5E-300");
  EXPECT_EQ(TextForm(Value::Double(1e-7)), "1E-07");
  EXPECT_EQ(TextForm(Value::Double(0.001)), "0.001");
  EXPECT_EQ(TextForm(Value::Double(-0.0)), "0");
}

// Currency and decimals are exact: every stored digit, no trailing zeros.
TEST(TextForm, CurrencyIsExactWithoutTrailingZeros) {
  EXPECT_EQ(TextForm(Value::Currency(0)), "0");
  EXPECT_EQ(TextForm(Value::Currency(10000)), "1");
  EXPECT_EQ(TextForm(Value::Currency(15000)), "1.5");
  EXPECT_EQ(TextForm(Value::Currency(12345)), "1.2345");
  EXPECT_EQ(TextForm(Value::Currency(-5)), "-0.0005");
  EXPECT_EQ(TextForm(Value::Currency(833333333)), "83333.3333");
  EXPECT_EQ(TextForm(Value::Currency(std::numeric_limits<int64_t>::max())), "922337203685477.5807");
  EXPECT_EQ(TextForm(Value::Currency(std::numeric_limits<int64_t>::min())),
            "-922337203685477.5808");
}

// A decimal's 16 magnitude bytes, most significant first.
std::string Magnitude(unsigned __int128 v) {
  std::string m(16, '\0');
  for (int i = 15; i >= 0; --i, v >>= 8) m[i] = static_cast<char>(v & 0xFF);
  return m;
}

unsigned __int128 Parse128(const char* digits) {
  unsigned __int128 v = 0;
  for (const char* p = digits; *p; ++p) v = v * 10 + (*p - '0');
  return v;
}

TEST(TextForm, DecimalsAreExactWithoutTrailingZeros) {
  EXPECT_EQ(TextForm(Value::Decimal(false, Magnitude(1234500), 4)), "123.45");
  EXPECT_EQ(TextForm(Value::Decimal(true, Magnitude(1234500), 4)), "-123.45");
  EXPECT_EQ(TextForm(Value::Decimal(false, Magnitude(1000), 3)), "1");
  EXPECT_EQ(TextForm(Value::Decimal(false, Magnitude(5), 10)), "0.0000000005");
  // A zero with the sign bit set has no sign.
  EXPECT_EQ(TextForm(Value::Decimal(true, Magnitude(0), 2)), "0");
  const unsigned __int128 max = Parse128("79228162514264337593543950335");  // 2^96 - 1
  EXPECT_EQ(TextForm(Value::Decimal(false, Magnitude(max), 0)), "79228162514264337593543950335");
  EXPECT_EQ(TextForm(Value::Decimal(true, Magnitude(max), 28)), "-7.9228162514264337593543950335");
  // Digits beyond 64 bits survive.
  EXPECT_EQ(
      TextForm(Value::Decimal(false, Magnitude(Parse128("56505085819424791296572280180")), 18)),
      "56505085819.42479129657228018");
}

// The dump keeps a column's scale: currency always with 4 decimals.
TEST(TextForm, ScaledFormKeepsTrailingZerosWhenAsked) {
  EXPECT_EQ(FormatScaled(false, 0, 4, false), "0.0000");
  EXPECT_EQ(FormatScaled(true, 0, 4, false), "0.0000");
  EXPECT_EQ(FormatScaled(false, 35000, 4, false), "3.5000");
  EXPECT_EQ(FormatScaled(true, 1, 8, false), "-0.00000001");
  EXPECT_EQ(FormatScaled(false, 42, 0, false), "42");
  EXPECT_EQ(FormatScaled(false, 42, 0, true), "42");
  EXPECT_EQ(FormatScaled(false, 4200, 2, true), "42");
}

TEST(TextForm, GuidsInBracesWithCapitalsAndSwappedFirstGroups) {
  std::string raw;
  for (int i = 0; i < 16; ++i) raw.push_back(static_cast<char>(0xA0 + i));
  EXPECT_EQ(FormatGuid(raw), "{A3A2A1A0-A5A4-A7A6-A8A9-AAABACADAEAF}");
  EXPECT_EQ(TextForm(Value::Guid(raw)), "{A3A2A1A0-A5A4-A7A6-A8A9-AAABACADAEAF}");
}

// ---------------------------------------------------------------------------
// Dates: General Date in en-US, the way Access shows them.

// Day numbers of a few calendar dates.
constexpr double kMarch23_2020 = 43913;

TEST(GeneralDate, MidnightShowsTheDateOnly) {
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020), "3/23/2020");
  EXPECT_EQ(FormatGeneralDate(1), "12/31/1899");
  EXPECT_EQ(FormatGeneralDate(-1), "12/29/1899");
  EXPECT_EQ(FormatGeneralDate(60), "2/28/1900");  // no 29 February 1900
  EXPECT_EQ(FormatGeneralDate(61), "3/1/1900");
  EXPECT_EQ(FormatGeneralDate(36585), "2/29/2000");
  EXPECT_EQ(FormatGeneralDate(-657434), "1/1/100");
  EXPECT_EQ(FormatGeneralDate(2958465), "12/31/9999");
  // Noise just above midnight does not make a time appear.
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 1e-10), "3/23/2020");
}

TEST(GeneralDate, TheEpochDayShowsTheTimeOnly) {
  EXPECT_EQ(FormatGeneralDate(0.75), "6:00:00 PM");
  EXPECT_EQ(FormatGeneralDate(0.5), "12:00:00 PM");
  EXPECT_EQ(FormatGeneralDate(0), "12:00:00 AM");
  // Times before the epoch count from the start of day 0, too.
  EXPECT_EQ(FormatGeneralDate(-0.5), "12:00:00 PM");
}

TEST(GeneralDate, TwelveOClockEdges) {
  const double second = 1.0 / 86400;
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + second), "3/23/2020 12:00:01 AM");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 3599 * second), "3/23/2020 12:59:59 AM");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 3600 * second), "3/23/2020 1:00:00 AM");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 0.5 - second), "3/23/2020 11:59:59 AM");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 0.5), "3/23/2020 12:00:00 PM");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 0.5 + second), "3/23/2020 12:00:01 PM");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 1 - second), "3/23/2020 11:59:59 PM");
  EXPECT_EQ(FormatGeneralDate(2958465 + 86399 * second), "12/31/9999 11:59:59 PM");
}

// Below zero the integer part counts days back and the fraction is still the
// time of that day: -1.25 is 6 AM on 29 December 1899, not 6 PM on the 28th.
TEST(GeneralDate, NegativeDaysWithTimes) {
  EXPECT_EQ(FormatGeneralDate(-1.25), "12/29/1899 6:00:00 AM");
  EXPECT_EQ(FormatGeneralDate(-1.75), "12/29/1899 6:00:00 PM");
  EXPECT_EQ(FormatGeneralDate(-49141.53125), "6/14/1765 12:45:00 PM");
}

TEST(GeneralDate, TimesThatRoundToMidnightBelongToTheNextDay) {
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 0.99999999999), "3/24/2020");
  EXPECT_EQ(FormatGeneralDate(kMarch23_2020 + 1 - 0.0004 / 86400), "3/24/2020");
}

TEST(AccessDate, SplitsAndJoinsBothSidesOfTheEpoch) {
  struct Case {
    double v;
    DateParts parts;
  };
  const Case cases[] = {
      {0, {1899, 12, 30, 0, 0, 0, 0}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0}},
      {-49141.53125, {1765, 6, 14, 12, 45, 0, 0}},
      {43913 + 0.29209490740740744, {2020, 3, 23, 7, 0, 37, 0}},
      {43913 + (7 * 3600 + 37.595) / 86400, {2020, 3, 23, 7, 0, 37, 595}},
      {-154907, {1475, 11, 16, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    DateParts p = SplitAccessDate(c.v);
    SCOPED_TRACE(c.v);
    EXPECT_EQ(p.year, c.parts.year);
    EXPECT_EQ(p.month, c.parts.month);
    EXPECT_EQ(p.day, c.parts.day);
    EXPECT_EQ(p.hour, c.parts.hour);
    EXPECT_EQ(p.minute, c.parts.minute);
    EXPECT_EQ(p.second, c.parts.second);
    EXPECT_EQ(p.millisecond, c.parts.millisecond);
    EXPECT_NEAR(JoinAccessDate(p), c.v, 1e-9);
  }
}

// ---------------------------------------------------------------------------
// Stored text

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

TEST(CompressedText, EncodesOneByteACharacterWhenEveryCharacterFits) {
  EXPECT_EQ(EncodeUcs2Text("Hello", true), "\xFF\xFEHello");
  EXPECT_EQ(EncodeUcs2Text("caf\xC3\xA9", true),
            "\xFF\xFE"
            "caf\xE9");  // é is U+00E9
  // Too short, not allowed, or a character outside U+0001..U+00FF: UTF-16.
  EXPECT_EQ(EncodeUcs2Text("ab", true), Bytes({'a', 0, 'b', 0}));
  EXPECT_EQ(EncodeUcs2Text("Hello", false), Bytes({'H', 0, 'e', 0, 'l', 0, 'l', 0, 'o', 0}));
  EXPECT_EQ(EncodeUcs2Text("\xE2\x82\xAC"
                           "100",
                           true),
            Bytes({0xAC, 0x20, '1', 0, '0', 0, '0', 0}));
  EXPECT_EQ(EncodeUcs2Text(std::string("a\0b", 3), true), Bytes({'a', 0, 0, 0, 'b', 0}));
  // The length limit for compression.
  EXPECT_EQ(EncodeUcs2Text(std::string(1024, 'x'), true).size(), 1026u);
  EXPECT_EQ(EncodeUcs2Text(std::string(1025, 'x'), true).size(), 2050u);
}

TEST(CompressedText, DecodesRunsThatSwitchBetweenOneAndTwoBytes) {
  // "ab", then UTF-16 for "€" and an emoji (a surrogate pair), then "c".
  EXPECT_EQ(DecodeUcs2Text(AsBytes(
                Bytes({0xFF, 0xFE, 'a', 'b', 0, 0xAC, 0x20, 0x3D, 0xD8, 0x01, 0xDE, 0, 'c'}))),
            "ab\xE2\x82\xAC\xF0\x9F\x98\x81"
            "c");
  // Compressed bytes are Latin-1, not a Windows code page: 0x80 is U+0080.
  EXPECT_EQ(DecodeUcs2Text(AsBytes(Bytes({0xFF, 0xFE, 0x80, 0xE9}))), "\xC2\x80\xC3\xA9");
  EXPECT_EQ(DecodeUcs2Text(AsBytes(Bytes({0xFF, 0xFE}))), "");
  // Plain UTF-16; an unpaired surrogate becomes U+FFFD, an odd last byte is dropped.
  EXPECT_EQ(DecodeUcs2Text(AsBytes(Bytes({'O', 0, 'K', 0}))), "OK");
  EXPECT_EQ(DecodeUcs2Text(AsBytes(Bytes({0x3D, 0xD8, 'x', 0}))), "\xEF\xBF\xBDx");
  EXPECT_EQ(DecodeUcs2Text(AsBytes(Bytes({'O', 0, 'K'}))), "O");
}

TEST(CompressedText, RandomTextRoundTrips) {
  std::mt19937 rng(20240611);
  const std::vector<std::pair<uint32_t, uint32_t>> ranges = {
      {0x01, 0x7F},     {0x80, 0xFF},     {0x100, 0x2FF},     {0x400, 0x4FF},
      {0x4E00, 0x4FFF}, {0xE000, 0xFFFD}, {0x1F600, 0x1F64F}, {0x10000, 0x10FFFF}};
  for (int i = 0; i < 2000; ++i) {
    // Mostly one range, so that many texts can be compressed.
    std::u32string cps;
    size_t len = rng() % 40;
    for (size_t k = 0; k < len; ++k) {
      auto [lo, hi] = ranges[(i % 3 == 0) ? rng() % ranges.size() : i % 2];
      char32_t c = lo + rng() % (hi - lo + 1);
      // U+FEFF first would be stored as FF FE, the mark of compressed text.
      if (c == 0xFEFF && cps.empty()) c = 0xFEFE;
      cps.push_back(c);
    }
    std::u16string u16;
    for (char32_t c : cps) {
      if (c >= 0x10000) {
        u16.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        u16.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        u16.push_back(static_cast<char16_t>(c));
      }
    }
    std::string utf8 = Utf16ToUtf8(u16);
    ASSERT_EQ(Utf8ToUtf16(utf8), u16);
    EXPECT_EQ(Utf8Length(utf8), cps.size());
    for (bool compress : {true, false}) {
      std::string stored = EncodeUcs2Text(utf8, compress);
      ASSERT_EQ(DecodeUcs2Text(AsBytes(stored)), utf8) << "case " << i << " compress " << compress;
    }
  }
}

TEST(CodePageText, Windows1252BothWays) {
  EXPECT_EQ(CodePageToUtf8(AsBytes(Bytes({'U', 'm', 's', 0xE4, 't', 'z', 'e'})), 1252),
            "Ums\xC3\xA4tze");
  EXPECT_EQ(CodePageToUtf8(AsBytes(Bytes({0x80, 0x93, 0x94})), 1252),
            "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D");
  for (int c = 1; c < 256; ++c) {
    if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) continue;  // unassigned
    std::string one(1, static_cast<char>(c));
    EXPECT_EQ(Utf8ToCodePage(CodePageToUtf8(AsBytes(one), 1252), 1252), one) << c;
  }
  EXPECT_EQ(Utf8ToCodePage("\xE2\x82\xAC 5 \xE4\xB8\xAD", 1252), "\x80 5 ?");
}

TEST(CodePageText, OtherCodePages) {
  // Cyrillic (1251) and Greek (1253) Jet 3 files.
  EXPECT_EQ(CodePageToUtf8(AsBytes(Bytes({0xC0, 0xE1, 0xE2})), 1251), "\xD0\x90\xD0\xB1\xD0\xB2");
  EXPECT_EQ(Utf8ToCodePage("\xD0\x90\xD0\xB1\xD0\xB2", 1251), Bytes({0xC0, 0xE1, 0xE2}));
  EXPECT_EQ(CodePageToUtf8(AsBytes(Bytes({0xC1})), 1253), "\xCE\x91");
}

// ---------------------------------------------------------------------------
// The header

HeaderInfo HeaderOf(const std::string& rel) {
  std::string file = ReadFile(DataPath(rel));
  return ParseHeader(AsBytes(file.substr(0, 4096)));
}

TEST(Header, VersionsAndPageSizes) {
  const std::pair<const char*, Version> cases[] = {
      {"jackcess/testV1997.mdb", Version::kJet3},
      {"mdbtestdata/nwind.mdb", Version::kJet3},
      {"generated/people_V2000_200.mdb", Version::kJet4},
      {"generated/people_V2007_300.accdb", Version::kAce12},
      {"jackcess/calcFieldTestV2010.accdb", Version::kAce14},
      {"mdb-reader/bigint.accdb", Version::kAce16},
      {"jackcess/extDateTestV2019.accdb", Version::kAce17},
  };
  for (const auto& [rel, version] : cases) {
    SCOPED_TRACE(rel);
    HeaderInfo h = HeaderOf(rel);
    EXPECT_EQ(h.version, version);
    EXPECT_EQ(h.page_size, version == Version::kJet3 ? 2048u : 4096u);
    EXPECT_EQ(h.engine_name, version <= Version::kJet4 ? "Standard Jet DB" : "Standard ACE DB");
    EXPECT_EQ(h.code_page, 1252);
    EXPECT_EQ(h.sort_order, 1033);
    EXPECT_EQ(h.database_key, 0u);
    EXPECT_TRUE(h.password.empty());
    if (version != Version::kJet3) {
      // Read through the header mask: a wrong stream gives no sensible date.
      EXPECT_GT(h.creation_date, 35000);  // 1995
      EXPECT_LT(h.creation_date, 47500);  // 2030
    }
  }
}

TEST(Header, Jet4PasswordIsDecodedWithTheCreationDate) {
  HeaderInfo h = HeaderOf("mdb-reader/V2000_with-password.mdb");
  EXPECT_EQ(h.password, u"password");
  EXPECT_EQ(h.database_key, 0u);  // a password alone does not encode pages
}

TEST(Header, EncodedFilesAreRecognised) {
  HeaderInfo jet = HeaderOf("jackcess-encrypt/db-enc.mdb");
  EXPECT_EQ(jet.version, Version::kJet4);
  EXPECT_NE(jet.database_key, 0u);
  EXPECT_TRUE(jet.password.empty());
  EXPECT_FALSE(jet.office_encrypted);
  HeaderInfo office = HeaderOf("mdb-reader/office-agile-4.4.accdb");
  EXPECT_TRUE(office.office_encrypted);
  // The password field of an encrypted ACE file holds filler, not a password.
  EXPECT_TRUE(office.password.empty());
}

TEST(Header, OtherFilesAreRefused) {
  auto expect_refused = [](std::string page, const std::string& needle) {
    page.resize(std::max<size_t>(page.size(), 4096), '\0');
    try {
      ParseHeader(AsBytes(page));
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(e.description().find(needle), std::string::npos) << e.description();
    }
  };
  expect_refused(ReadFile(DataPath("expected/NOTES.md")), "not an Access database");
  std::string page0 = ReadFile(DataPath("generated/people_V2000_200.mdb")).substr(0, 4096);
  std::string wrong_name = page0;
  wrong_name[4] = 'X';
  expect_refused(wrong_name, "not an Access database");
  std::string future = page0;
  future[0x14] = 7;
  expect_refused(future, "not supported");
  try {
    ParseHeader(AsBytes(page0.substr(0, 1000)));
    ADD_FAILURE() << "a short header was accepted";
  } catch (const Error&) {
  }
}

// No fixture has a Jet 3 password; this puts one into a copy: code-page
// bytes at 0x42 under the header mask.
TEST(Header, Jet3PasswordIsCheckedInTheFilesCodePage) {
  testing_support::ScratchDir dir;
  std::string path = dir.Copy("jackcess/testV1997.mdb");
  std::string file = ReadFile(path);
  std::span<uint8_t> page0(reinterpret_cast<uint8_t*>(file.data()), 2048);
  ToggleHeaderMask(page0, Version::kJet3);
  const std::string secret = "Geheim\xE4";  // "Geheimä" in code page 1252
  std::copy(secret.begin(), secret.end(), page0.begin() + 0x42);
  ToggleHeaderMask(page0, Version::kJet3);
  testing_support::WriteFile(path, file);

  EXPECT_EQ(ParseHeader(page0).password, u"Geheim\u00E4");
  EXPECT_NO_THROW(Database::Open(path, OpenOptions{"Geheim\xC3\xA4", false}));
  for (const std::string wrong : {"", "geheim\xC3\xA4", "Geheim", "Geheim\xC3\xA4 "}) {
    try {
      Database::Open(path, OpenOptions{wrong, false});
      ADD_FAILURE() << "'" << wrong << "' was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errnum::kWrongPassword);
    }
  }
}

TEST(Header, Jet4PasswordIsChecked) {
  const std::string path = DataPath("mdb-reader/V2000_with-password.mdb");
  EXPECT_NO_THROW(Database::Open(path, OpenOptions{"password", false}));
  for (const std::string wrong : {"", "Password", "passwor", "password1"}) {
    try {
      Database::Open(path, OpenOptions{wrong, false});
      ADD_FAILURE() << "'" << wrong << "' was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errnum::kWrongPassword);
    }
  }
}

// ---------------------------------------------------------------------------
// Jet's RC4 page encoding (db-enc.mdb)

TEST(JetRc4File, EveryPageDecodesWithTheKeyOfItsNumber) {
  std::string file = ReadFile(DataPath("jackcess-encrypt/db-enc.mdb"));
  HeaderInfo h = ParseHeader(AsBytes(file.substr(0, 4096)));
  auto codec = MakeJetRc4Codec(h.database_key);
  const uint32_t pages = static_cast<uint32_t>(file.size() / h.page_size);
  ASSERT_GT(pages, 3u);
  auto page = [&](uint32_t n) {
    return std::vector<uint8_t>(file.begin() + size_t{n} * h.page_size,
                                file.begin() + size_t{n + 1} * h.page_size);
  };
  std::vector<uint8_t> p2 = page(2);
  EXPECT_FALSE(p2[0] == 0x02 && p2[1] == 0x01) << "page 2 is stored plain";
  codec->Decode(2, p2);
  EXPECT_EQ(p2[0], 0x02);  // the catalogue's definition
  EXPECT_EQ(p2[1], 0x01);
  for (uint32_t n = 1; n < pages; ++n) {
    std::vector<uint8_t> p = page(n);
    codec->Decode(n, p);
    EXPECT_LE(p[0], 0x05) << "page " << n;
    if (p[0] != 0) {
      EXPECT_EQ(p[1], 0x01) << "page " << n;
    }
  }
}

TEST(JetRc4File, OpensWithoutPasswordAndRefusesAWrongKey) {
  testing_support::ScratchDir dir;
  std::string path = dir.Copy("jackcess-encrypt/db-enc.mdb");
  {
    auto db = Database::Open(path, OpenOptions{});
    EXPECT_EQ(db->UserTables(), std::vector<std::string>{"Table1"});
    auto t = db->Table("Table1");
    TableScan scan(*db, t);
    int rows = 0;
    while (scan.Next()) ++rows;
    EXPECT_EQ(rows, 2);
  }
  // The key is inside the masked header region; change one bit of it.
  std::string file = ReadFile(path);
  std::span<uint8_t> page0(reinterpret_cast<uint8_t*>(file.data()), 4096);
  ToggleHeaderMask(page0, Version::kJet4);
  page0[0x3E] ^= 0x01;
  ToggleHeaderMask(page0, Version::kJet4);
  testing_support::WriteFile(path, file);
  try {
    Database::Open(path, OpenOptions{});
    ADD_FAILURE() << "opened with a wrong key";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("damaged"), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace jet
