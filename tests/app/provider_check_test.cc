// The provider check as the user meets it: the explanation, the question and
// the download pages, over the database layer's attempt (db::CheckProvider).
#include "app/provider_check.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "db/access.h"
#include "db/ado.h"
#include "db/db_test_helpers.h"

namespace {

using db_testing::ErrorOf;

class ScriptedUi : public app::MessageAsker {
 public:
  int AskYesNo(const std::string& text) override {
    asked.push_back(text);
    if (fail_ask) throw std::runtime_error("no message box");
    return answer;
  }
  void OpenUrl(const std::string& url) override {
    opened.push_back(url);
    if (fail_open) throw std::runtime_error("no browser");
  }
  int answer = 7;
  bool fail_ask = false;
  bool fail_open = false;
  std::vector<std::string> asked;
  std::vector<std::string> opened;
};

class ProviderAvailable : public ::testing::Test {
 protected:
  void TearDown() override { db::InjectConnectionCreationFailure(0, ""); }
  const std::string address_ = "help@example.test";
};

TEST_F(ProviderAvailable, TrueAndSilentWhenAConnectionCanBeMade) {
  ScriptedUi ui;
  EXPECT_TRUE(app::ProviderAvailable(ui, address_));
  EXPECT_TRUE(ui.asked.empty());
}

TEST_F(ProviderAvailable, MissingProviderExplainsAndOffersTheDownloads) {
  db::InjectConnectionCreationFailure(3706, "Provider cannot be found.");
  EXPECT_EQ(ErrorOf([] { db::Connection c; }), 3706);
  ScriptedUi ui;
  ui.answer = app::kAnswerYes;
  EXPECT_FALSE(app::ProviderAvailable(ui, address_));
  ASSERT_EQ(ui.asked.size(), 1u);
  EXPECT_EQ(ui.asked[0],
            "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\n"
            "You are getting this error because:\r\n\r\n"
            "1. Microsoft Access is not installed on your computer.\r\n\r\n"
            "2. A set of Microsoft components to transfer data is not installed on your "
            "computer.\r\n\r\n"
            "You need to download and install Microsoft Access Database Engine 2010 or 2016 to "
            "solve this problem.\r\n\r\n"
            "Would you like me to open the Microsoft site now so you can do this?\r\n\r\n"
            "(If you have any further questions please email a screenshot of this error message "
            "to help@example.test)");
  EXPECT_EQ(ui.opened, (std::vector<std::string>{
                           "https://www.microsoft.com/en-us/download/details.aspx?id=13255",
                           "https://www.microsoft.com/en-us/download/details.aspx?id=54920"}));
}

TEST_F(ProviderAvailable, NoOpensNothing) {
  db::InjectConnectionCreationFailure(3706, "whatever");
  ScriptedUi ui;
  ui.answer = 7;
  EXPECT_FALSE(app::ProviderAvailable(ui, address_));
  EXPECT_EQ(ui.asked.size(), 1u);
  EXPECT_TRUE(ui.opened.empty());
}

TEST_F(ProviderAvailable, RecognisesTheDescriptionInAnyCase) {
  db::InjectConnectionCreationFailure(-2147221005,
                                      "Class not registered: PROVIDER CANNOT BE FOUND");
  ScriptedUi ui;
  EXPECT_FALSE(app::ProviderAvailable(ui, address_));
  EXPECT_EQ(ui.asked.size(), 1u);
}

TEST_F(ProviderAvailable, OtherFailuresEndQuietly) {
  db::InjectConnectionCreationFailure(429, "ActiveX component can't create object");
  ScriptedUi ui;
  EXPECT_FALSE(app::ProviderAvailable(ui, address_));
  EXPECT_TRUE(ui.asked.empty());
  EXPECT_TRUE(ui.opened.empty());
}

TEST_F(ProviderAvailable, FailingMessageBoxOrBrowserIsAbsorbed) {
  db::InjectConnectionCreationFailure(3706, "x");
  ScriptedUi ui;
  ui.fail_ask = true;
  EXPECT_FALSE(app::ProviderAvailable(ui, address_));
  ScriptedUi yes;
  yes.answer = app::kAnswerYes;
  yes.fail_open = true;
  EXPECT_FALSE(app::ProviderAvailable(yes, address_));
  EXPECT_EQ(yes.opened.size(), 2u);
}

TEST_F(ProviderAvailable, TheDiagnosisNamesTheSupportAddressLast) {
  const std::string text = app::ProviderDiagnosis("someone@example.test");
  EXPECT_EQ(text.rfind("Error #3706: Provider cannot be found.", 0), 0u);
  const std::string end = "error message to someone@example.test)";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

}  // namespace
