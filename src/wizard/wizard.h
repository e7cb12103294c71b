// The wizard as a whole: the four pages, created on first use and then only
// shown and hidden, the state they hand on to each other, and the start. The
// services, the page hand-over and the end of the program come from the
// shell it is built on (ui::Shell).
#pragma once

#include <memory>
#include <string>

#include "app/qt/page.h"
#include "app/qt/shell.h"
#include "wizard/globals.h"

namespace wizard {

class Form1;
class Form2;
class Form3;
class Form4;

class Wizard : public ui::Shell {
 public:
  explicit Wizard(ui::Services services);
  ~Wizard() override;

  // Loads the database page, which does the start-up work (and may move on
  // to the table page at once), then shows it unless another page is in
  // front. False when the program ended during start-up.
  bool Start();

  // The pages; the first use of each creates it and runs its load handler.
  Form1& form1();
  Form2& form2();
  Form3& form3();
  Form4& form4();
  // The page if it was created, else null; creates nothing.
  Form1* loaded_form1() const { return form1_.get(); }
  Form2* loaded_form2() const { return form2_.get(); }
  Form3* loaded_form3() const { return form3_.get(); }
  Form4* loaded_form4() const { return form4_.get(); }

  Globals& globals() { return globals_; }

  // A database named on the command line. The start-up puts it into the
  // path box in place of the remembered path, and then treats it alike.
  void SetStartDatabase(std::string path) { start_database_ = std::move(path); }
  const std::string& start_database() const { return start_database_; }

  // Built from the database page's path and password boxes as they are now.
  std::string ConnectionString();

 private:
  template <typename Form>
  Form& Load(std::unique_ptr<Form>& slot);

  Globals globals_;
  std::string start_database_;
  std::unique_ptr<Form1> form1_;
  std::unique_ptr<Form2> form2_;
  std::unique_ptr<Form3> form3_;
  std::unique_ptr<Form4> form4_;
};

// A page of the wizard: a shell page that knows the wizard it belongs to, so
// that its handlers can reach the other pages and the shared state.
class WizardPage : public ui::Page {
 public:
  WizardPage(Wizard& wizard, std::string window_name, int client_width_twips,
             int client_height_twips)
      : Page(wizard, std::move(window_name), client_width_twips, client_height_twips),
        wizard_(wizard) {}

  Wizard& wizard() const { return wizard_; }

 private:
  Wizard& wizard_;
};

}  // namespace wizard
