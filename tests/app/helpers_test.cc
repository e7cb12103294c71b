#include "app/helpers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace app {
namespace {

TEST(FileExists, EmptyPathIsFalse) { EXPECT_FALSE(FileExists("")); }

TEST(FileExists, MissingThingsAreFalse) {
  testing_support::ScratchDir dir;
  EXPECT_FALSE(FileExists((dir.path() / "absent.mdb").string()));
  EXPECT_FALSE(FileExists((dir.path() / "no-folder" / "absent.mdb").string()));
}

TEST(FileExists, ExistingFileIsTrue) {
  testing_support::ScratchDir dir;
  std::string path = (dir.path() / "present.mdb").string();
  testing_support::WriteFile(path, "");
  EXPECT_TRUE(FileExists(path));
}

// A folder has a modification time too; the pages refuse folders where they
// need a database, not this check.
TEST(FileExists, DirectoryIsTrue) {
  testing_support::ScratchDir dir;
  EXPECT_TRUE(FileExists(dir.path().string()));
}

TEST(FileExists, DanglingLinkIsFalse) {
  testing_support::ScratchDir dir;
  std::filesystem::path link = dir.path() / "link.mdb";
  std::filesystem::create_symlink(dir.path() / "gone.mdb", link);
  EXPECT_FALSE(FileExists(link.string()));
}

TEST(NullToDefault, NullBecomesTheEmptyValueOrTheFallback) {
  EXPECT_EQ(NullToDefault(std::optional<std::string>()), "");
  EXPECT_EQ(NullToDefault(std::optional<std::string>("Smith")), "Smith");
  EXPECT_EQ(NullToDefault(std::optional<int>(), -1), -1);
  EXPECT_EQ(NullToDefault(std::optional<int>(0), -1), 0);
}

}  // namespace
}  // namespace app
