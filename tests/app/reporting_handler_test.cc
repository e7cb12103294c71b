#include "app/reporting_handler.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "app/error_report.h"
#include "jet/storage/error.h"

namespace app {
namespace {

class ReportingHandlerTest : public ::testing::Test {
 protected:
  RecordingMessageSink sink_;
  ReportingHandler handler_{sink_, "Fields", "NextClicked"};
  std::vector<int> ran_;
};

TEST_F(ReportingHandlerTest, TwoFailingStepsGiveTwoReportsInOrderAndTheRestRuns) {
  handler_.Step(104, [&] { ran_.push_back(104); });
  handler_.Step(110, [&] { throw jet::Error(jet::errnum::kNoSuchTable, "No table."); });
  handler_.Step(106, [&] { ran_.push_back(106); });
  handler_.Step(102, [&] { throw std::out_of_range("Index out of range."); });
  handler_.Step(108, [&] { ran_.push_back(108); });

  EXPECT_EQ(ran_, (std::vector<int>{104, 106, 108}));
  ASSERT_EQ(sink_.shown().size(), 2u);
  EXPECT_EQ(sink_.shown()[0].text, ErrorReportMessage("No table.", "Fields", "NextClicked", 110));
  EXPECT_EQ(sink_.shown()[1].text,
            ErrorReportMessage("Index out of range.", "Fields", "NextClicked", 102));
  for (const auto& shown : sink_.shown()) {
    EXPECT_EQ(shown.title, "Application Error");
    EXPECT_EQ(shown.style, 48);
  }
  EXPECT_EQ(handler_.reported(), 2);
  EXPECT_FALSE(handler_.stopped());
}

TEST_F(ReportingHandlerTest, StepSaysWhetherItRanToTheEnd) {
  EXPECT_TRUE(handler_.Step(100, [] {}));
  EXPECT_FALSE(handler_.Step(102, [] { throw std::runtime_error("x"); }));
}

TEST_F(ReportingHandlerTest, FailingConditionCountsAsPassed) {
  if (handler_.Test(102, [&]() -> bool { throw std::runtime_error("Object required."); })) {
    handler_.Step(104, [&] { ran_.push_back(104); });
  }
  EXPECT_EQ(ran_, (std::vector<int>{104}));
  ASSERT_EQ(sink_.shown().size(), 1u);
  EXPECT_EQ(sink_.shown()[0].text,
            ErrorReportMessage("Object required.", "Fields", "NextClicked", 102));
}

TEST_F(ReportingHandlerTest, ConditionOutcomeIsPassedOn) {
  EXPECT_TRUE(handler_.Test(100, [] { return true; }));
  EXPECT_FALSE(handler_.Test(102, [] { return false; }));
  EXPECT_TRUE(sink_.shown().empty());
}

TEST_F(ReportingHandlerTest, ValueFallsBackWhenItsReadFails) {
  int last = handler_.Value(
      136, []() -> int { throw jet::Error(jet::errnum::kGeneric, "Closed."); },
      /*on_failure=*/0);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(handler_.Value(
                138, [] { return 7; }, -1),
            7);
  ASSERT_EQ(sink_.shown().size(), 1u);
  EXPECT_NE(sink_.shown()[0].text.find("at line 136"), std::string::npos);
}

TEST_F(ReportingHandlerTest, FilterSeesNumberAndDescription) {
  std::vector<ReportingHandler::Failure> seen;
  handler_.SetFilter([&](const ReportingHandler::Failure& f) {
    seen.push_back(f);
    return ReportingHandler::Verdict::kReport;
  });
  handler_.Step(100, [] { throw jet::Error(jet::errnum::kTypeMismatch, "Type mismatch."); });
  handler_.Step(102, [] { throw std::logic_error("plain"); });

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].label, 100);
  EXPECT_EQ(seen[0].number, -2147217913);
  EXPECT_EQ(seen[0].description, "Type mismatch.");
  EXPECT_EQ(seen[1].number, jet::errnum::kGeneric);
  EXPECT_EQ(seen[1].description, "plain");
  EXPECT_EQ(sink_.shown().size(), 2u);  // kReport still reports
}

// The merge run answers one error number with its own message and abandons
// the run; nothing after that may run or report.
TEST_F(ReportingHandlerTest, FilterCanStopTheWholeHandler) {
  handler_.SetFilter([&](const ReportingHandler::Failure& f) {
    if (f.number != jet::errnum::kTypeMismatch) return ReportingHandler::Verdict::kReport;
    sink_.Show("The field cannot hold these values.", "Merge", msgbox::kInformation);
    return ReportingHandler::Verdict::kStopHandler;
  });
  handler_.Step(100, [&] { ran_.push_back(100); });
  handler_.Step(102, [] { throw jet::Error(jet::errnum::kTypeMismatch, "Type mismatch."); });
  EXPECT_FALSE(handler_.Step(104, [&] { ran_.push_back(104); }));
  EXPECT_FALSE(handler_.Test(106, [&] {
    ran_.push_back(106);
    return true;
  }));
  EXPECT_EQ(handler_.Value(
                108,
                [&] {
                  ran_.push_back(108);
                  return 5;
                },
                -1),
            -1);

  EXPECT_TRUE(handler_.stopped());
  EXPECT_EQ(ran_, (std::vector<int>{100}));
  ASSERT_EQ(sink_.shown().size(), 1u);
  EXPECT_EQ(sink_.shown()[0].title, "Merge");
  EXPECT_EQ(handler_.reported(), 0);
}

TEST_F(ReportingHandlerTest, StopsAlsoWhenTheInterceptedFailureIsAConditionTest) {
  handler_.SetFilter(
      [](const ReportingHandler::Failure&) { return ReportingHandler::Verdict::kStopHandler; });
  // A stopped handler must not enter the guarded block, unlike a reported failure.
  EXPECT_FALSE(handler_.Test(102, []() -> bool { throw std::runtime_error("x"); }));
  EXPECT_TRUE(sink_.shown().empty());
}

TEST_F(ReportingHandlerTest, LoopWindsDownOnceStopped) {
  handler_.SetFilter([](const ReportingHandler::Failure& f) {
    return f.label == 120 ? ReportingHandler::Verdict::kStopHandler
                          : ReportingHandler::Verdict::kReport;
  });
  int rows = 0;
  while (handler_.Test(118, [&] { return rows < 100; })) {
    handler_.Step(120, [&] {
      if (++rows == 3) throw std::runtime_error("write failed");
    });
  }
  EXPECT_EQ(rows, 3);
}

TEST_F(ReportingHandlerTest, ReportAndStopShowsOneReportAndRunsNothingAfter) {
  handler_.SetFilter([](const ReportingHandler::Failure& f) {
    return f.label >= 200 ? ReportingHandler::Verdict::kReportAndStop
                          : ReportingHandler::Verdict::kReport;
  });
  handler_.Step(100, [] { throw std::runtime_error("page only"); });
  handler_.Step(102, [&] { ran_.push_back(102); });
  // The box is shown after the handler counts as stopped, so that a press
  // handled inside the box cannot run the rest.
  bool stopped_while_shown = false;
  sink_.OnShow([&] { stopped_while_shown = handler_.stopped(); });
  EXPECT_FALSE(handler_.Step(200, [] { throw jet::Error(jet::errnum::kGeneric, "Disk full."); }));
  EXPECT_FALSE(handler_.Step(202, [&] { ran_.push_back(202); }));
  EXPECT_FALSE(handler_.Test(204, [] { return true; }));

  EXPECT_TRUE(stopped_while_shown);
  EXPECT_TRUE(handler_.stopped());
  EXPECT_EQ(ran_, (std::vector<int>{102}));
  ASSERT_EQ(sink_.shown().size(), 2u);
  EXPECT_EQ(sink_.shown()[1].text, ErrorReportMessage("Disk full.", "Fields", "NextClicked", 200));
  EXPECT_EQ(handler_.reported(), 2);
}

TEST_F(ReportingHandlerTest, NonStandardExceptionsAreNotSwallowed) {
  EXPECT_THROW(handler_.Step(100, [] { throw 42; }), int);
  EXPECT_TRUE(sink_.shown().empty());
}

}  // namespace
}  // namespace app
