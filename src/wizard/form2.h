// The table page: the database's user tables in one list. "Next >" records
// the chosen table, refills the field page's "All Fields" list with the
// table's columns, binds its preview grid to the table's rows and shows it,
// all through the field page's own operations.
#pragma once

#include <string>

#include "app/qt/controls.h"
#include "wizard/wizard.h"

namespace wizard {

inline constexpr char kListTip[] =
    "Double-click item to remove it. Move | line to right and out of window to reveal full names.";

class Form2 : public WizardPage {
  Q_OBJECT

 public:
  explicit Form2(Wizard& wizard);

  void Form_Load();
  void PushButton2_Click();  // "< Back"
  void PushButton3_Click();  // "Next >"

  // What the database page's "Next >" does to this page: the list shows the
  // user tables of the database at `path`, the first one selected (the list
  // is left alone when the file does not exist). Failures propagate.
  void FillTableList(const std::string& path, const std::string& password,
                     const std::string& connection_string);

  ui::ListView* ListView1() const { return list_view1_; }
  ui::PushButton* PushButton2() const { return push_button2_; }
  ui::PushButton* PushButton3() const { return push_button3_; }
  ui::ProgressBar* ProgressBar1() const { return progress_bar1_; }

 private:
  // Set while "Next >" runs: it lets events run, and a second press among
  // them (a double click) must not start it again inside itself.
  bool next_running_ = false;
  ui::ListView* list_view1_;
  ui::PushButton* push_button2_;
  ui::PushButton* push_button3_;
  ui::ProgressBar* progress_bar1_;
};

}  // namespace wizard
