// The window side of the application shell: the services pages use (message
// boxes, settings, desktop, file dialog, the program's folder), the
// application title, the page hand-over, letting pending events run, and the
// end of the program. It knows pages only as ui::Page; which pages there are
// and how they follow each other is the business of the program built on it
// (the wizard, src/wizard/).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/message_sink.h"
#include "app/program_files.h"
#include "app/qt/desktop.h"
#include "app/settings_store.h"
#include "jet/storage/file_system.h"

namespace ui {

class Page;

// Unwinds a handler whose window was closed while it let pending events run.
// Deliberately not a std::exception: reporting handlers must not catch it.
struct ProgramEnded {};

struct Services {
  app::MessageSink& messages;
  app::SettingsStore& settings;
  Desktop& desktop;
  FileChooser& files;
  // The folder the program file is in; cursor, skin and samples are found there.
  std::string program_folder;
  // Called once when the program ends (window closed, "Exit", no database
  // layer). The application quits its event loop here; tests record it.
  std::function<void()> end_program;
  // Searched after the program's folder, in this order (app::ProgramFiles):
  // the user's own folder and the installed data folder. Empty for none.
  std::string user_folder = {};
  std::string data_folder = {};
  // The files the checks made before a change look at; null for the
  // operating system's. Tests give one that fails on cue.
  jet::FileSystem* file_system = nullptr;
};

// The user's own folder for the program's files: the product's folder
// under the vendor's in the user's data folder ($XDG_DATA_HOME, else
// ~/.local/share), such as ~/.local/share/Ombrisk/Tessaly Draviel. Empty
// when the system names no such folder.
std::string UserDataFolder();

class Shell {
 public:
  explicit Shell(Services services);
  virtual ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  app::MessageSink& messages() { return services_.messages; }
  app::SettingsStore& settings() { return services_.settings; }
  Desktop& desktop() { return services_.desktop; }
  jet::FileSystem& file_system() {
    return services_.file_system ? *services_.file_system : jet::FileSystem::Default();
  }
  FileChooser& files() { return services_.files; }
  const std::string& program_folder() const { return services_.program_folder; }
  // `relative` ("HAND-M.CUR", "Samples/Sample.mdb") where the program's files
  // are found: beside it, else the user's or the installed data folder.
  std::string ProgramFile(const std::string& relative) const;
  // The same for a file the user changes: the user's own copy, made the
  // first time (app::ProgramFiles::FindToChange).
  std::string ProgramFileToChange(const std::string& relative) const;
  // The folder that holds `relative` (the program's when none does).
  std::string ProgramFolderHaving(const std::string& relative) const;

  const std::string& application_title() const { return application_title_; }
  void SetApplicationTitle(std::string title) { application_title_ = std::move(title); }
  // A message box under the application title; returns the answer.
  int Message(const std::string& text, int style = app::msgbox::kOkOnly);

  // Page hand-over: show the target (not modal), then hide the page that
  // handed over. A page that is not showing yet opens with its top-left
  // corner where the front page has its own, or in the middle of the screen
  // when it is the first, and is kept on the screen (PlacePage).
  void ShowPage(Page& page);
  void HidePage(Page& page);
  // The page last shown, or null before the first.
  Page* front() const { return front_; }

  // Lets pending window events run. Throws ProgramEnded when one of them
  // ended the program.
  void Yield();

  // Runs an event handler unless the program has ended; swallows ProgramEnded.
  void RunEvent(const std::function<void()>& handler);

  // Ends the program: every page is hidden and end_program is called, once.
  // The pages, and the database objects their grids hold, are released when
  // their owner destroys them; a merge still under way is rolled back then.
  void EndProgram();
  bool ended() const { return ended_; }

 private:
  friend class Page;
  // Pages tell the shell of their making and their end, so that the end of
  // the program can hide them all.
  void Adopt(Page& page);
  void Forget(Page& page);
  void Place(Page& page);

  Services services_;
  app::ProgramFiles program_files_;
  std::string application_title_;
  bool ended_ = false;
  Page* front_ = nullptr;
  std::vector<Page*> pages_;  // in the order they were made
};

}  // namespace ui
