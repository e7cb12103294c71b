// Where the files that come with the program are found, and the user's own
// copy of the sample database.
#include "app/program_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

class ProgramFilesTest : public ::testing::Test {
 protected:
  ProgramFilesTest() {
    for (const std::string& f : {program_, user_, data_}) fs::create_directories(f);
  }
  void Put(const std::string& folder, const std::string& relative, const std::string& text) {
    fs::create_directories(fs::path(folder + "/" + relative).parent_path());
    WriteFile(folder + "/" + relative, text);
  }

  testing_support::ScratchDir scratch_;
  const std::string program_ = (scratch_.path() / "bin").string();
  const std::string user_ = (scratch_.path() / "home/share/Ombrisk/Tessaly Draviel").string();
  const std::string data_ = (scratch_.path() / "usr/share/tessaly-draviel").string();
  app::ProgramFiles files_{program_, user_, data_};
};

TEST_F(ProgramFilesTest, BesideTheProgramFirstThenTheUsersThenTheDataFolder) {
  Put(data_, "HAND-M.CUR", "installed");
  Put(data_, "x/o.cjs", "installed skin");
  Put(data_, "Samples/Sample.mdb", "installed sample");
  EXPECT_EQ(files_.Find("HAND-M.CUR"), data_ + "/HAND-M.CUR");
  EXPECT_EQ(files_.FolderHaving("x/o.cjs"), data_);
  EXPECT_EQ(files_.Find("Samples/"), data_ + "/Samples/");

  Put(user_, "x/o.cjs", "the user's skin");
  EXPECT_EQ(files_.FolderHaving("x/o.cjs"), user_);
  EXPECT_EQ(files_.Find("HAND-M.CUR"), data_ + "/HAND-M.CUR");

  Put(program_, "HAND-M.CUR", "beside");
  Put(program_, "x/o.cjs", "beside");
  EXPECT_EQ(files_.Find("HAND-M.CUR"), program_ + "/HAND-M.CUR");
  EXPECT_EQ(files_.FolderHaving("x/o.cjs"), program_);
  // A sample beside the program is copied for the user too.
  Put(program_, "Samples/Sample.mdb", "beside");
  EXPECT_EQ(files_.FindToChange("Samples/Sample.mdb"), user_ + "/Samples/Sample.mdb");
  EXPECT_EQ(ReadFile(user_ + "/Samples/Sample.mdb"), "beside");
}

TEST_F(ProgramFilesTest, AFileNoFolderHasIsNamedBesideTheProgram) {
  EXPECT_EQ(files_.Find("Samples/Sample.mdb"), program_ + "/Samples/Sample.mdb");
  EXPECT_EQ(files_.FolderHaving("x/o.cjs"), program_);
  EXPECT_EQ(files_.FindToChange("Samples/Sample.mdb"), program_ + "/Samples/Sample.mdb");
  EXPECT_FALSE(fs::exists(user_ + "/Samples"));
  // Without the other folders the program's is the only one searched.
  Put(data_, "HAND-M.CUR", "installed");
  app::ProgramFiles alone(program_);
  EXPECT_EQ(alone.Find("HAND-M.CUR"), program_ + "/HAND-M.CUR");
  EXPECT_EQ(alone.FindToChange("HAND-M.CUR"), program_ + "/HAND-M.CUR");
}

TEST_F(ProgramFilesTest, AnInstalledSampleIsCopiedForTheUserOnceAndTheCopyKept) {
  Put(data_, "Samples/Sample.mdb", "installed sample");
  fs::permissions(data_ + "/Samples/Sample.mdb",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string copy = user_ + "/Samples/Sample.mdb";
  EXPECT_EQ(files_.FindToChange("Samples/Sample.mdb"), copy);
  EXPECT_EQ(ReadFile(copy), "installed sample");
  EXPECT_TRUE((fs::status(copy).permissions() & fs::perms::owner_write) != fs::perms::none)
      << "the user's copy can be written";
  EXPECT_FALSE(fs::exists(copy + ".part"));
  // The samples folder offered to the user is now the copy's.
  EXPECT_EQ(files_.Find("Samples/"), user_ + "/Samples/");

  // A merge changed the copy: it stays as it is.
  WriteFile(copy, "merged");
  EXPECT_EQ(files_.FindToChange("Samples/Sample.mdb"), copy);
  EXPECT_EQ(ReadFile(copy), "merged");
  EXPECT_EQ(ReadFile(data_ + "/Samples/Sample.mdb"), "installed sample");
}

TEST_F(ProgramFilesTest, WhenNoCopyCanBeMadeTheInstalledSampleIsGiven) {
  Put(data_, "Samples/Sample.mdb", "installed sample");
  // The user's folder is a file, so nothing can be made under it.
  const std::string blocked = (scratch_.path() / "blocked").string();
  WriteFile(blocked, "");
  app::ProgramFiles files(program_, blocked, data_);
  EXPECT_EQ(files.FindToChange("Samples/Sample.mdb"), data_ + "/Samples/Sample.mdb");
  EXPECT_EQ(ReadFile(blocked), "");
}

}  // namespace
