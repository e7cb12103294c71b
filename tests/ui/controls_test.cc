#include "app/qt/controls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <stdexcept>

#include "app/qt/desktop.h"
#include "app/qt/qt_message_sink.h"
#include "app/qt/row_source_model.h"
#include "jet/storage/error.h"

namespace ui {
namespace {

std::vector<std::string> Items(const ListView& list) {
  std::vector<std::string> items;
  for (int i = 1; i <= list.Count(); ++i) items.push_back(list.ItemText(i));
  return items;
}

TEST(ListViewTest, ItemsAreAddressedFromOneInTheOrderAdded) {
  ListView list(nullptr);
  list.Add("ID");
  list.Add("Name");
  list.Add("City");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"ID", "Name", "City"}));
  EXPECT_EQ(list.SelectedIndex(), 0);
  list.Select(2);
  EXPECT_EQ(list.SelectedIndex(), 2);
  list.Remove(1);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"Name", "City"}));
  EXPECT_EQ(list.SelectedIndex(), 1) << "the selected item moved up with the list";
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.SelectedIndex(), 0);
}

TEST(ListViewTest, PositionsOutsideTheListFail) {
  ListView list(nullptr);
  list.Add("A");
  EXPECT_THROW(list.ItemText(0), std::out_of_range);
  EXPECT_THROW(list.ItemText(2), std::out_of_range);
  EXPECT_THROW(list.Remove(2), std::out_of_range);
  EXPECT_THROW(list.Select(0), std::out_of_range);
  EXPECT_EQ(list.Count(), 1);
}

TEST(ListViewTest, RemovingTheSelectedItemSelectsTheOneTakingItsPlace) {
  ListView list(nullptr);
  for (const char* name : {"A", "B", "C"}) list.Add(name);
  list.Select(2);
  list.Remove(2);
  EXPECT_EQ(list.ItemText(list.SelectedIndex()), "C");
  list.Remove(2);  // the last one: the new last is selected
  EXPECT_EQ(list.ItemText(list.SelectedIndex()), "A");
  list.Remove(1);
  EXPECT_EQ(list.SelectedIndex(), 0);
}

TEST(ListViewTest, RemovingAnotherItemKeepsTheSelection) {
  ListView list(nullptr);
  for (const char* name : {"A", "B", "C"}) list.Add(name);
  list.Select(3);
  list.Remove(1);
  EXPECT_EQ(list.ItemText(list.SelectedIndex()), "C");
  ListView unselected(nullptr);
  unselected.Add("A");
  unselected.Add("B");
  unselected.Remove(1);
  EXPECT_EQ(unselected.SelectedIndex(), 0);
}

TEST(ListViewTest, HasOneColumnHeaderWithItsWidthInTwips) {
  ListView list(nullptr);
  list.AddColumnHeader("Select Table");
  list.SetColumnWidthTwips(7000);
  EXPECT_EQ(list.ColumnHeaderCount(), 1);
  EXPECT_EQ(list.ColumnHeaderText(), "Select Table");
  EXPECT_EQ(list.columnCount(), 1);
  EXPECT_EQ(list.columnWidth(0), 467);
}

TEST(ProgressBarTest, ShowsItsTextLiterally) {
  ProgressBar bar(nullptr);
  bar.setValue(10);
  bar.SetText("Processing: 100% Cotton");
  EXPECT_EQ(bar.Text(), "Processing: 100% Cotton");
  EXPECT_EQ(bar.text(), QStringLiteral("Processing: 100% Cotton"));
  EXPECT_TRUE(bar.isTextVisible());
  // Names that look like the bar's placeholders are not expanded.
  bar.SetText("Processing: Sales%p%v%map");
  EXPECT_EQ(bar.Text(), "Processing: Sales%p%v%map");
  EXPECT_EQ(bar.text().remove(QChar(0x200B)), QStringLiteral("Processing: Sales%p%v%map"));
}

TEST(TwipsTest, FifteenTwipsMakeAPixel) {
  EXPECT_EQ(Px(120), 8);
  EXPECT_EQ(Px(7800), 520);
  EXPECT_EQ(Px(2350), 157);  // 156.67 rounds to the nearest pixel
  QWidget widget;
  PlaceTwips(&widget, 2280, 300, 4695, 345);
  EXPECT_EQ(widget.geometry(), QRect(152, 20, 313, 23));
}

TEST(FileFilterTest, PairsBecomeQtFiltersWithTheirPatterns) {
  EXPECT_EQ(QtFilterFromPairs("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database "
                              "(*.mdb)|*.mdb|Microsoft 2007 Database (*.accdb)|*.accdb|"),
            (QStringList{"All Microsoft Databases (*.mdb,*.accdb) (*.*db)",
                         "Microsoft Database (*.mdb) (*.mdb)",
                         "Microsoft 2007 Database (*.accdb) (*.accdb)"}));
  EXPECT_EQ(QtFilterFromPairs("Pictures|*.png;*.jpg"), (QStringList{"Pictures (*.png *.jpg)"}));
  EXPECT_TRUE(QtFilterFromPairs("").isEmpty());
}

TEST(MessageTextTest, WindowsLineBreaksBecomeNewLines) {
  EXPECT_EQ(DisplayText("Could not go back.\r\n\r\nPlease exit software."),
            QStringLiteral("Could not go back.\n\nPlease exit software."));
  EXPECT_EQ(DisplayText("x\r\nin here at line 100\r\rPlease"),
            QStringLiteral("x\nin here at line 100\n\nPlease"));
}

// A table of any size whose cells say where they are; counts what is read.
class CountingSource : public db::RowSource {
 public:
  explicit CountingSource(int rows) : rows_(rows) {}
  int RowCount() const override { return rows_; }
  int ColumnCount() const override { return 3; }
  std::string ColumnName(int column) const override { return "C" + std::to_string(column); }
  jet::ColumnType ColumnType(int) const override { return jet::ColumnType::kText; }
  jet::Value Cell(int row, int column) override {
    ++cells_read;
    if (column == 1) return jet::Value::Null();
    if (column == 2 && row == 5) throw jet::Error(jet::errnum::kGeneric, "unreadable");
    return jet::Value::Text(std::to_string(row) + ":" + std::to_string(column));
  }
  int cells_read = 0;

 private:
  int rows_;
};

TEST(RowSourceModelTest, ShowsNamesTextsNullsAndUnreadableCells) {
  auto source = std::make_shared<CountingSource>(10);
  RowSourceModel model;
  model.SetSource(source);
  ASSERT_TRUE(model.canFetchMore(QModelIndex()));
  model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  EXPECT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("C2"));
  EXPECT_EQ(model.data(model.index(4, 0)).toString(), QStringLiteral("4:0"));
  EXPECT_EQ(model.data(model.index(4, 1)).toString(), QString());
  EXPECT_EQ(model.data(model.index(5, 2)).toString(), QStringLiteral("#Error"));
  const int read = source->cells_read;
  model.data(model.index(4, 2));
  EXPECT_EQ(source->cells_read, read) << "a row is read once and then kept";
  model.SetSource(nullptr);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 0);
}

TEST(RowSourceModelTest, AMillionRowsAreReadOnlyAsFarAsTheyAreShown) {
  auto source = std::make_shared<CountingSource>(1000000);
  DataGrid grid(nullptr);
  grid.resize(488, 169);
  grid.SetDataSource(source);
  grid.show();
  QApplication::processEvents();
  const int fetched = grid.rows().fetched_rows();
  EXPECT_GE(fetched, 1);
  EXPECT_LE(fetched, 2 * RowSourceModel::kBatchRows);
  // Only the rows in view are read, a screenful at most.
  EXPECT_GT(source->cells_read, 0);
  EXPECT_LE(source->cells_read, 3 * 20);
  grid.SetDataSource(nullptr);
  EXPECT_EQ(grid.model()->rowCount(), 0);
}

}  // namespace
}  // namespace ui
