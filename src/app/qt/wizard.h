// The wizard as a whole: the services the pages use (message boxes,
// settings, desktop, file dialog, the program's folder), the four pages
// created on first use and then only shown and hidden, the state they hand
// on to each other, and the end of the program.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/message_sink.h"
#include "app/qt/desktop.h"
#include "app/settings_store.h"
#include "pages/globals.h"

namespace pages {
class Form1;
class Form2;
class Form3;
class Form4;
}  // namespace pages

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
};

class Wizard {
 public:
  explicit Wizard(Services services);
  ~Wizard();
  Wizard(const Wizard&) = delete;
  Wizard& operator=(const Wizard&) = delete;

  // Loads the database page, which does the start-up work (and may move on
  // to the table page at once), then shows it unless another page is in
  // front. False when the program ended during start-up.
  bool Start();

  // The pages; the first use of each creates it and runs its load handler.
  pages::Form1& form1();
  pages::Form2& form2();
  pages::Form3& form3();
  pages::Form4& form4();
  // The page if it was created, else null; creates nothing.
  pages::Form1* loaded_form1() const { return form1_.get(); }
  pages::Form2* loaded_form2() const { return form2_.get(); }
  pages::Form3* loaded_form3() const { return form3_.get(); }
  pages::Form4* loaded_form4() const { return form4_.get(); }

  pages::Globals& globals() { return globals_; }

  // Built from the database page's path and password boxes as they are now.
  std::string ConnectionString();

  app::MessageSink& messages() { return services_.messages; }
  app::SettingsStore& settings() { return services_.settings; }
  Desktop& desktop() { return services_.desktop; }
  FileChooser& files() { return services_.files; }
  const std::string& program_folder() const { return services_.program_folder; }
  // `relative` inside the program's folder ("HAND-M.CUR", "Samples/Sample.mdb").
  std::string ProgramFile(const std::string& relative) const;

  const std::string& application_title() const { return application_title_; }
  void SetApplicationTitle(std::string title) { application_title_ = std::move(title); }
  // A message box under the application title; returns the answer.
  int Message(const std::string& text, int style = app::msgbox::kOkOnly);

  // Page hand-over: show the target (not modal, where the wizard stands now),
  // then hide the page that handed over.
  void ShowPage(Page& page);
  void HidePage(Page& page);

  // Lets pending window events run. Throws ProgramEnded when one of them
  // ended the program.
  void Yield();

  // Runs an event handler unless the program has ended; swallows ProgramEnded.
  void RunEvent(const std::function<void()>& handler);

  // Ends the program: every page is hidden and end_program is called, once.
  // The pages, and the database objects their grids hold, are released when
  // the wizard is destroyed, which commits what the merge wrote.
  void EndProgram();
  bool ended() const { return ended_; }

 private:
  template <typename Form>
  Form& Load(std::unique_ptr<Form>& slot);

  Services services_;
  pages::Globals globals_;
  std::string application_title_;
  bool ended_ = false;
  Page* front_ = nullptr;  // the page last shown
  std::unique_ptr<pages::Form1> form1_;
  std::unique_ptr<pages::Form2> form2_;
  std::unique_ptr<pages::Form3> form3_;
  std::unique_ptr<pages::Form4> form4_;
};

}  // namespace ui
