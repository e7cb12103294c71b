// The programs' own command lines, as a user types them: --version, help for
// one command, and what an unknown option or command says.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

class CommandLineTest : public ::testing::Test {
 protected:
  // Runs `program args` through the shell, with no display of any kind: none
  // of this may need one.
  Outcome Start(const std::string& program, const std::string& args) {
    const std::string out = (scratch_.path() / "out.txt").string();
    const std::string err = (scratch_.path() / "err.txt").string();
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                testing_support::ShellQuote(program) + " " + args + " > " +
                                testing_support::ShellQuote(out) + " 2> " +
                                testing_support::ShellQuote(err);
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing_support::ReadFile(out),
            testing_support::ReadFile(err)};
  }
  Outcome Tessaly(const std::string& args) { return Start(TESSALY_CLI, args); }

  testing_support::ScratchDir scratch_;
};

const std::vector<std::string> kCommands = {"tables",  "columns", "dump",   "check",
                                            "encrypt", "create",  "import", "merge"};

TEST_F(CommandLineTest, VersionNamesTheProgramAndTheProjectVersion) {
  Outcome tool = Tessaly("--version");
  EXPECT_EQ(tool.code, 0) << tool.err;
  EXPECT_EQ(tool.out, "tessaly (Tessaly Draviel) " TESSALY_VERSION "\n");
  EXPECT_EQ(tool.err, "");
#ifdef TESSALY_WIZARD
  // The wizard answers without a display (there is none here).
  Outcome wizard = Start(TESSALY_WIZARD, "--version");
  EXPECT_EQ(wizard.code, 0) << wizard.err;
  EXPECT_EQ(wizard.out, "tessaly-draviel (Tessaly Draviel) " TESSALY_VERSION "\n");
  EXPECT_EQ(wizard.err, "");
  Outcome help = Start(TESSALY_WIZARD, "--help");
  EXPECT_EQ(help.code, 0) << help.err;
  EXPECT_NE(help.out.find("usage: tessaly-draviel [DATABASE]"), std::string::npos) << help.out;
  // Without either, no display means the plain message and status 1.
  Outcome none = Start(TESSALY_WIZARD, "");
  EXPECT_EQ(none.code, 1);
  EXPECT_NE(none.err.find("there is no display"), std::string::npos) << none.err;
#endif
}

TEST_F(CommandLineTest, HelpCommandAndCommandHelpGiveThatCommandsUsageAndOptions) {
  for (const std::string& command : kCommands) {
    SCOPED_TRACE(command);
    Outcome asked = Tessaly("help " + command);
    EXPECT_EQ(asked.code, 0) << asked.err;
    EXPECT_EQ(asked.out.rfind("usage: tessaly " + command + " ", 0), 0u) << asked.out;
    EXPECT_NE(asked.out.find("options:\n"), std::string::npos) << asked.out;
    // Only this command's usage, not the others'.
    for (const std::string& other : kCommands) {
      if (other != command) {
        EXPECT_EQ(asked.out.find("tessaly " + other + " "), std::string::npos) << other;
      }
    }
    // The same text after the command, wherever the option stands.
    EXPECT_EQ(Tessaly(command + " --help").out, asked.out);
    EXPECT_EQ(Tessaly(command + " some.mdb -h").out, asked.out);
  }
  EXPECT_NE(Tessaly("help merge").out.find("--field F"), std::string::npos);
  EXPECT_NE(Tessaly("help import").out.find("datetime"), std::string::npos);
  EXPECT_NE(Tessaly("help dump").out.find("--format csv|json"), std::string::npos);
}

TEST_F(CommandLineTest, EveryCommandWithAPasswordOffersWaysThatOthersCannotSee) {
  for (const std::string command :
       {"tables", "columns", "dump", "check", "encrypt", "import", "merge"}) {
    SCOPED_TRACE(command);
    const std::string help = Tessaly("help " + command).out;
    EXPECT_NE(help.find("--password PW"), std::string::npos) << help;
    EXPECT_NE(help.find("--password-file FILE"), std::string::npos) << help;
    EXPECT_NE(help.find("process list"), std::string::npos) << help;
    // The option is taken, not refused as unknown.
    EXPECT_NE(Tessaly(command + " --password-file").err.find("--password-file needs a value"),
              std::string::npos);
  }
  EXPECT_NE(Tessaly("help import").out.find("first 1000 records"), std::string::npos);
}

TEST_F(CommandLineTest, HelpAsAnOptionsValueIsTheValue) {
  // "--help" after --password is the password: the command runs and fails on
  // the missing file, it does not print its help.
  Outcome r = Tessaly("tables /nonexistent/x.mdb --password --help");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(r.out, "");
  Outcome merge = Tessaly("merge /nonexistent/x.mdb People --field --help");
  EXPECT_EQ(merge.code, 1) << merge.out;
  EXPECT_NE(merge.err.find("no such file"), std::string::npos) << merge.err;
}

TEST_F(CommandLineTest, UnknownOptionsAndCommandsNameThemselves) {
  const std::string db =
      testing_support::ShellQuote(testing_support::DataPath("generated/people_V2000_200.mdb"));
  for (const std::string& args :
       {"tables " + db + " --frob", "dump " + db + " People --frob",
        std::string("create x.mdb --frob"), "merge " + db + " People --field First --frob"}) {
    SCOPED_TRACE(args);
    Outcome r = Tessaly(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tessaly: unknown option '--frob'\n"), std::string::npos) << r.err;
    // The usage of the command that was meant follows.
    const std::string command = args.substr(0, args.find(' '));
    EXPECT_NE(r.err.find("usage:\n  tessaly " + command + " "), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists("x.mdb")) << "a bad command line creates nothing";

  Outcome unknown = Tessaly("frobnicate");
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
  Outcome help_unknown = Tessaly("help frobnicate");
  EXPECT_EQ(help_unknown.code, 2);
  EXPECT_NE(help_unknown.err.find("unknown command 'frobnicate'"), std::string::npos);
  Outcome overall = Tessaly("help");
  EXPECT_EQ(overall.code, 0);
  for (const std::string& command : kCommands) {
    EXPECT_NE(overall.out.find("  tessaly " + command + " "), std::string::npos) << command;
  }
}

}  // namespace
