// The table page: the database's user tables in one list. "Next >" records
// the chosen table, refills the field page's "All Fields" list with the
// table's columns, binds its preview grid to the table's rows and shows it.
#pragma once

#include "app/qt/controls.h"
#include "app/qt/page.h"

namespace pages {

inline constexpr char kListTip[] =
    "Double-click item to remove it. Move | line to right and out of window to reveal full names.";

class Form2 : public ui::Page {
  Q_OBJECT

 public:
  explicit Form2(ui::Wizard& wizard);

  void Form_Load();
  void PushButton2_Click();  // "< Back"
  void PushButton3_Click();  // "Next >"

  ui::ListView* ListView1() const { return list_view1_; }
  ui::PushButton* PushButton2() const { return push_button2_; }
  ui::PushButton* PushButton3() const { return push_button3_; }
  ui::ProgressBar* ProgressBar1() const { return progress_bar1_; }

 private:
  ui::ListView* list_view1_;
  ui::PushButton* push_button2_;
  ui::PushButton* push_button3_;
  ui::ProgressBar* progress_bar1_;
};

}  // namespace pages
