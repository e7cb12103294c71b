// The window controls the pages are built from, as Qt widgets: a one-column
// list addressed from 1, a push button with a caption, a progress bar that
// shows a text of our choosing, and a grid over a database row source. Places
// and sizes come in twips, 15 to the pixel, the unit the page layouts use.
#pragma once

#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "app/list_view.h"
#include "db/ado.h"

class QFont;
class QWidget;

namespace ui {

class RowSourceModel;

inline constexpr int kTwipsPerPixel = 15;
int Px(int twips);
// Places `widget` at (left, top) with the given size, all in twips, relative
// to its parent.
void PlaceTwips(QWidget* widget, int left, int top, int width, int height);
// Bold Arial at `points` (fractions allowed: 11.25).
QFont ArialBold(double points);

// A report-style list with one column. Items are plain texts addressed from
// 1 at the top; "selected" means highlighted, and at most one item is.
class ListView : public QTreeWidget, public app::ListViewLike {
  Q_OBJECT

 public:
  explicit ListView(QWidget* parent);

  void Clear() override;
  void Add(const std::string& text) override;
  int Count() const override;
  std::string ItemText(int index_1based) const override;
  // Removing the selected item selects the one that takes its place (or the
  // new last one), so that a user can move entries one after another.
  void Remove(int index_1based) override;
  int SelectedIndex() const override;
  void Select(int index_1based) override;

  // The single column header; a second call renames it (the list has one column).
  void AddColumnHeader(const std::string& text);
  int ColumnHeaderCount() const { return column_headers_; }
  std::string ColumnHeaderText() const;
  void SetColumnWidthTwips(int twips);

 signals:
  // A double-click anywhere in the list, after the click has selected what
  // lies under the pointer.
  void DoubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QTreeWidgetItem* ItemAt1(int index_1based) const;
  int column_headers_ = 0;
};

// A frame whose border runs through the middle of its caption, the caption
// interrupting it. The styles start their frame below the caption, where it
// cut through controls placed just under the caption.
class Frame : public QGroupBox {
  Q_OBJECT

 public:
  Frame(const std::string& caption, QWidget* parent);
  // Where the border is drawn, in the frame's own coordinates.
  QRect BorderRect() const;
  // Where the caption is written.
  QRect CaptionRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A push button whose keyboard focus is marked by a clear ring in the
// selection colour, whatever the style draws of its own.
class PushButton : public QPushButton {
  Q_OBJECT

 public:
  PushButton(const std::string& caption, QWidget* parent);
  std::string Caption() const;
  void SetCaption(const std::string& caption);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A progress bar whose text is set, not computed from the value; the text
// is shown on the bar.
class ProgressBar : public QProgressBar {
  Q_OBJECT

 public:
  explicit ProgressBar(QWidget* parent);
  void SetText(const std::string& text);
  std::string Text() const { return text_; }

 private:
  std::string text_;
};

// A read-only grid showing every column and row of a row source; its scroll
// bar spans every row from the start, and rows are read as they come into
// view.
class DataGrid : public QTableView {
  Q_OBJECT

 public:
  explicit DataGrid(QWidget* parent);
  ~DataGrid() override;
  // Binds the grid to `source`; null detaches it (the grid is then empty).
  void SetDataSource(std::shared_ptr<db::RowSource> source);
  const std::shared_ptr<db::RowSource>& DataSource() const;
  RowSourceModel& rows() const { return *model_; }

 private:
  RowSourceModel* model_;
};

}  // namespace ui
