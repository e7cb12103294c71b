#include "app/qt/controls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <set>
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
    rows_read.insert(row);
    if (column == 1) return jet::Value::Null();
    if (column == 2 && row == 5) throw jet::Error(jet::errnum::kGeneric, "unreadable");
    return jet::Value::Text(std::to_string(row) + ":" + std::to_string(column));
  }
  int cells_read = 0;
  std::set<int> rows_read;

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

// Presses `key` in the grid, as the keyboard would.
void Press(DataGrid& grid, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(&grid, &press);
  grid.viewport()->repaint();
}

// True when every row read lies within `distance` of one of `near`.
bool OnlyRowsNear(const std::set<int>& rows, std::initializer_list<int> near, int distance) {
  for (int row : rows) {
    bool close = false;
    for (int n : near) close = close || std::abs(row - n) <= distance;
    if (!close) return false;
  }
  return true;
}

TEST(RowSourceModelTest, CtrlEndReachesTheLastOfAMillionRowsReadingOnlyWhatIsShown) {
  constexpr int kRows = 1000000;
  auto source = std::make_shared<CountingSource>(kRows);
  DataGrid grid(nullptr);
  grid.resize(488, 169);
  grid.SetDataSource(source);
  grid.show();
  QApplication::processEvents();
  // The grid knows the whole table: its scroll bar spans every row.
  EXPECT_EQ(grid.model()->rowCount(), kRows);
  EXPECT_FALSE(grid.model()->canFetchMore(QModelIndex()));
  EXPECT_GE(grid.verticalScrollBar()->maximum(), kRows - 20);
  EXPECT_EQ(grid.currentIndex(), grid.model()->index(0, 0)) << "the keys start at the first cell";

  Press(grid, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(grid.currentIndex().row(), kRows - 1);
  EXPECT_EQ(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());
  EXPECT_TRUE(source->rows_read.count(kRows - 1)) << "the last row is shown";
  EXPECT_EQ(grid.model()->index(kRows - 1, 0).data().toString(), QStringLiteral("999999:0"));
  EXPECT_TRUE(OnlyRowsNear(source->rows_read, {0, kRows - 1}, 20))
      << "no row between the first and the last screen was read";
  EXPECT_LE(grid.rows().fetched_rows(), 40);

  Press(grid, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(grid.currentIndex().row(), 0);
  EXPECT_EQ(grid.verticalScrollBar()->value(), 0);
}

TEST(RowSourceModelTest, PageDownAndTheScrollBarReachRowsAnywhere) {
  constexpr int kRows = 1000000;
  auto source = std::make_shared<CountingSource>(kRows);
  DataGrid grid(nullptr);
  grid.resize(488, 169);
  grid.SetDataSource(source);
  grid.show();
  QApplication::processEvents();

  // Dragging the bar to the middle shows the middle rows and reads only those.
  grid.verticalScrollBar()->setValue(kRows / 2);
  grid.viewport()->repaint();
  EXPECT_TRUE(source->rows_read.count(kRows / 2));
  EXPECT_EQ(grid.rowAt(0), kRows / 2);
  EXPECT_TRUE(OnlyRowsNear(source->rows_read, {0, kRows / 2}, 20));

  // Page Down moves a screenful at a time, wherever the current cell is.
  grid.setCurrentIndex(grid.model()->index(kRows / 2, 0));
  Press(grid, Qt::Key_PageDown);
  const int after_one_page = grid.currentIndex().row();
  EXPECT_GT(after_one_page, kRows / 2 + 3);
  EXPECT_LT(after_one_page, kRows / 2 + 20);
  Press(grid, Qt::Key_PageDown);
  EXPECT_GT(grid.currentIndex().row(), after_one_page);
  EXPECT_TRUE(source->rows_read.count(grid.currentIndex().row()));
}

TEST(RowSourceModelTest, TheCacheStaysBoundedAndDropsTheRowsLeastRecentlyUsed) {
  auto source = std::make_shared<CountingSource>(1000000);
  RowSourceModel model;
  model.SetSource(source);
  model.fetchMore(QModelIndex());
  model.data(model.index(10, 0));
  EXPECT_EQ(model.fetched_rows(), 1) << "a row is read alone, not with its neighbours";

  // Visit many places far apart, a screenful at each, as a user scrolling would.
  for (int place = 0; place < 200; ++place) {
    for (int row = place * 5000; row < place * 5000 + 30; ++row) model.data(model.index(row, 0));
    EXPECT_LE(static_cast<size_t>(model.fetched_rows()), RowSourceModel::kCachedRows);
  }
  // The rows just seen are still held; the first place was given up long ago.
  int read = source->cells_read;
  model.data(model.index(199 * 5000 + 5, 2));
  EXPECT_EQ(source->cells_read, read);
  model.data(model.index(5, 0));
  EXPECT_GT(source->cells_read, read);
  // A run in use keeps its place, however many others come after it.
  read = source->cells_read;
  for (int place = 0; place < 100; ++place) {
    model.data(model.index(5, 0));
    model.data(model.index(300000 + place * 1000, 0));
  }
  model.data(model.index(5, 1));
  EXPECT_EQ(source->cells_read, read + 100 * 3);
}

TEST(RowSourceModelTest, ASourceThatCannotCountShowsNoRows) {
  class Uncountable : public CountingSource {
   public:
    Uncountable() : CountingSource(5) {}
    int RowCount() const override { throw jet::Error(jet::errnum::kGeneric, "gone"); }
  };
  RowSourceModel model;
  model.SetSource(std::make_shared<Uncountable>());
  model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 3);
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
}

}  // namespace
}  // namespace ui
