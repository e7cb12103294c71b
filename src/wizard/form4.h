// The merge page: the new field's name, the space option, "Start Merging"
// (which becomes "Exit" once a merge has finished), the run's progress and
// the table with its new column.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <memory>

#include "app/qt/controls.h"
#include "wizard/wizard.h"

namespace merge {
class MergePage;
class MergeRun;
}  // namespace merge

namespace wizard {

inline constexpr char kDefaultResultColumn[] = "Result_Column";

class Form4 : public WizardPage {
  Q_OBJECT

 public:
  explicit Form4(Wizard& wizard);
  ~Form4() override;

  void Form_Load();
  void PushButton1_Click();  // "?" beside the name
  void PushButton2_Click();  // "< Back"
  void PushButton3_Click();  // "?" beside the space option
  void PushButton4_Click();  // "Start Merging" / "Exit"

  bool merge_done() const { return merge_done_; }
  // The page's window state as the merge run sees it: 1 minimised, 0 normal.
  int WindowState() const;
  void SetWindowState(int state);

  QGroupBox* Frame1() const { return frame1_; }
  QLineEdit* Text1() const { return text1_; }
  ui::PushButton* PushButton1() const { return push_button1_; }
  QGroupBox* Frame2() const { return frame2_; }
  QCheckBox* Check3() const { return check3_; }
  ui::PushButton* PushButton3() const { return push_button3_; }
  ui::PushButton* PushButton2() const { return push_button2_; }
  ui::PushButton* PushButton4() const { return push_button4_; }
  ui::ProgressBar* ProgressBar1() const { return progress_bar1_; }
  QGroupBox* Frame3() const { return frame3_; }
  ui::DataGrid* DataGrid1() const { return data_grid1_; }

 private:
  class RunPage;
  friend class RunPage;

  bool merge_done_ = false;
  // What the run sees of this page, and the run itself; the run keeps the
  // connection the results grid reads through.
  std::unique_ptr<merge::MergePage> run_page_;
  std::unique_ptr<merge::MergeRun> run_;

  QGroupBox* frame1_;
  QLineEdit* text1_;
  ui::PushButton* push_button1_;
  QGroupBox* frame2_;
  QCheckBox* check3_;
  ui::PushButton* push_button3_;
  ui::PushButton* push_button2_;
  ui::PushButton* push_button4_;
  ui::ProgressBar* progress_bar1_;
  QGroupBox* frame3_;
  ui::DataGrid* data_grid1_;
};

}  // namespace wizard
