// The field selection page: "All Fields" and "Fields To Merge" side by side,
// four buttons and double-clicks to move entries between them, a preview of
// the table's rows above. "Next >" hands the chosen list on, in order.
#pragma once

#include <QGroupBox>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/controls.h"
#include "wizard/wizard.h"

namespace app {
class ReportingHandler;
}

namespace wizard {

class Form3 : public WizardPage {
  Q_OBJECT

 public:
  explicit Form3(Wizard& wizard);

  void Form_Load();
  void PushButton2_Click();  // "< Back"
  void PushButton3_Click();  // "Next >"
  void PushButton5_Click();  // ">"
  void PushButton6_Click();  // ">>"
  void PushButton7_Click();  // "<"
  void PushButton8_Click();  // "<<"
  void ListView1_DblClick();
  void ListView2_DblClick();

  // What the table page's "Next >" does to this page, one step at a time.
  // "All Fields" emptied, filled anew and thinned out; the preview grid
  // detached and bound to the table's rows; the focus in the grid.
  void ClearAllFields();
  void AddToAllFields(const std::string& name);
  // Selects the first entry of "All Fields", when there is one.
  void SelectFirstOfAllFields();
  // Removes from "All Fields" every name that "Fields To Merge" holds (which
  // is left alone), comparing case; pending events run between comparisons.
  void LeaveOutFieldsToMerge();
  // Empties "Fields To Merge": its names were chosen for another table.
  void ClearFieldsToMerge();
  // Removes from "Fields To Merge" every name that is not one of `columns`
  // (comparing case), so that only the table's own columns go on.
  void KeepOnlyColumnsInFieldsToMerge(const std::vector<std::string>& columns);
  int AllFieldsCount() const;
  int FieldsToMergeCount() const;
  // Shows `rows` in the preview grid; null detaches it.
  void SetPreview(std::shared_ptr<db::RowSource> rows);
  void FocusPreview();

  QGroupBox* Frame1() const { return frame1_; }
  ui::DataGrid* DataGrid1() const { return data_grid1_; }
  QGroupBox* Frame2() const { return frame2_; }
  ui::ListView* ListView1() const { return list_view1_; }  // "All Fields"
  ui::ListView* ListView2() const { return list_view2_; }  // "Fields To Merge"
  ui::PushButton* PushButton2() const { return push_button2_; }
  ui::PushButton* PushButton3() const { return push_button3_; }
  ui::PushButton* PushButton5() const { return push_button5_; }
  ui::PushButton* PushButton6() const { return push_button6_; }
  ui::PushButton* PushButton7() const { return push_button7_; }
  ui::PushButton* PushButton8() const { return push_button8_; }

 private:
  // ">" and "<": one selected entry to the end of the other list.
  void MoveSelected(const char* handler, ui::ListView* from, ui::ListView* to, bool source_empty,
                    const char* empty_message);
  // ">>" and "<<": every entry, in order, to the end of the other list.
  void MoveAll(const char* handler, ui::ListView* from, ui::ListView* to, bool source_empty,
               const char* empty_message);
  // Double-click: the selected entry across, without messages.
  void MoveSelectedQuietly(ui::ListView* from, ui::ListView* to);
  // Both emptiness flags from the lists as they stand, "All Fields" first.
  void RefreshFlags(app::ReportingHandler& h, int all_label, int merge_label);

  QGroupBox* frame1_;
  ui::DataGrid* data_grid1_;
  QGroupBox* frame2_;
  ui::ListView* list_view1_;
  ui::PushButton* push_button5_;
  ui::PushButton* push_button6_;
  ui::PushButton* push_button7_;
  ui::PushButton* push_button8_;
  ui::ListView* list_view2_;
  ui::PushButton* push_button2_;
  ui::PushButton* push_button3_;
};

}  // namespace wizard
