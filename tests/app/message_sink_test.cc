#include "app/message_sink.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/settings_store.h"

namespace app {
namespace {

TEST(RecordingMessageSink, AnswersFromTheScriptInOrder) {
  RecordingMessageSink sink;
  sink.Answer(msgbox::kNo);
  sink.Answer(msgbox::kYes);
  EXPECT_EQ(sink.Show("Replace?", "T", msgbox::kYesNo + msgbox::kQuestion), msgbox::kNo);
  EXPECT_EQ(sink.Show("Really?", "T", msgbox::kYesNo), msgbox::kYes);
  ASSERT_EQ(sink.shown().size(), 2u);
  EXPECT_EQ(sink.shown()[0].text, "Replace?");
  EXPECT_EQ(sink.shown()[0].style, 36);
  EXPECT_EQ(sink.unused_answers(), 0u);
}

TEST(RecordingMessageSink, UnscriptedAnswerIsTheDefaultButton) {
  RecordingMessageSink sink;
  EXPECT_EQ(sink.Show("Done.", "T", msgbox::kOkOnly + msgbox::kInformation), 1);
  EXPECT_EQ(sink.Show("Go?", "T", msgbox::kYesNo), 6);
  EXPECT_EQ(sink.Show("Go?", "T", msgbox::kYesNo + msgbox::kDefaultButton2), 7);
  EXPECT_EQ(sink.Show("Go?", "T", msgbox::kYesNoCancel + msgbox::kDefaultButton3), msgbox::kCancel);
  // No third button on a Yes/No box: Enter takes the first.
  EXPECT_EQ(sink.Show("Go?", "T", msgbox::kYesNo + msgbox::kDefaultButton3), msgbox::kYes);
}

TEST(RecordingMessageSink, ScriptedAnswerMustBeAButtonOfTheBox) {
  RecordingMessageSink sink;
  sink.Answer(msgbox::kYes);
  EXPECT_THROW(sink.Show("Done.", "T", msgbox::kOkOnly), std::logic_error);
}

TEST(MessageStyle, SplitsIntoButtonsIconAndDefault) {
  int style = msgbox::kYesNoCancel + msgbox::kExclamation + msgbox::kDefaultButton2;
  EXPECT_EQ(msgbox::ButtonSet(style), msgbox::kYesNoCancel);
  EXPECT_EQ(msgbox::Icon(style), msgbox::kExclamation);
  EXPECT_EQ(msgbox::DefaultButtonIndex(style), 1);
}

TEST(MemorySettingsStore, KeepsValuesApartByApplicationSectionAndKey) {
  MemorySettingsStore store;
  EXPECT_EQ(store.Get("Ombrisk", "Start", "LastFile", "none"), "none");
  store.Set("Ombrisk", "Start", "LastFile", "/data/a.mdb");
  store.Set("Ombrisk", "Fields", "LastFile", "/data/b.mdb");
  store.Set("Ombrisk", "Start", "LastFile", "/data/c.mdb");
  EXPECT_EQ(store.Get("Ombrisk", "Start", "LastFile", ""), "/data/c.mdb");
  EXPECT_EQ(store.Get("Ombrisk", "Fields", "LastFile", ""), "/data/b.mdb");
  EXPECT_EQ(store.Get("Other", "Start", "LastFile", "none"), "none");
  EXPECT_EQ(store.Get("Ombrisk", "Start", "lastfile", "none"), "none");
  // A stored empty value is a value, not a missing one.
  store.Set("Ombrisk", "Start", "Password", "");
  EXPECT_EQ(store.Get("Ombrisk", "Start", "Password", "x"), "");
}

}  // namespace
}  // namespace app
