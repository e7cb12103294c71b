// Giving a plain .accdb a password: the encrypted file reads exactly like the
// plain one with the password, in our reader and in mdb-reader, is refused
// without it, carries the header Access writes, and holds no plain text of
// the data, also after later writes and in their journal.
#include "jet/crypto/encrypt.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "jet/table/database.h"
#include "jet/storage/error.h"
#include "jet/storage/header.h"
#include "jet/crypto/office_crypto_internal.h"
#include "jet/storage/page_file.h"
#include "jet/record/text.h"
#include "support/fault_file_system.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::Capture;
using testing_support::DataPath;
using testing_support::ReadFile;
using testing_support::FaultFileSystem;
using testing_support::ScratchDir;

constexpr const char* kPassword = "Kestrel-7 Ümlaut";

// Every user table: name, columns, and each row's values with their kind and
// raw bytes (binary values have no full text form).
std::string FullDump(const std::string& path, const std::string& password) {
  auto db = Database::Open(path, OpenOptions{password, false});
  std::string out;
  for (const std::string& name : db->UserTables()) {
    auto t = db->Table(name);
    out += "table " + name + "\n";
    for (const Column& c : t->columns) out += " " + c.name + ":" + TypeName(c.type);
    out += "\n";
    TableScan scan(*db, t);
    while (scan.Next()) {
      for (const Column& c : t->columns) {
        const Value v = scan.Get(c);
        out += std::to_string(static_cast<int>(v.kind())) + "=" + TextForm(v) + "/" + v.bytes() +
               "\x1f";
      }
      out += "\n";
    }
  }
  return out;
}

// The two ways text is stored: UTF-16LE, and one byte a character when Jet's
// compression applies (every character below U+0100).
std::vector<std::string> StoredForms(const std::string& utf8) {
  std::vector<std::string> forms;
  const std::u16string units = Utf8ToUtf16(utf8);
  std::string wide, narrow;
  bool narrowable = true;
  for (char16_t u : units) {
    wide.push_back(static_cast<char>(u & 0xFF));
    wide.push_back(static_cast<char>(u >> 8));
    narrowable = narrowable && u < 0x100;
    narrow.push_back(static_cast<char>(u & 0xFF));
  }
  forms.push_back(wide);
  if (narrowable) forms.push_back(narrow);
  return forms;
}

bool HoldsPlain(const std::string& bytes, const std::string& utf8) {
  for (const std::string& f : StoredForms(utf8)) {
    if (bytes.find(f) != std::string::npos) return true;
  }
  return false;
}

// Texts of at least 6 characters that the plain file holds: object names
// from the catalogue and text values of the user tables.
std::vector<std::string> KnownTexts(const std::string& path) {
  auto db = Database::Open(path, OpenOptions{"", false});
  std::set<std::string> texts;
  for (const CatalogEntry& e : db->Catalog()) texts.insert(e.name);
  for (const std::string& name : db->UserTables()) {
    auto t = db->Table(name);
    TableScan scan(*db, t);
    while (scan.Next()) {
      for (const Column& c : t->columns) {
        const Value v = scan.Get(c);
        if (v.kind() == Value::Kind::kText) texts.insert(v.bytes());
      }
    }
  }
  const std::string file = ReadFile(path);
  std::vector<std::string> found;
  for (const std::string& s : texts) {
    if (Utf8ToUtf16(s).size() >= 6 && HoldsPlain(file, s)) found.push_back(s);
  }
  return found;
}

std::string OracleDir() { return std::string(TESSALY_TEST_DATA) + "/../oracle"; }

bool HaveMdbReader() {
  return !Capture("command -v node 2>/dev/null").empty() &&
         std::filesystem::exists(OracleDir() + "/node_modules/mdb-reader");
}

// mdb-reader's dump of one table (canonical JSON), or its error text.
std::string OracleDump(const std::string& path, const std::string& table,
                       const std::string& password, int* status) {
  std::string cmd = "cd '" + OracleDir() + "' && node dump.mjs '" + path + "' '" + table + "'";
  if (!password.empty()) cmd += " --password '" + password + "'";
  return Capture(cmd + " 2>&1", status);
}

HeaderInfo HeaderOf(const std::string& path) {
  const std::string file = ReadFile(path);
  return ParseHeader(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(file.data()), 4096));
}

// Page 0 unmasked, as bytes.
std::vector<uint8_t> UnmaskedHeader(const std::string& path) {
  const std::string file = ReadFile(path);
  std::vector<uint8_t> page(file.begin(), file.begin() + 4096);
  ToggleHeaderMask(page, HeaderOf(path).version);
  return page;
}

// The agile descriptor's XML start tags.
std::vector<office::XmlTag> DescriptorTags(const std::string& path) {
  const std::string file = ReadFile(path);
  const size_t len = static_cast<uint8_t>(file[0x299]) | (static_cast<uint8_t>(file[0x29A]) << 8);
  EXPECT_GT(len, 8u);
  EXPECT_EQ(file.substr(0x29B, 8), std::string("\x04\0\x04\0\x40\0\0\0", 8)) << "version 4.4, 0x40";
  auto tags = office::ScanXmlTags(std::string_view(file).substr(0x29B + 8, len - 8));
  EXPECT_TRUE(tags.has_value());
  return tags.value_or(std::vector<office::XmlTag>{});
}

const std::string* Attr(const std::vector<office::XmlTag>& tags, std::string_view local,
                        std::string_view key) {
  for (const auto& t : tags) {
    if (t.LocalName() == local) return t.Find(key);
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Encrypted copies of plain files

class EncryptCopy : public ::testing::TestWithParam<const char*> {};

TEST_P(EncryptCopy, ReadsExactlyLikeThePlainFileWithThePassword) {
  ScratchDir dir;
  const std::string path = dir.Copy(GetParam());
  const std::string plain = FullDump(path, "");
  EncryptDatabase(path, kPassword);

  const HeaderInfo h = HeaderOf(path);
  EXPECT_NE(h.database_key, 0u);
  EXPECT_TRUE(h.office_encrypted);
  EXPECT_EQ(FullDump(path, kPassword), plain);
  EXPECT_EQ(std::filesystem::file_size(path), std::filesystem::file_size(DataPath(GetParam())));
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_P(EncryptCopy, WrongAndEmptyPasswordsAreRefused) {
  ScratchDir dir;
  const std::string path = dir.Copy(GetParam());
  EncryptDatabase(path, kPassword);
  for (const char* wrong : {"", "kestrel-7 Ümlaut", "Kestrel-7 Umlaut", "Kestrel-7"}) {
    try {
      Database::Open(path, OpenOptions{wrong, false});
      ADD_FAILURE() << "opened with '" << wrong << "'";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errnum::kWrongPassword) << wrong << ": " << e.what();
    }
  }
}

TEST_P(EncryptCopy, NoKnownTextIsLeftPlainInTheFile) {
  ScratchDir dir;
  const std::string path = dir.Copy(GetParam());
  const std::vector<std::string> texts = KnownTexts(path);
  // Catalogue names alone give dozens; too few would make this test empty.
  ASSERT_GE(texts.size(), 20u);
  EncryptDatabase(path, kPassword);
  const std::string file = ReadFile(path);
  for (const std::string& s : texts) EXPECT_FALSE(HoldsPlain(file, s)) << s;
}

TEST_P(EncryptCopy, MdbReaderReadsItLikeThePlainFile) {
  if (!HaveMdbReader()) GTEST_SKIP() << "mdb-reader is not installed in tests/oracle";
  ScratchDir dir;
  const std::string path = dir.Copy(GetParam());
  std::vector<std::string> tables;
  {
    auto db = Database::Open(path, OpenOptions{"", false});
    tables = db->UserTables();
  }
  ASSERT_FALSE(tables.empty());
  std::vector<std::string> plain;
  for (const std::string& t : tables) {
    int status = -1;
    plain.push_back(OracleDump(path, t, "", &status));
    ASSERT_EQ(status, 0) << plain.back();
  }
  EncryptDatabase(path, kPassword);
  for (size_t i = 0; i < tables.size(); ++i) {
    int status = -1;
    EXPECT_EQ(OracleDump(path, tables[i], kPassword, &status), plain[i]) << tables[i];
    EXPECT_EQ(status, 0);
  }
  int status = 0;
  OracleDump(path, tables[0], "wrong", &status);
  EXPECT_NE(status, 0) << "mdb-reader accepted a wrong password";
}

INSTANTIATE_TEST_SUITE_P(Files, EncryptCopy,
                         ::testing::Values("generated/people_V2007_300.accdb",
                                           "mdb-reader/bigint.accdb"),
                         [](const auto& info) { return std::to_string(info.index); });

// ---------------------------------------------------------------------------
// The header

TEST(EncryptHeader, HasTheShapeOfTheHeadersAccessWrites) {
  ScratchDir dir;
  const std::string access = DataPath("mdb-reader/office-agile-4.4.accdb");
  const std::string path = dir.Copy("generated/people_V2007_300.accdb");
  const std::vector<uint8_t> before = UnmaskedHeader(path);
  EncryptDatabase(path, kPassword);

  // Same elements, same attributes in the same order.
  const auto ours = DescriptorTags(path);
  const auto theirs = DescriptorTags(access);
  ASSERT_EQ(ours.size(), theirs.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(ours[i].name, theirs[i].name);
    ASSERT_EQ(ours[i].attributes.size(), theirs[i].attributes.size()) << ours[i].name;
    for (size_t k = 0; k < ours[i].attributes.size(); ++k) {
      const auto& [key, value] = ours[i].attributes[k];
      EXPECT_EQ(key, theirs[i].attributes[k].first);
      // Everything but the random values is the same text; those have the
      // same sizes.
      const bool random = key == "saltValue" || key.starts_with("encrypted");
      if (random) {
        EXPECT_EQ(value.size(), theirs[i].attributes[k].second.size()) << key;
      } else {
        EXPECT_EQ(value, theirs[i].attributes[k].second) << key;
      }
    }
  }
  for (const auto& t : ours) EXPECT_NE(t.LocalName(), "dataIntegrity");

  // The password field holds the low byte of the database key under the
  // creation-date mask, in Access's file as in ours.
  for (const std::string& file : {access, path}) {
    const HeaderInfo h = HeaderOf(file);
    const std::vector<uint8_t> page = UnmaskedHeader(file);
    const uint32_t mask = static_cast<uint32_t>(static_cast<int32_t>(h.creation_date));
    for (size_t i = 0; i < 40; ++i) {
      EXPECT_EQ(page[0x42 + i] ^ static_cast<uint8_t>(mask >> (8 * (i % 4))), h.database_key & 0xFF)
          << file << " byte " << i;
    }
  }

  // Nothing else of page 0 changed.
  const std::vector<uint8_t> after = UnmaskedHeader(path);
  const size_t descriptor_end = 0x29B + (after[0x299] | (after[0x29A] << 8));
  for (size_t i = 0; i < 4096; ++i) {
    const bool expected_change = (i >= 0x3E && i < 0x6A) || (i >= 0x299 && i < descriptor_end);
    if (!expected_change) {
      EXPECT_EQ(before[i], after[i]) << "offset " << i;
    }
  }
}

TEST(EncryptHeader, EveryEncryptionDrawsNewKeysAndSalts) {
  ScratchDir dir;
  const std::string a = dir.Copy("mdb-reader/bigint.accdb");
  const std::string b = dir.path().string() + "/second.accdb";
  std::filesystem::copy_file(a, b);
  EncryptDatabase(a, kPassword);
  EncryptDatabase(b, kPassword);
  EXPECT_NE(HeaderOf(a).database_key, HeaderOf(b).database_key);
  const auto ta = DescriptorTags(a), tb = DescriptorTags(b);
  for (const char* element : {"keyData", "encryptedKey"}) {
    ASSERT_NE(Attr(ta, element, "saltValue"), nullptr);
    ASSERT_NE(Attr(tb, element, "saltValue"), nullptr);
    EXPECT_NE(*Attr(ta, element, "saltValue"), *Attr(tb, element, "saltValue")) << element;
  }
  EXPECT_NE(*Attr(ta, "encryptedKey", "encryptedKeyValue"),
            *Attr(tb, "encryptedKey", "encryptedKeyValue"));
  // Same plain pages, different keys: no encrypted page is the same.
  const std::string fa = ReadFile(a), fb = ReadFile(b);
  for (size_t p = 1; p < fa.size() / 4096; ++p) {
    EXPECT_NE(fa.compare(p * 4096, 4096, fb, p * 4096, 4096), 0) << "page " << p;
  }
}

// ---------------------------------------------------------------------------
// Refusals and failures leave the file as it was

void ExpectRefused(const std::string& path, const std::string& password, const std::string& why) {
  const std::string before = ReadFile(path);
  try {
    EncryptDatabase(path, password);
    ADD_FAILURE() << "encrypted " << path;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
  }
  EXPECT_TRUE(ReadFile(path) == before) << path << " changed";
}

TEST(EncryptRefusals, MdbFilesEncryptedFilesAndEmptyPasswords) {
  ScratchDir dir;
  ExpectRefused(dir.Copy("generated/people_V2000_200.mdb"), kPassword, "Jet4");
  ExpectRefused(dir.Copy("jackcess/testV1997.mdb"), kPassword, "Jet3");
  ExpectRefused(dir.Copy("jackcess-encrypt/db-enc.mdb"), kPassword, ".mdb");
  ExpectRefused(dir.Copy("mdb-reader/office-agile-4.4.accdb"), kPassword, "already encrypted");
  const std::string path = dir.Copy("mdb-reader/bigint.accdb");
  ExpectRefused(path, "", "empty password");
  EncryptDatabase(path, kPassword);
  ExpectRefused(path, "another", "already encrypted");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            5);
}

TEST(EncryptRefusals, FailedWritesLeaveThePlainFileAndNoCopy) {
  ScratchDir dir;
  const std::string path = dir.Copy("generated/people_V2007_300.accdb");
  const std::string before = ReadFile(path);
  for (int nth : {1, 2, 3}) {  // page 0, then each run of 64 pages
    FaultFileSystem fs;
    fs.FailWrite(nth);
    EXPECT_THROW(EncryptDatabase(path, kPassword, fs), Error) << nth;
    EXPECT_TRUE(ReadFile(path) == before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST(EncryptCli, EncryptsAndDumpsLikeThePlainFile) {
  ScratchDir dir;
  const std::string path = dir.Copy("generated/people_V2007_300.accdb");
  const std::string cli = TESSALY_CLI;
  int status = -1;
  const std::string plain = Capture("'" + cli + "' dump '" + path + "' People", &status);
  ASSERT_EQ(status, 0);
  Capture("'" + cli + "' encrypt '" + path + "' 2>&1", &status);
  EXPECT_EQ(status, 2) << "a password is required";
  Capture("'" + cli + "' encrypt '" + path + "' --password 'Kestrel 7'", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Capture("'" + cli + "' dump '" + path + "' People --password 'Kestrel 7'", &status),
            plain);
  EXPECT_EQ(status, 0);
  const std::string again =
      Capture("'" + cli + "' encrypt '" + path + "' --password 'Kestrel 7' 2>&1", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(again.find("already encrypted"), std::string::npos) << again;
}

// ---------------------------------------------------------------------------
// Writes to an encrypted file: a merge-like workload

constexpr const char* kMergeTable = "People";

// Marked values of every length class of a memo: inline, one long-value
// page, several.
std::string MarkedValue(const std::string& marker, uint32_t row) {
  static const size_t sizes[] = {0, 40, 3000, 9000};
  std::string v = marker + "#" + std::to_string(row) + " ";
  for (size_t n = sizes[row % 4]; v.size() < n + marker.size();) v += marker + " ";
  return v;
}

void WriteMarked(Database& db, const std::string& marker) {
  auto t = db.Table(kMergeTable);
  const Column* m = t->FindColumn("Merged");
  ASSERT_NE(m, nullptr);
  std::vector<RowId> ids;
  {
    TableScan scan(db, t);
    while (scan.Next()) ids.push_back(scan.id());
  }
  ASSERT_FALSE(ids.empty());
  for (RowId id : ids) db.UpdateRow(*t, id, {{m, Value::Text(MarkedValue(marker, id.Packed()))}});
}

struct MergeOutcome {
  std::string file_after_commit;
  std::string journal;  // left by a commit cut short
  std::string file_after_crash;
};

// Adds a memo column, writes marker 1 to every row and commits; then a child
// process writes marker 2 and is stopped three pages into its commit, which
// leaves the journal (holding the marker-1 pages) on disk.
MergeOutcome RunMerge(const std::string& path, const std::string& password) {
  MergeOutcome out;
  {
    auto db = Database::Open(path, OpenOptions{password, true});
    db->AddColumn(kMergeTable, "Merged", ColumnType::kMemo);
    WriteMarked(*db, "Wombat-Quill-One");
    db->Commit();
  }
  out.file_after_commit = ReadFile(path);
  const pid_t pid = fork();
  if (pid == 0) {
    // The child must never return into the test runner.
    try {
      FaultFileSystem fs;
      auto db = Database::Open(path, OpenOptions{password, true, &fs});
      WriteMarked(*db, "Wombat-Quill-Two");
      fs.OnlyFilesEndingWith(".accdb");
      fs.StopAfterWrite(3, [] { _exit(99); });
      db->Commit();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << "the commit was not cut short";
  const std::string journal = Pager::JournalPath(path);
  EXPECT_TRUE(std::filesystem::exists(journal));
  if (std::filesystem::exists(journal)) out.journal = ReadFile(journal);
  out.file_after_crash = ReadFile(path);
  return out;
}

TEST(EncryptedWrites, MergedTextNeverLandsPlainInTheFileOrTheJournal) {
  ScratchDir plain_dir, enc_dir;
  const std::string plain = plain_dir.Copy("generated/people_V2007_300.accdb");
  const std::string enc = enc_dir.Copy("generated/people_V2007_300.accdb");
  EncryptDatabase(enc, kPassword);

  // On the plain copy the markers are there to be found, in both places.
  const MergeOutcome p = RunMerge(plain, "");
  ASSERT_TRUE(HoldsPlain(p.file_after_commit, "Wombat-Quill-One"));
  ASSERT_TRUE(HoldsPlain(p.journal, "Wombat-Quill-One"));
  ASSERT_TRUE(HoldsPlain(p.file_after_crash, "Wombat-Quill-Two"));

  const MergeOutcome e = RunMerge(enc, kPassword);
  ASSERT_GT(e.journal.size(), 4096u);
  for (const char* marker : {"Wombat-Quill", "Wombat-Quill-One", "Wombat-Quill-Two"}) {
    EXPECT_FALSE(HoldsPlain(e.file_after_commit, marker)) << marker;
    EXPECT_FALSE(HoldsPlain(e.journal, marker)) << marker;
    EXPECT_FALSE(HoldsPlain(e.file_after_crash, marker)) << marker;
  }

  // Opening rolls the cut commit back: both copies read the same again, and
  // the encrypted one only with its password.
  EXPECT_EQ(FullDump(enc, kPassword), FullDump(plain, ""));
  EXPECT_FALSE(std::filesystem::exists(Pager::JournalPath(enc)));
  EXPECT_NE(FullDump(enc, kPassword).find("Wombat-Quill-One#"), std::string::npos);
  EXPECT_THROW(Database::Open(enc, OpenOptions{"wrong", false}), Error);

  if (HaveMdbReader()) {
    int status = -1;
    const std::string want = OracleDump(plain, kMergeTable, "", &status);
    ASSERT_EQ(status, 0) << want;
    EXPECT_EQ(OracleDump(enc, kMergeTable, kPassword, &status), want);
    EXPECT_EQ(status, 0);
  }
}

}  // namespace
}  // namespace jet
