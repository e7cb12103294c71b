// A wizard wired to fakes: recorded message boxes, a settings file in a
// scratch folder, a desktop and a file dialog that only take notes, and a
// program folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/list_view.h"
#include "app/message_sink.h"
#include "app/qt/desktop.h"
#include "app/qt/qt_settings_store.h"
#include "support/test_support.h"
#include "wizard/wizard.h"

class QWidget;
class QPoint;

namespace uitest {

class FakeDesktop : public ui::Desktop {
 public:
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void OpenFolder(const std::string& path) override { folders.push_back(path); }
  std::vector<std::string> urls;
  std::vector<std::string> folders;
};

class FakeFileChooser : public ui::FileChooser {
 public:
  std::string ShowOpen(const ui::OpenFileRequest& request) override;
  // The next dialog returns `path` (empty: cancelled).
  void Answer(std::string path) { answers_.push_back(std::move(path)); }
  std::vector<ui::OpenFileRequest> requests;

 private:
  std::deque<std::string> answers_;
};

// The texts of a list's entries, top to bottom.
std::vector<std::string> Items(const app::ListViewLike& list);

// Selects the entry called `name`; a test failure when there is none.
void SelectNamed(app::ListViewLike* list, const std::string& name);

// Sends a mouse move over the middle of `widget` (or `local` in it), as the
// window system does when the pointer passes; lists get it in their viewport.
void MoveMouseOver(QWidget* widget);
void MoveMouseOver(QWidget* widget, const QPoint& local);

// Writes a picture of `window` as it is now to build/screenshots/`file`,
// after the pending events have run.
void SaveScreenshot(QWidget& window, const char* file);

class WizardTest : public ::testing::Test {
 protected:
  WizardTest();
  ~WizardTest() override;

  // The wizard of the current run, created on first use.
  wizard::Wizard& wizard();
  // Ends the current run's wizard (as leaving main does), so that a fresh one
  // starts the next run with the same settings.
  void FinishRun();

  std::string ProgramFolder() const;
  void InstallHandCursor();
  void Remember(const std::string& path, const std::string& password);
  std::string Stored(const std::string& key) const;
  // A private copy of a database below tests/data.
  std::string CopyDatabase(const std::string& relative);

  // The texts of the message boxes shown so far.
  std::vector<std::string> MessageTexts() const;

  testing_support::ScratchDir scratch_;
  app::RecordingMessageSink messages_;
  std::unique_ptr<ui::QtSettingsStore> settings_;
  FakeDesktop desktop_;
  FakeFileChooser files_;
  int ended_ = 0;
  // Searched after the program folder when set before the run starts.
  std::string user_folder_;
  std::string data_folder_;
  // The files the table page's check looks at; null for the real ones.
  jet::FileSystem* file_system_ = nullptr;

 private:
  std::unique_ptr<wizard::Wizard> wizard_;
};

}  // namespace uitest
