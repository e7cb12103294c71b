// A journal belongs to one file: it lies beside the real file (links
// resolved), it is played back only onto the file it was made for, and any
// other journal is moved aside with the file left exactly as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "jet/storage/journal.h"
#include "jet/storage/pager.h"
#include "jet/table/check.h"
#include "jet/table/create.h"
#include "jet/table/database.h"
#include "support/fault_file_system.h"
#include "support/test_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing_support::Capture;
using testing_support::FaultFileSystem;
using testing_support::ReadFile;
using testing_support::ScratchDir;
using testing_support::ShellQuote;

constexpr const char* kTable = "People";

// Writes a memo into every row of `path` (opened as `open_as`, which may be
// a link) in a child process that is stopped three database pages into its
// commit: the file is torn and its journal is left beside it.
void CrashMidCommit(const std::string& open_as) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      FaultFileSystem files;
      auto db = Database::Open(open_as, OpenOptions{"", true, &files});
      db->AddColumn(kTable, "Merged", ColumnType::kMemo);
      auto t = db->Table(kTable);
      const Column* m = t->FindColumn("Merged");
      std::vector<RowId> ids;
      TableScan scan(*db, t);
      while (scan.Next()) ids.push_back(scan.id());
      for (RowId id : ids) db->UpdateRow(*t, id, {{m, Value::Text(std::string(300, 'x'))}});
      files.OnlyFilesEndingWith(".mdb");
      files.StopAfterWrite(3, [] { _exit(99); });
      db->Commit();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << "the commit was not cut short";
}

bool Sound(const std::string& path) {
  auto db = Database::Open(path, OpenOptions{});
  return CheckDatabase(*db).ok();
}

std::string Aside(const std::string& db_path) {
  return Pager::JournalPath(db_path) + ".not-for-this-database";
}

TEST(JournalIdentity, ItsOwnFileIsRestoredThroughALinkOrDirectly) {
  ScratchDir dir;
  const std::string real = dir.Copy("generated/people_V2000_200.mdb");
  const std::string before = ReadFile(real);
  const std::string link = (dir.path() / "link.mdb").string();
  fs::create_symlink(real, link);

  CrashMidCommit(link);
  // The journal lies beside the real file, and none beside the link.
  EXPECT_TRUE(fs::exists(real + "-journal"));
  EXPECT_FALSE(fs::exists(link + "-journal"));
  EXPECT_NE(ReadFile(real), before);  // torn

  // Opening the real path plays it back; the link then reads the same file.
  {
    auto db = Database::Open(real, OpenOptions{});
    EXPECT_TRUE(db->notice().empty());
  }
  EXPECT_EQ(ReadFile(real), before);
  EXPECT_FALSE(fs::exists(real + "-journal"));
  EXPECT_TRUE(Sound(link));

  // And through the link too.
  CrashMidCommit(link);
  { auto db = Database::Open(link, OpenOptions{}); }
  EXPECT_EQ(ReadFile(real), before);
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST(JournalIdentity, AJournalBesideAnUnrelatedFileIsMovedAsideUnapplied) {
  ScratchDir dir;
  const std::string crashed = dir.Copy("generated/people_V2000_200.mdb");
  CrashMidCommit(crashed);
  // Another database gets the journal under its own name.
  const std::string other = (dir.path() / "other.mdb").string();
  fs::copy_file(testing_support::DataPath("mdbtestdata/nwind.mdb"), other);
  const std::string other_before = ReadFile(other);
  fs::rename(crashed + "-journal", other + "-journal");

  // A read command: the file stays byte for byte, the journal goes aside once.
  int status = -1;
  const std::string out =
      Capture(std::string(TESSALY_CLI) + " tables " + ShellQuote(other) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(ReadFile(other), other_before);
  EXPECT_FALSE(fs::exists(other + "-journal"));
  EXPECT_TRUE(fs::exists(Aside(other)));
  EXPECT_NE(out.find("was not applied"), std::string::npos) << out;
  EXPECT_TRUE(Sound(other));
  // Told once: the next opening finds nothing.
  auto db = Database::Open(other, OpenOptions{});
  EXPECT_TRUE(db->notice().empty());
}

TEST(JournalIdentity, ANewFileOfTheSameNameNeverReceivesTheOldPages) {
  for (bool rename_away : {false, true}) {
    SCOPED_TRACE(rename_away ? "crashed file renamed away" : "crashed file removed");
    ScratchDir dir;
    const std::string path = dir.Copy("generated/people_V2000_200.mdb");
    CrashMidCommit(path);
    const std::string torn = ReadFile(path);
    const std::string moved = (dir.path() / "renamed.mdb").string();
    if (rename_away) {
      fs::rename(path, moved);
    } else {
      fs::remove(path);
    }
    CreateDatabase(path, FileFormat::kMdb2003);
    const std::string fresh = ReadFile(path);
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      EXPECT_FALSE(db->notice().empty());
      EXPECT_TRUE(db->UserTables().empty());
    }
    EXPECT_EQ(ReadFile(path), fresh);
    EXPECT_TRUE(fs::exists(Aside(path)));
    EXPECT_TRUE(Sound(path));
    // The renamed file has no journal beside it: it is left as it was.
    if (rename_away) {
      { auto db = Database::Open(moved, OpenOptions{}); }
      EXPECT_EQ(ReadFile(moved), torn);
    }
  }
}

TEST(JournalIdentity, AReadOnlyOpeningThatNeedsThePlayBackSaysSoAndChangesNothing) {
  ScratchDir dir;
  const std::string path = dir.Copy("generated/people_V2000_200.mdb");
  CrashMidCommit(path);
  const std::string torn = ReadFile(path);
  const std::string journal = ReadFile(path + "-journal");
  FaultFileSystem files;
  files.ReadOnly(".mdb");
  try {
    Database::Open(path, OpenOptions{"", false, &files});
    ADD_FAILURE() << "opened a half-written file";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("read-only"), std::string::npos) << what;
    EXPECT_EQ(what.find("another program"), std::string::npos) << what;
  }
  EXPECT_EQ(ReadFile(path), torn);
  EXPECT_EQ(ReadFile(path + "-journal"), journal);
}

TEST(JournalIdentity, TornOrForeignHeadersAreRecognised) {
  JournalHeader h;
  h.page_size = 4096;
  h.original_size = 4096 * 10;
  h.records = 3;
  h.complete = true;
  h.nonce = 42;
  h.start_page0 = 7;
  std::vector<uint8_t> bytes = h.Encode();
  JournalHeader back;
  ASSERT_TRUE(JournalHeader::Decode(bytes, back));
  EXPECT_EQ(back.nonce, 42u);
  EXPECT_EQ(back.records, 3u);
  for (size_t at : {size_t{0}, size_t{0x20}, size_t{0x30}, size_t{0x58}}) {
    std::vector<uint8_t> torn = bytes;
    torn[at] ^= 1;
    EXPECT_FALSE(JournalHeader::Decode(torn, back)) << at;
  }
  // A record checksum depends on the journal's nonce.
  std::vector<uint8_t> record(4 + 4096, 9);
  EXPECT_NE(RecordChecksum(1, record), RecordChecksum(2, record));
  // A torn record: any one byte changed, or the record cut short, shows.
  const uint32_t whole = RecordChecksum(1, record);
  for (size_t at : {size_t{0}, size_t{3}, size_t{4}, size_t{2047}, size_t{4096}, size_t{4099}}) {
    std::vector<uint8_t> torn = record;
    torn[at] ^= 0x10;
    EXPECT_NE(RecordChecksum(1, torn), whole) << at;
  }
  EXPECT_NE(RecordChecksum(1, std::span<const uint8_t>(record).first(4096)), whole);
}

}  // namespace
}  // namespace jet
