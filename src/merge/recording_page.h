// Test double of the merge page: plain fields for its inputs and a log of
// every change the run makes to it, in order, one line each:
//
//   "lock 1"                 inputs locked (1) or unlocked (0)
//   "pointer 11"             mouse pointer
//   "progress.max 4"         progress bar maximum
//   "progress.value 0"       progress bar value
//   "progress.text Progress Bar"
//   "caption Exit"           button caption
//   "window 0"               window state
//   "results 200x9"          results grid: rows x columns, or "results none"
//   "merge_done 1"
//   "message Done."          a message box (the answer is scripted on `messages`)
//   "events"                 the run let pending events run
//   "end"                    the program was asked to end
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/message_sink.h"
#include "merge/merge_page.h"

namespace merge {

class RecordingMergePage : public MergePage {
 public:
  RecordingMergePage();

  // Inputs; tests set them directly.
  std::string table;
  std::string field_list;
  std::string connection_string;
  std::string name = kDefaultResultName;
  int space_option = 0;
  std::string caption = kStartCaption;
  int window_state = kWindowNormal;
  int pointer = kPointerDefault;

  // What the run left on the page.
  int progress_max = 100;
  int progress_value = 0;
  std::string progress_text = kProgressText;
  std::shared_ptr<db::RowSource> results;
  bool merge_done = false;
  bool inputs_locked = false;
  bool ended = false;

  std::vector<std::string> log;
  // Answers and records the message boxes (they are logged here too).
  app::RecordingMessageSink messages;
  // Runs inside every DoEvents: what the user does while the run works.
  std::function<void()> on_events;

  // The user types into the name box or clicks the option; ignored (and
  // logged as "ignored ...") while the inputs are locked.
  void TypeName(const std::string& text);
  void ClickSpaceOption();

  // The log lines that start with `prefix`.
  std::vector<std::string> Lines(const std::string& prefix) const;

  std::string TableName() const override { return table; }
  std::string MergeFieldList() const override { return field_list; }
  std::string ConnectionString() const override { return connection_string; }
  std::string NameText() const override { return name; }
  int SpaceOption() const override { return space_option; }
  void LockInputs(bool locked) override;
  void SetProgressMax(int max) override;
  void SetProgressValue(int value) override;
  void SetProgressText(const std::string& text) override;
  std::string ButtonCaption() const override { return caption; }
  void SetButtonCaption(const std::string& text) override;
  int MousePointer() const override { return pointer; }
  void SetMousePointer(int value) override;
  int WindowState() const override { return window_state; }
  void SetWindowState(int state) override;
  void SetResults(std::shared_ptr<db::RowSource> rows) override;
  void SetMergeDone(bool done) override;
  app::MessageSink& Messages() override { return sink_; }
  void DoEvents() override;
  void EndProgram() override;

 private:
  class LoggingSink : public app::MessageSink {
   public:
    explicit LoggingSink(RecordingMergePage& page) : page_(page) {}
    int Show(const std::string& text, const std::string& title, int style) override;

   private:
    RecordingMergePage& page_;
  };
  LoggingSink sink_;
};

}  // namespace merge
