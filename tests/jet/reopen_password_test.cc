// A database this process already has open is shared by later opens of the
// same file, but only after each of them passed the same password check a
// first open does: a wrong password is refused with the same error, a right
// one gets the shared object.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "jet/table/database.h"
#include "jet/crypto/encrypt.h"
#include "jet/storage/error.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

struct Outcome {
  int32_t number = 0;  // 0: opened
  std::string description;
};

Outcome TryOpen(const std::string& path, const std::string& password, bool writable,
                std::shared_ptr<Database>* opened = nullptr) {
  try {
    auto db = Database::Open(path, OpenOptions{password, writable});
    if (opened) *opened = db;
    return {};
  } catch (const Error& e) {
    return {e.number(), e.description()};
  }
}

struct Protected {
  const char* label;
  const char* fixture;  // below tests/data; empty: a copy of `plain` we encrypt
  const char* plain;
  const char* password;
};

void PrintTo(const Protected& p, std::ostream* os) { *os << p.label; }

class ReopenPassword : public testing::TestWithParam<Protected> {
 protected:
  std::string Prepare(ScratchDir& dir) {
    const Protected& p = GetParam();
    if (*p.fixture) return dir.Copy(p.fixture);
    std::string path = dir.Copy(p.plain);
    EncryptDatabase(path, p.password);
    return path;
  }
};

TEST_P(ReopenPassword, WrongPasswordsAreRefusedWhileTheFileIsOpen) {
  ScratchDir dir;
  const std::string path = Prepare(dir);
  const std::string right = GetParam().password;
  const std::vector<std::string> wrong = {"", "Password", right + "x", "wrong"};

  // What a first open answers, with nothing open.
  std::vector<Outcome> first;
  for (const std::string& w : wrong) {
    first.push_back(TryOpen(path, w, false));
    ASSERT_EQ(first.back().number, errnum::kWrongPassword) << w << ": " << first.back().description;
  }

  std::shared_ptr<Database> held;
  ASSERT_EQ(TryOpen(path, right, false, &held).number, 0);
  ASSERT_FALSE(held->UserTables().empty());
  for (size_t i = 0; i < wrong.size(); ++i) {
    for (bool writable : {false, true}) {
      Outcome again = TryOpen(path, wrong[i], writable);
      EXPECT_EQ(again.number, first[i].number) << "'" << wrong[i] << "' writable " << writable;
      EXPECT_EQ(again.description, first[i].description) << "'" << wrong[i] << "'";
    }
  }
  // A refused open changes nothing about the shared object.
  EXPECT_FALSE(held->writable());

  // The right password still shares the open object, also for writing.
  std::shared_ptr<Database> second;
  ASSERT_EQ(TryOpen(path, right, false, &second).number, 0);
  EXPECT_EQ(second.get(), held.get());
  std::shared_ptr<Database> writer;
  ASSERT_EQ(TryOpen(path, right, true, &writer).number, 0);
  EXPECT_EQ(writer.get(), held.get());
  EXPECT_TRUE(held->writable());
  // Refusals after a right reopen stay refusals.
  EXPECT_EQ(TryOpen(path, wrong[0], false).number, errnum::kWrongPassword);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReopenPassword,
    testing::Values(Protected{"OfficeAgile", "mdb-reader/office-agile-4.4.accdb", "", "password"},
                    Protected{"EncryptedHere", "", "generated/people_V2007_300.accdb",
                              "Kestrel-7 \xC3\x9Cmlaut"},
                    Protected{"Jet4Password", "mdb-reader/V2000_with-password.mdb", "",
                              "password"}),
    [](const testing::TestParamInfo<Protected>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace jet
