// The field selection page: moving entries, its refusals, the hand-over list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <memory>

#include "app/qt/controls.h"
#include "app/qt/page.h"
#include "db/ado.h"
#include "jet/record/value.h"
#include "wizard/field_lists.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard/form4.h"
#include "wizard_util.h"

namespace uitest {
namespace {

using Names = std::vector<std::string>;

void Fill(ui::ListView& list, const Names& names) {
  list.Clear();
  for (const auto& name : names) list.Add(name);
}

Names AllFieldsOf(const wizard::Form3& form3) { return Items(*form3.ListView1()); }

TEST(RemoveListedItemsTest, DropsEveryEntryNamedInTheOtherListComparingCase) {
  ui::ListView thin(nullptr);
  ui::ListView drop(nullptr);
  Fill(thin, {"ID", "Name", "City", "name", "Zip"});
  Fill(drop, {"Zip", "Name", "Name", "ID"});
  int yields = 0;
  wizard::RemoveListedItems(thin, drop, [&] { ++yields; });
  EXPECT_EQ(Items(thin), (Names{"City", "name"}));
  EXPECT_EQ(Items(drop), (Names{"Zip", "Name", "Name", "ID"})) << "left alone";
  EXPECT_GE(yields, 5 * 4) << "the window is served once per comparison";
}

TEST(RemoveListedItemsTest, NothingToDropOrNothingToThin) {
  ui::ListView thin(nullptr);
  ui::ListView drop(nullptr);
  Fill(thin, {"A", "B"});
  wizard::RemoveListedItems(thin, drop, [] {});
  EXPECT_EQ(Items(thin), (Names{"A", "B"}));
  thin.Clear();
  Fill(drop, {"A"});
  wizard::RemoveListedItems(thin, drop, [] {});
  EXPECT_EQ(thin.Count(), 0);
}

TEST(DistinctValuesTest, KeepsEachValueOnceAtItsLastPlace) {
  EXPECT_EQ(wizard::DistinctValues({3, 1, 3, 2}, [] {}), (std::vector<int>{1, 3, 2}));
  EXPECT_EQ(wizard::DistinctValues({1, 1, 2, 2, 2}, [] {}), (std::vector<int>{1, 2}));
  EXPECT_TRUE(wizard::DistinctValues({}, [] {}).empty());
}

// A one-row table with one column, "Old".
class OneCell : public db::RowSource {
 public:
  int RowCount() const override { return 1; }
  int ColumnCount() const override { return 1; }
  std::string ColumnName(int) const override { return "Old"; }
  jet::ColumnType ColumnType(int) const override { return jet::ColumnType::kText; }
  jet::Value Cell(int, int) override { return jet::Value::Text("old"); }
};

// What the table page's "Next >" uses of this page, each operation on its own.
class FieldPageOperationsTest : public WizardTest {};

TEST_F(FieldPageOperationsTest, AllFieldsIsEmptiedFilledAndThinnedOut) {
  wizard::Form3& form3 = wizard().form3();
  Fill(*form3.ListView2(), {"Name"});
  form3.AddToAllFields("stale");
  form3.ClearAllFields();
  EXPECT_EQ(form3.AllFieldsCount(), 0);
  form3.SelectFirstOfAllFields();
  EXPECT_EQ(form3.ListView1()->SelectedIndex(), 0) << "nothing to select";
  for (const char* name : {"ID", "Name", "City", "name"}) form3.AddToAllFields(name);
  form3.SelectFirstOfAllFields();
  EXPECT_EQ(form3.ListView1()->SelectedIndex(), 1);
  form3.LeaveOutFieldsToMerge();
  EXPECT_EQ(AllFieldsOf(form3), (Names{"ID", "City", "name"})) << "names compare with case";
  EXPECT_EQ(Items(*form3.ListView2()), (Names{"Name"})) << "left alone";
  EXPECT_EQ(form3.AllFieldsCount(), 3);
  EXPECT_EQ(form3.FieldsToMergeCount(), 1);
  EXPECT_EQ(form3.ListView1()->SelectedIndex(), 1);
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(FieldPageOperationsTest, ThePreviewIsBoundDetachedAndFocused) {
  wizard::Form3& form3 = wizard().form3();
  auto rows = std::make_shared<OneCell>();
  form3.SetPreview(rows);
  EXPECT_EQ(form3.DataGrid1()->DataSource(), rows);
  EXPECT_EQ(form3.DataGrid1()->model()->columnCount(), 1);
  wizard().ShowPage(form3);
  form3.FocusPreview();
  EXPECT_EQ(form3.focusWidget(), form3.DataGrid1());
  form3.SetPreview(nullptr);
  EXPECT_EQ(form3.DataGrid1()->DataSource(), nullptr);
  EXPECT_EQ(form3.DataGrid1()->model()->columnCount(), 0);
}

TEST_F(FieldPageOperationsTest, TheTablePagesNextReplacesWhatThePageHeld) {
  Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
  ASSERT_TRUE(wizard().Start());
  wizard::Form3& form3 = wizard().form3();
  form3.AddToAllFields("Stale");
  form3.SetPreview(std::make_shared<OneCell>());
  SelectNamed(wizard().form2().ListView1(), "People");
  wizard().form2().PushButton3()->click();
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_EQ(AllFieldsOf(form3),
            (Names{"ID", "First", "Middle", "Last", "City", "Age", "Born", "Notes"}));
  ASSERT_EQ(form3.DataGrid1()->model()->columnCount(), 8);
  EXPECT_EQ(form3.DataGrid1()->model()->headerData(0, Qt::Horizontal).toString(),
            QStringLiteral("ID"));
  EXPECT_EQ(form3.focusWidget(), form3.DataGrid1());
}

class FieldPageTest : public WizardTest {
 protected:
  // The field page for the People table, as the table page leaves it.
  wizard::Form3& Open() {
    Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
    EXPECT_TRUE(wizard().Start());
    SelectNamed(wizard().form2().ListView1(), "People");
    wizard().form2().PushButton3()->click();
    EXPECT_TRUE(messages_.shown().empty());
    return wizard().form3();
  }
  Names AllFields() { return Items(*wizard().form3().ListView1()); }
  Names ToMerge() { return Items(*wizard().form3().ListView2()); }
  std::string LastMessage() {
    return messages_.shown().empty() ? std::string() : messages_.shown().back().text;
  }
};

TEST_F(FieldPageTest, LoadSetsUpBothLists) {
  wizard::Form3& form3 = Open();
  EXPECT_EQ(form3.Caption(), "Tessaly Draviel");
  EXPECT_EQ(form3.ListView1()->ColumnHeaderText(), "All Fields");
  EXPECT_EQ(form3.ListView2()->ColumnHeaderText(), "Fields To Merge");
  EXPECT_EQ(form3.ListView1()->columnWidth(0), 160);  // 2400 twips
  EXPECT_EQ(form3.ListView2()->columnWidth(0), 160);
  EXPECT_EQ(form3.palette().color(QPalette::Window), ui::FaceColour());
}

TEST_F(FieldPageTest, NextWithNothingChosenRefusesAndStays) {
  wizard::Form3& form3 = Open();
  form3.PushButton3()->click();
  EXPECT_EQ(LastMessage(), "Please add fields to merge first.");
  EXPECT_EQ(messages_.shown().back().title, "Tessaly");
  EXPECT_EQ(messages_.shown().back().style, 0);
  EXPECT_TRUE(form3.isVisible());
  EXPECT_EQ(wizard().loaded_form4(), nullptr);
}

TEST_F(FieldPageTest, OneEntryMovesToTheEndOfTheOtherList) {
  wizard::Form3& form3 = Open();
  SelectNamed(form3.ListView1(), "Middle");
  form3.PushButton5()->click();  // ">"
  EXPECT_EQ(AllFields(), (Names{"ID", "First", "Last", "City", "Age", "Born", "Notes"}));
  EXPECT_EQ(ToMerge(), (Names{"Middle"}));
  EXPECT_FALSE(wizard().globals().merge_fields_empty);
  SelectNamed(form3.ListView2(), "Middle");
  form3.PushButton7()->click();  // "<"
  EXPECT_EQ(AllFields(), (Names{"ID", "First", "Last", "City", "Age", "Born", "Notes", "Middle"}))
      << "a returned entry goes to the end, not to its old place";
  EXPECT_TRUE(ToMerge().empty());
  EXPECT_TRUE(wizard().globals().merge_fields_empty);
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(FieldPageTest, MovingOneWithoutASelectionAsksForOne) {
  wizard::Form3& form3 = Open();
  form3.ListView1()->clearSelection();
  form3.PushButton5()->click();
  EXPECT_EQ(LastMessage(), "Please select a field first.");
  SelectNamed(form3.ListView1(), "City");
  form3.PushButton5()->click();
  form3.ListView2()->clearSelection();
  form3.PushButton7()->click();
  EXPECT_EQ(LastMessage(), "Please select a field first.");
  EXPECT_EQ(messages_.shown().size(), 2u);
  EXPECT_EQ(ToMerge(), (Names{"City"}));
}

TEST_F(FieldPageTest, MovingAllKeepsTheOrderBehindWhatIsThere) {
  wizard::Form3& form3 = Open();
  SelectNamed(form3.ListView1(), "Last");
  form3.PushButton5()->click();
  form3.PushButton6()->click();  // ">>"
  EXPECT_TRUE(AllFields().empty());
  EXPECT_EQ(ToMerge(), (Names{"Last", "ID", "First", "Middle", "City", "Age", "Born", "Notes"}));
  EXPECT_TRUE(wizard().globals().all_fields_empty);
  EXPECT_FALSE(wizard().globals().merge_fields_empty);

  form3.PushButton5()->click();
  EXPECT_EQ(LastMessage(), "No fields to merge .");
  form3.PushButton6()->click();
  EXPECT_EQ(LastMessage(), "No fields to merge .");
  EXPECT_EQ(messages_.shown().size(), 2u);

  form3.PushButton8()->click();  // "<<"
  EXPECT_EQ(AllFields(), (Names{"Last", "ID", "First", "Middle", "City", "Age", "Born", "Notes"}));
  EXPECT_TRUE(ToMerge().empty());
  EXPECT_FALSE(wizard().globals().all_fields_empty);
  EXPECT_TRUE(wizard().globals().merge_fields_empty);
  form3.PushButton8()->click();
  EXPECT_EQ(LastMessage(), "Please add fields to merge first.");
  form3.PushButton7()->click();
  EXPECT_EQ(LastMessage(), "Please add fields to merge first.");
  EXPECT_EQ(messages_.shown().size(), 4u);
}

TEST_F(FieldPageTest, DoubleClickMovesTheEntryUnderThePointer) {
  wizard::Form3& form3 = Open();
  ui::ListView* all = form3.ListView1();
  all->doItemsLayout();
  QTreeWidgetItem* first = all->topLevelItem(1);  // "First"
  const QPoint at = all->visualItemRect(first).center();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at),
                    QPointF(all->viewport()->mapToGlobal(at)), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at),
                      QPointF(all->viewport()->mapToGlobal(at)), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(at),
                    QPointF(all->viewport()->mapToGlobal(at)), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(all->viewport(), &press);
  QCoreApplication::sendEvent(all->viewport(), &release);
  QCoreApplication::sendEvent(all->viewport(), &twice);
  EXPECT_EQ(ToMerge(), (Names{"First"}));
  EXPECT_FALSE(wizard().globals().merge_fields_empty);

  SelectNamed(form3.ListView2(), "First");
  form3.ListView2_DblClick();
  EXPECT_TRUE(ToMerge().empty());
  EXPECT_TRUE(wizard().globals().merge_fields_empty);
  EXPECT_EQ(AllFields().back(), "First");
}

TEST_F(FieldPageTest, DoubleClickWithoutASelectionDoesNothing) {
  wizard::Form3& form3 = Open();
  form3.ListView1()->clearSelection();
  form3.ListView1_DblClick();
  form3.ListView2_DblClick();  // empty list
  EXPECT_TRUE(ToMerge().empty());
  EXPECT_EQ(AllFields().size(), 8u);
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(FieldPageTest, NextHandsOnTheChosenNamesInOrder) {
  wizard::Form3& form3 = Open();
  SelectNamed(form3.ListView1(), "City");
  form3.PushButton5()->click();
  SelectNamed(form3.ListView1(), "ID");
  form3.PushButton5()->click();
  form3.PushButton3()->click();
  EXPECT_EQ(wizard().globals().merge_field_list, "`City`, `ID`");
  EXPECT_TRUE(wizard().form4().isVisible());
  EXPECT_FALSE(form3.isVisible());

  // Back from the merge page shows the same lists; Next builds the list anew.
  wizard().form4().PushButton2()->click();
  EXPECT_TRUE(form3.isVisible());
  EXPECT_EQ(ToMerge(), (Names{"City", "ID"}));
  SelectNamed(form3.ListView2(), "City");
  form3.PushButton7()->click();
  form3.PushButton3()->click();
  EXPECT_EQ(wizard().globals().merge_field_list, "`ID`");
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(FieldPageTest, ANameTheHandOverCannotCarryIsRefusedByNext) {
  wizard::Form3& form3 = Open();
  // Entries as a table with such columns would give them.
  for (const std::string name : {"First, Last", "Ta`g"}) {
    form3.ListView2()->Clear();
    form3.ListView2()->Add("City");
    form3.ListView2()->Add(name);
    wizard().globals().merge_fields_empty = false;
    wizard().globals().merge_field_list = "`City`";
    messages_ = app::RecordingMessageSink();
    form3.PushButton3()->click();
    ASSERT_EQ(messages_.shown().size(), 1u);
    EXPECT_EQ(LastMessage().rfind("The field \"" + name + "\" cannot be merged", 0), 0u)
        << LastMessage();
    EXPECT_TRUE(form3.isVisible());
    EXPECT_EQ(wizard().globals().merge_field_list, "`City`") << "nothing handed on";
  }
}

TEST_F(FieldPageTest, PointerIsTheHandOverButtonsAndTheArrowOverListsGridAndFrames) {
  InstallHandCursor();
  wizard::Form3& form3 = Open();
  ASSERT_TRUE(form3.HasCustomPointer());
  MoveMouseOver(form3.PushButton6());  // inside a frame
  EXPECT_EQ(form3.MousePointer(), ui::kPointerCustom);
  MoveMouseOver(form3.DataGrid1());
  EXPECT_EQ(form3.MousePointer(), ui::kPointerDefault);
  MoveMouseOver(form3.PushButton3());
  EXPECT_EQ(form3.MousePointer(), ui::kPointerCustom);
  MoveMouseOver(form3.ListView2());
  EXPECT_EQ(form3.MousePointer(), ui::kPointerDefault);
  MoveMouseOver(form3.PushButton5());
  MoveMouseOver(form3.Frame2(), QPoint(3, 100));  // the frame between its controls
  EXPECT_EQ(form3.MousePointer(), ui::kPointerDefault);
}

TEST_F(FieldPageTest, BackShowsTheTablePageAndKeepsEverything) {
  wizard::Form3& form3 = Open();
  SelectNamed(form3.ListView1(), "Age");
  form3.PushButton5()->click();
  form3.PushButton2()->click();
  EXPECT_TRUE(wizard().form2().isVisible());
  EXPECT_FALSE(form3.isVisible());
  EXPECT_EQ(ToMerge(), (Names{"Age"}));
  EXPECT_EQ(form3.DataGrid1()->model()->columnCount(), 8);
}

}  // namespace
}  // namespace uitest
