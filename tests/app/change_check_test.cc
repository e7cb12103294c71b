// The check the table page makes before a merge can change a file.
#include "app/change_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jet/storage/error.h"
#include "support/fault_file_system.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FaultFileSystem;

// Notes the files made, and refuses what a test names: reading the
// database, or making files in its folder.
class WatchedFiles : public FaultFileSystem {
 public:
  std::unique_ptr<jet::File> Open(const std::string& path, Mode mode) override {
    if (mode == Mode::kRead && unreadable) {
      throw jet::Error(jet::errnum::kGeneric,
                       "Cannot open the file '" + path + "': Permission denied");
    }
    if (mode == Mode::kReplace) {
      made.push_back(path);
      if (folder_read_only) {
        throw jet::Error(jet::errnum::kGeneric,
                         "Cannot create '" + path + "': Read-only file system");
      }
    }
    return FaultFileSystem::Open(path, mode);
  }
  bool unreadable = false;
  bool folder_read_only = false;
  std::vector<std::string> made;
};

class ChangeCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = scratch_.Copy("generated/people_V2000_200.mdb"); }
  // The folder holds the database and nothing else the check left.
  void ExpectNothingLeft() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(path_).parent_path())) {
      names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{fs::path(path_).filename().string()});
  }
  testing_support::ScratchDir scratch_;
  std::string path_;
  WatchedFiles files_;
};

TEST_F(ChangeCheckTest, AWritableFileInAWritableFolderPasses) {
  const std::string before = testing_support::ReadFile(path_);
  EXPECT_EQ(app::WhyUnchangeable(path_, files_), std::nullopt);
  ASSERT_EQ(files_.made.size(), 1u);
  EXPECT_EQ(fs::path(files_.made[0]).parent_path(), fs::path(path_).parent_path());
  EXPECT_EQ(testing_support::ReadFile(path_), before);
  ExpectNothingLeft();
  // The operating system's files give the same answer.
  EXPECT_EQ(app::WhyUnchangeable(path_), std::nullopt);
  ExpectNothingLeft();
}

TEST_F(ChangeCheckTest, EachReasonIsNamed) {
  struct Case {
    const char* what;
    void (*arrange)(WatchedFiles&);
    std::vector<std::string> says;
  };
  const std::vector<Case> cases = {
      {"unreadable",
       [](WatchedFiles& f) { f.unreadable = true; },
       {"cannot be read", "Permission denied"}},
      {"read-only", [](WatchedFiles& f) { f.ReadOnly(".mdb"); }, {"is read-only"}},
      {"folder",
       [](WatchedFiles& f) { f.folder_read_only = true; },
       {"cannot be written to", "journal", "Read-only file system"}},
      {"full at write",
       [](WatchedFiles& f) { f.FailWrite(1); },
       {"There is no room beside the database", "No space left on device"}},
      {"full at sync", [](WatchedFiles& f) { f.FailSync(1); }, {"There is no room"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WatchedFiles files;
    c.arrange(files);
    const std::optional<std::string> problem = app::WhyUnchangeable(path_, files);
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find(path_), std::string::npos) << *problem;
    for (const std::string& part : c.says) {
      EXPECT_NE(problem->find(part), std::string::npos) << *problem;
    }
    // An unreadable file is not called read-only.
    if (std::string(c.what) == "unreadable") {
      EXPECT_EQ(problem->find("read-only"), std::string::npos) << *problem;
    }
    ExpectNothingLeft();
  }
}

TEST_F(ChangeCheckTest, AReadOnlyFileWithALeftoverJournalSaysItIsStuckNotInUse) {
  testing_support::WriteFile(path_ + "-journal", "left by a change that was cut off");
  files_.ReadOnly(".mdb");
  const std::optional<std::string> problem = app::WhyUnchangeable(path_, files_);
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("is read-only"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("journal of an interrupted change"), std::string::npos) << *problem;
  EXPECT_EQ(problem->find("another program"), std::string::npos) << *problem;
  EXPECT_TRUE(fs::exists(path_ + "-journal")) << "the journal is left for the engine";
}

TEST_F(ChangeCheckTest, AMissingFileIsNamedAsMissing) {
  const std::optional<std::string> problem = app::WhyUnchangeable(path_ + ".gone", files_);
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("Could not find file"), std::string::npos) << *problem;
  EXPECT_TRUE(files_.made.empty());
}

TEST_F(ChangeCheckTest, ThroughALinkTheRealFilesFolderIsTried) {
  const fs::path other = scratch_.path() / "elsewhere";
  fs::create_directories(other);
  const std::string link = (other / "link.mdb").string();
  fs::create_symlink(path_, link);
  EXPECT_EQ(app::WhyUnchangeable(link, files_), std::nullopt);
  ASSERT_EQ(files_.made.size(), 1u);
  EXPECT_EQ(fs::path(files_.made[0]).parent_path(), fs::path(path_).parent_path());
}

}  // namespace
