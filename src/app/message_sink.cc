#include "app/message_sink.h"

#include <algorithm>
#include <stdexcept>

namespace app {

std::vector<int> msgbox::Answers(int button_set) {
  switch (button_set) {
    case kOkOnly:
      return {kOk};
    case kOkCancel:
      return {kOk, kCancel};
    case kAbortRetryIgnore:
      return {kAbort, kRetry, kIgnore};
    case kYesNoCancel:
      return {kYes, kNo, kCancel};
    case kYesNo:
      return {kYes, kNo};
    case kRetryCancel:
      return {kRetry, kCancel};
    default:
      return {};
  }
}

int RecordingMessageSink::Show(const std::string& text, const std::string& title, int style) {
  shown_.push_back({text, title, style});
  if (on_show_) on_show_();
  std::vector<int> answers = msgbox::Answers(msgbox::ButtonSet(style));
  if (answers.empty()) throw std::logic_error("message box with unknown buttons: " + title);
  if (script_.empty()) {
    // A default button beyond the last one falls back to the first, as Enter would.
    size_t index = static_cast<size_t>(msgbox::DefaultButtonIndex(style));
    return index < answers.size() ? answers[index] : answers.front();
  }
  int answer = script_.front();
  script_.pop_front();
  if (std::find(answers.begin(), answers.end(), answer) == answers.end()) {
    throw std::logic_error("scripted answer " + std::to_string(answer) +
                           " is not a button of the message \"" + text + "\"");
  }
  return answer;
}

}  // namespace app
