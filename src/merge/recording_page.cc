#include "merge/recording_page.h"

#include "db/ado.h"

namespace merge {

RecordingMergePage::RecordingMergePage() : sink_(*this) {}

void RecordingMergePage::TypeName(const std::string& text) {
  if (inputs_locked) {
    log.push_back("ignored name " + text);
    return;
  }
  name = text;
}

void RecordingMergePage::ClickSpaceOption() {
  if (inputs_locked) {
    log.push_back("ignored option");
    return;
  }
  space_option = space_option == 1 ? 0 : 1;
}

std::vector<std::string> RecordingMergePage::Lines(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const auto& line : log) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

void RecordingMergePage::LockInputs(bool locked) {
  inputs_locked = locked;
  log.push_back(std::string("lock ") + (locked ? "1" : "0"));
}

void RecordingMergePage::SetProgressMax(int max) {
  progress_max = max;
  log.push_back("progress.max " + std::to_string(max));
}

void RecordingMergePage::SetProgressValue(int value) {
  progress_value = value;
  log.push_back("progress.value " + std::to_string(value));
}

void RecordingMergePage::SetProgressText(const std::string& text) {
  progress_text = text;
  log.push_back("progress.text " + text);
}

void RecordingMergePage::SetButtonCaption(const std::string& text) {
  caption = text;
  log.push_back("caption " + text);
}

void RecordingMergePage::SetMousePointer(int value) {
  pointer = value;
  log.push_back("pointer " + std::to_string(value));
}

void RecordingMergePage::SetWindowState(int state) {
  window_state = state;
  log.push_back("window " + std::to_string(state));
}

void RecordingMergePage::SetResults(std::shared_ptr<db::RowSource> rows) {
  results = std::move(rows);
  log.push_back(results ? "results " + std::to_string(results->RowCount()) + "x" +
                              std::to_string(results->ColumnCount())
                        : std::string("results none"));
}

void RecordingMergePage::SetMergeDone(bool done) {
  merge_done = done;
  log.push_back(std::string("merge_done ") + (done ? "1" : "0"));
}

void RecordingMergePage::DoEvents() {
  log.push_back("events");
  if (on_events) on_events();
}

void RecordingMergePage::EndProgram() {
  ended = true;
  log.push_back("end");
}

int RecordingMergePage::LoggingSink::Show(const std::string& text, const std::string& title,
                                          int style) {
  page_.log.push_back("message " + text);
  return page_.messages.Show(text, title, style);
}

}  // namespace merge
