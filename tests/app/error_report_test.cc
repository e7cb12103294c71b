#include "app/error_report.h"

#include <gtest/gtest.h>

#include "app/message_sink.h"
#include "app/product.h"

namespace app {
namespace {

// Support matches screenshots against this text, so the bytes matter: CR LF
// after the description, then two bare CRs before the request.
TEST(ErrorReportMessage, HasTheExactBytes) {
  EXPECT_EQ(ErrorReportMessage("Type mismatch.", "Fields", "NextClicked", 104),
            "Type mismatch.\r\nin Korvane2021/08/31.Fields.NextClicked at line 104\r\r"
            "Please email screenshot of this message to support@ombrisk.example");
}

TEST(ErrorReportMessage, EmptyDescriptionStartsWithTheLineBreak) {
  std::string text = ErrorReportMessage("", "Start", "Load", 100);
  EXPECT_EQ(text.substr(0, 4), "\r\nin");
  EXPECT_EQ(text,
            "\r\nin Korvane2021/08/31.Start.Load at line 100\r\r"
            "Please email screenshot of this message to support@ombrisk.example");
}

TEST(ErrorReportMessage, LabelIsPlainDecimal) {
  EXPECT_NE(ErrorReportMessage("x", "w", "h", 1000).find(" at line 1000\r\r"), std::string::npos);
  EXPECT_NE(ErrorReportMessage("x", "w", "h", -5).find(" at line -5\r\r"), std::string::npos);
}

TEST(ShowErrorReport, IsAnOkOnlyExclamationBoxTitledApplicationError) {
  RecordingMessageSink sink;
  ShowErrorReport(sink, "Boom", "Tables", "ListClicked", 102);
  ASSERT_EQ(sink.shown().size(), 1u);
  EXPECT_EQ(sink.shown()[0].title, "Application Error");
  EXPECT_EQ(sink.shown()[0].style, 48);
  EXPECT_EQ(sink.shown()[0].text, ErrorReportMessage("Boom", "Tables", "ListClicked", 102));
}

TEST(ApplicationTitle, ProductNameLosesItsLastWord) {
  EXPECT_EQ(ApplicationTitle(kProductName), "Tessaly");
}

TEST(ApplicationTitle, CutsOnceEvenWhenShort) {
  EXPECT_EQ(ApplicationTitle("A B C"), "A B");
  EXPECT_EQ(ApplicationTitle("Tessaly "), "Tessaly");  // the last blank is the trailing one
  EXPECT_EQ(ApplicationTitle(" Tessaly"), "");
}

TEST(ApplicationTitle, KeepsCuttingWhileLongerThanForty) {
  // 41 characters before the last word: one more cut is needed.
  std::string name = "aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd e ffff";
  EXPECT_EQ(ApplicationTitle(name), "aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd");
  // Exactly 40 after the first cut: stop there.
  std::string forty = std::string(40, 'x');
  EXPECT_EQ(ApplicationTitle(forty + " tail"), forty);
  EXPECT_EQ(ApplicationTitle("y " + forty + " tail"), "y");
}

TEST(ApplicationTitle, SearchesForAnExactBlankOnly) {
  EXPECT_EQ(ApplicationTitle("Tessaly\tDraviel Pro"), "Tessaly\tDraviel");
}

TEST(ApplicationTitle, WithoutABlankKeepsTheText) {
  EXPECT_EQ(ApplicationTitle("Tessaly"), "Tessaly");
  EXPECT_EQ(ApplicationTitle(""), "");
  std::string long_word(60, 'z');
  EXPECT_EQ(ApplicationTitle(long_word), long_word);
  // Cutting runs out of blanks while still too long: what is left stays.
  EXPECT_EQ(ApplicationTitle(long_word + " a b"), long_word);
}

TEST(ApplicationTitle, CountsCharactersNotBytes) {
  // 40 two-byte characters (80 bytes) are not longer than 40.
  std::string forty_chars;
  for (int i = 0; i < 40; ++i) forty_chars += "\xC3\xA9";  // é
  EXPECT_EQ(ApplicationTitle(forty_chars + " more words"), forty_chars);
}

}  // namespace
}  // namespace app
