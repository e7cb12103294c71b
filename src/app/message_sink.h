// Every message box of the program goes through a MessageSink, so that the
// window-independent code can ask questions and tests can answer them.
//
// Styles and answers use the classic numeric values, which lets callers add
// them up (kYesNo + kQuestion) the way such message boxes are usually written.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace app {

namespace msgbox {
// Button sets (style & 7).
inline constexpr int kOkOnly = 0;
inline constexpr int kOkCancel = 1;
inline constexpr int kAbortRetryIgnore = 2;
inline constexpr int kYesNoCancel = 3;
inline constexpr int kYesNo = 4;
inline constexpr int kRetryCancel = 5;
// Icons (style & 0x70).
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kExclamation = 48;
inline constexpr int kInformation = 64;
// Which button Enter presses ((style >> 8) & 3), counted from the left.
inline constexpr int kDefaultButton1 = 0;
inline constexpr int kDefaultButton2 = 256;
inline constexpr int kDefaultButton3 = 512;

// Answers.
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kAbort = 3;
inline constexpr int kRetry = 4;
inline constexpr int kIgnore = 5;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;

inline int ButtonSet(int style) { return style & 7; }
inline int Icon(int style) { return style & 0x70; }
inline int DefaultButtonIndex(int style) { return (style >> 8) & 3; }
// The answers of a button set, left to right; empty for an unknown set.
std::vector<int> Answers(int button_set);
}  // namespace msgbox

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows `text` under `title` and waits; returns the answer of the button pressed.
  virtual int Show(const std::string& text, const std::string& title, int style) = 0;
};

// Test double: records every message and answers from a script. With nothing
// scripted it answers as if Enter were pressed (the default button). A
// scripted answer that is not one of the box's buttons throws
// std::logic_error: the test expected a different question than was asked.
class RecordingMessageSink : public MessageSink {
 public:
  struct Shown {
    std::string text;
    std::string title;
    int style;
  };

  int Show(const std::string& text, const std::string& title, int style) override;

  // Queues the answer to the next unanswered message.
  void Answer(int answer) { script_.push_back(answer); }
  const std::vector<Shown>& shown() const { return shown_; }
  size_t unused_answers() const { return script_.size(); }
  // Runs while a box is up, as the user's clicks elsewhere would during a
  // real modal box's event loop.
  void OnShow(std::function<void()> hook) { on_show_ = std::move(hook); }

 private:
  std::function<void()> on_show_;
  std::vector<Shown> shown_;
  std::deque<int> script_;
};

}  // namespace app
