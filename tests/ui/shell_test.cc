// The window side of the shell on its own, without the wizard: pages it
// knows only as ui::Page, the hand-over, events and the end of the program.
#include "app/qt/shell.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <stdexcept>

#include "app/qt/desktop.h"
#include "app/qt/page.h"
#include "app/settings_store.h"

namespace ui {
namespace {

class NoDesktop : public Desktop {
 public:
  void OpenUrl(const std::string&) override {}
  void OpenFolder(const std::string&) override {}
};

class NoFiles : public FileChooser {
 public:
  std::string ShowOpen(const OpenFileRequest&) override { return std::string(); }
};

class ShellTest : public ::testing::Test {
 protected:
  ShellTest()
      : shell_({messages_, settings_, desktop_, files_, "/opt/program", [this] { ++ended_; }, "",
                "/nonexistent/share/tessaly-draviel"}) {}

  app::RecordingMessageSink messages_;
  app::MemorySettingsStore settings_;
  NoDesktop desktop_;
  NoFiles files_;
  int ended_ = 0;
  Shell shell_;
};

TEST_F(ShellTest, MessagesCarryTheApplicationTitleAndFilesLieInTheProgramFolder) {
  EXPECT_EQ(shell_.application_title(), "Tessaly");
  shell_.Message("Done.");
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
  EXPECT_EQ(messages_.shown()[0].style, app::msgbox::kOkOnly);
  EXPECT_EQ(shell_.ProgramFile("HAND-M.CUR"), "/opt/program/HAND-M.CUR");
}

TEST_F(ShellTest, HandOverShowsTheTargetWhereTheFrontPageStoodAndHidesTheOther) {
  Page first(shell_, "First", 3000, 1500);
  Page second(shell_, "Second", 3000, 1500);
  EXPECT_EQ(&first.shell(), &shell_);
  EXPECT_EQ(shell_.front(), nullptr);
  shell_.ShowPage(first);
  first.move(40, 50);
  shell_.ShowPage(second);
  shell_.HidePage(first);
  EXPECT_EQ(shell_.front(), &second);
  EXPECT_TRUE(second.isVisible());
  EXPECT_FALSE(first.isVisible());
  EXPECT_EQ(second.pos(), first.pos());
}

TEST_F(ShellTest, TheEndHidesEveryPageItKnowsAndIsAnnouncedOnce) {
  Page first(shell_, "First", 3000, 1500);
  auto second = std::make_unique<Page>(shell_, "Second", 3000, 1500);
  Page third(shell_, "Third", 3000, 1500);
  shell_.ShowPage(first);
  shell_.ShowPage(*second);
  shell_.ShowPage(third);
  second.reset();  // a page that is gone is forgotten, front or not
  shell_.EndProgram();
  shell_.EndProgram();
  EXPECT_TRUE(shell_.ended());
  EXPECT_EQ(ended_, 1);
  EXPECT_FALSE(first.isVisible());
  EXPECT_FALSE(third.isVisible());
}

TEST_F(ShellTest, ClosingAPageEndsTheProgram) {
  Page page(shell_, "Page", 3000, 1500);
  shell_.ShowPage(page);
  page.close();
  EXPECT_TRUE(shell_.ended());
  EXPECT_EQ(ended_, 1);
}

TEST_F(ShellTest, ForgettingTheFrontPageLeavesNoFront) {
  {
    Page page(shell_, "Page", 3000, 1500);
    shell_.ShowPage(page);
    EXPECT_EQ(shell_.front(), &page);
  }
  EXPECT_EQ(shell_.front(), nullptr);
}

TEST_F(ShellTest, AnEndWhileEventsRunUnwindsTheHandlerQuietly) {
  int after = 0;
  shell_.RunEvent([&] {
    shell_.Yield();
    shell_.EndProgram();
    shell_.Yield();  // throws ProgramEnded, which RunEvent swallows
    ++after;
  });
  EXPECT_EQ(after, 0);
  EXPECT_TRUE(shell_.ended());
  int ran = 0;
  shell_.RunEvent([&] { ++ran; });
  EXPECT_EQ(ran, 0) << "no handler runs once the program has ended";
  EXPECT_THROW(shell_.Yield(), ProgramEnded);
}

TEST_F(ShellTest, OrdinaryFailuresOfAHandlerAreNotSwallowed) {
  EXPECT_THROW(shell_.RunEvent([] { throw std::runtime_error("bug"); }), std::runtime_error);
  EXPECT_FALSE(shell_.ended());
}

}  // namespace
}  // namespace ui
