// Passwords off the command line (a file, standard input, the environment,
// a prompt without echo on a terminal), never shown in a message; and
// `tessaly encrypt` on links, owners and modes, and the copy a killed run
// left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_util.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::Outcome;
using cli_test::Q;
using cli_test::Tessaly;
using testing_support::WriteFile;

constexpr char kSecret[] = "Sesame-42";

class Passwords : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = scratch_.Copy("generated/people_V2007_300.accdb");
    WriteFile(Dir() + "/pw.txt", std::string(kSecret) + "\r\nsecond line\n");
  }
  std::string Dir() const { return scratch_.path().string(); }
  // Encrypts the database with kSecret, given through a file.
  void Encrypt() {
    Outcome r = Tessaly(Dir(), "encrypt " + Q(db_) + " --password-file pw.txt");
    ASSERT_EQ(r.code, 0) << r.err;
  }
  // Runs under a terminal (script's pseudo-terminal), typing `typed` once
  // the program waits for it; returns what the terminal showed.
  std::string OnTerminal(const std::string& args, const std::string& typed) {
    const std::string command = std::string(TESSALY_CLI) + " " + args;
    return testing_support::Capture("cd " + Q(Dir()) + " && (sleep 1; printf '" + typed +
                                    "'; sleep 1) | script -qec " + Q(command) + " /dev/null 2>&1");
  }

  testing_support::ScratchDir scratch_;
  std::string db_;
};

TEST_F(Passwords, EverySourceOpensTheDatabaseAndNoneShowsInAMessage) {
  Encrypt();
  const std::string tables = "tables " + Q(db_);
  const struct {
    std::string args, env, shows;
  } ways[] = {
      {tables + " --password-file pw.txt", "", "People\n"},
      {tables + " --password-file - < pw.txt", "", "People\n"},
      {tables, std::string("TESSALY_PASSWORD=") + kSecret, "People\n"},
      {tables + " --password " + kSecret, "", "People\n"},
      {"dump " + Q(db_) + " People --password-file pw.txt --format csv", "", "1,\"Zo"},
      {"columns " + Q(db_) + " People --password-file pw.txt", "", "First\ttext\n"},
  };
  for (const auto& w : ways) {
    Outcome r = Tessaly(Dir(), w.args, w.env.empty() ? "" : "env " + w.env);
    EXPECT_EQ(r.code, 0) << w.args << "\n" << r.err;
    EXPECT_NE(r.out.find(w.shows), std::string::npos) << w.args << "\n" << r.out.substr(0, 200);
  }
  // Without one, and with no terminal to ask on, the wrong-password error.
  Outcome none = Tessaly(Dir(), tables);
  EXPECT_EQ(none.code, 1);
  EXPECT_NE(none.err.find("Not a valid password."), std::string::npos) << none.err;

  // Failures name no password, even where the command line put it in the
  // message (a table named like it).
  WriteFile(Dir() + "/wrong.txt", "Sesame-43\n");
  for (const std::string& args :
       {tables + " --password-file wrong.txt",
        "dump " + Q(db_) + " " + kSecret + " --password " + kSecret,
        "merge " + Q(db_) + " " + kSecret + " --field First --password-file pw.txt"}) {
    Outcome r = Tessaly(Dir(), args);
    EXPECT_EQ(r.code, 1) << args;
    EXPECT_EQ(cli_test::LineCount(r.err), 1) << r.err;
    EXPECT_EQ(r.err.find("Sesame-4"), std::string::npos) << args << "\n" << r.err;
  }
  // Two sources on one command line is a usage error; so is standard input
  // for both the CSV and the password.
  EXPECT_EQ(Tessaly(Dir(), tables + " --password x --password-file pw.txt").code, 2);
  EXPECT_EQ(Tessaly(Dir(), "import " + Q(db_) + " T - --password-file -").code, 2);
  // A password file that never ends a line is refused, not read forever.
  Outcome endless = Tessaly(Dir(), tables + " --password-file /dev/zero");
  EXPECT_EQ(endless.code, 1);
  EXPECT_NE(endless.err.find("NUL byte"), std::string::npos) << endless.err;
}

TEST_F(Passwords, ATerminalIsAskedWithoutEcho) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  Encrypt();
  const std::string shown = OnTerminal("tables " + Q(db_), std::string(kSecret) + "\\n");
  EXPECT_NE(shown.find("Password for '" + db_ + "': "), std::string::npos) << shown;
  EXPECT_NE(shown.find("People"), std::string::npos) << shown;
  EXPECT_EQ(shown.find(kSecret), std::string::npos) << "echoed: " << shown;

  // A new password is asked twice; two that differ encrypt nothing.
  const std::string other = Dir() + "/other.accdb";
  fs::copy_file(testing_support::DataPath("generated/people_V2007_300.accdb"), other);
  Outcome fresh = Tessaly(Dir(), "tables " + Q(other));
  ASSERT_EQ(fresh.code, 0) << fresh.err;
  const std::string differ = OnTerminal("encrypt " + Q(other), "abcd\\n");
  EXPECT_NE(differ.find("New password for"), std::string::npos) << differ;
  const std::string asked = OnTerminal("encrypt " + Q(other), "Open-Up\\nOpen-Up\\n");
  EXPECT_EQ(asked.find("Open-Up"), std::string::npos) << asked;
  EXPECT_NE(Tessaly(Dir(), "tables " + Q(other)).code, 0);
  EXPECT_EQ(Tessaly(Dir(), "tables " + Q(other) + " --password Open-Up").code, 0);
}

// Files in `dir` whose name holds the encryption's temporary infix.
std::vector<std::string> Copies(const fs::path& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.find(".encrypting-") != std::string::npos && name.find("notes") == std::string::npos &&
        name.find("backup") == std::string::npos) {
      found.push_back(e.path().filename().string());
    }
  }
  return found;
}

TEST_F(Passwords, EncryptFollowsALinkKeepsOwnerAndModeAndClearsLeftovers) {
  const fs::path real_dir = scratch_.path() / "real";
  fs::create_directory(real_dir);
  const fs::path real = real_dir / "x.accdb";
  fs::rename(db_, real);
  const fs::path link = scratch_.path() / "link.accdb";
  fs::create_symlink(real, link);
  // What a killed run leaves: a copy with mkstemp's six characters, begun
  // or not yet written, beside files of the user's that only look alike.
  WriteFile((real_dir / "x.accdb.encrypting-Ab12Cd").string(),
            testing_support::ReadFile(real.string()).substr(0, 8192));
  WriteFile((real_dir / "x.accdb.encrypting-Ef34Gh").string(), "");
  WriteFile((real_dir / "x.accdb.encrypting-notes.txt").string(), "keep me");
  WriteFile((real_dir / "x.accdb.encrypting-backup").string(), "mine, not a copy");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(real.c_str(), 1234, 2345), 0);
  }

  Outcome r = Tessaly(Dir(), "encrypt link.accdb --password-file pw.txt");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), real);
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 2345u);
  }
  EXPECT_EQ(Copies(real_dir), std::vector<std::string>{});
  EXPECT_EQ(Copies(scratch_.path()), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(real_dir / "x.accdb.encrypting-notes.txt"));
  EXPECT_TRUE(fs::exists(real_dir / "x.accdb.encrypting-backup"));
  // The real file is the encrypted one, through the link or not.
  EXPECT_EQ(Tessaly(Dir(), "tables " + Q(real.string())).code, 1);
  EXPECT_TRUE(cli_test::CheckClean(Dir(), real.string(), kSecret));
  EXPECT_TRUE(cli_test::CheckClean(Dir(), link.string(), kSecret));

  // A second run refuses (already encrypted) and still clears a leftover.
  WriteFile((real_dir / "x.accdb.encrypting-Zz99Yy").string(), "");
  Outcome again = Tessaly(Dir(), "encrypt " + Q(real.string()) + " --password-file pw.txt");
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("already encrypted"), std::string::npos) << again.err;
  EXPECT_EQ(Copies(real_dir), std::vector<std::string>{});
}

}  // namespace
