#include "app/qt/controls.h"

#include <QFont>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/qt/row_source_model.h"

namespace ui {

int Px(int twips) {
  return static_cast<int>(std::lround(twips / static_cast<double>(kTwipsPerPixel)));
}

void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QFont ArialBold(double points) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

// ---------------------------------------------------------------------------

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderLabels({QString()});
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setAllColumnsShowFocus(true);
  header()->setStretchLastSection(false);
  // Names longer than the column are read by dragging the header's divider.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QTreeWidgetItem* ListView::ItemAt1(int index_1based) const {
  if (index_1based < 1 || index_1based > topLevelItemCount()) {
    throw std::out_of_range("Index out of bounds");
  }
  return topLevelItem(index_1based - 1);
}

void ListView::Clear() { clear(); }

void ListView::Add(const std::string& text) {
  auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(text)});
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  addTopLevelItem(item);  // the list owns the item
}

int ListView::Count() const { return topLevelItemCount(); }

std::string ListView::ItemText(int index_1based) const {
  return ItemAt1(index_1based)->text(0).toStdString();
}

void ListView::Remove(int index_1based) {
  QTreeWidgetItem* item = ItemAt1(index_1based);
  bool was_selected = item->isSelected();
  delete takeTopLevelItem(index_1based - 1);  // taken items are ours to delete
  if (!was_selected) return;
  clearSelection();
  if (Count() > 0) Select(std::min(index_1based, Count()));
}

int ListView::SelectedIndex() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return 0;
  return indexOfTopLevelItem(selected.front()) + 1;
}

void ListView::Select(int index_1based) {
  QTreeWidgetItem* item = ItemAt1(index_1based);
  clearSelection();
  setCurrentItem(item);
  item->setSelected(true);
  scrollToItem(item);
}

void ListView::AddColumnHeader(const std::string& text) {
  setHeaderLabels({QString::fromStdString(text)});
  column_headers_ = 1;
}

std::string ListView::ColumnHeaderText() const { return headerItem()->text(0).toStdString(); }

void ListView::SetColumnWidthTwips(int twips) { setColumnWidth(0, Px(twips)); }

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  emit DoubleClicked();
}

// ---------------------------------------------------------------------------

namespace {

constexpr int kCaptionIndent = 8;  // the caption starts this far in
constexpr int kCaptionGap = 2;     // the border stops this far either side of it

}  // namespace

Frame::Frame(const std::string& caption, QWidget* parent)
    : QGroupBox(QString::fromStdString(caption), parent) {}

QRect Frame::CaptionRect() const {
  if (title().isEmpty()) return QRect();
  const QFontMetrics metrics(font());
  return QRect(kCaptionIndent, 0, metrics.horizontalAdvance(title()) + 1, metrics.height());
}

QRect Frame::BorderRect() const {
  const int top = title().isEmpty() ? 0 : QFontMetrics(font()).height() / 2;
  return rect().adjusted(0, top, 0, 0);
}

void Frame::paintEvent(QPaintEvent* event) {
  // A skin's style sheet draws frames its own way.
  if (testAttribute(Qt::WA_StyleSheetTarget)) {
    QGroupBox::paintEvent(event);
    return;
  }
  // The styles draw their frame below the caption whatever rectangle they
  // are given, so the panel is drawn here, in the style's colours: a face a
  // shade darker than the page and a thin rounded border.
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor face = palette().color(QPalette::Window);
  const QRectF border = QRectF(BorderRect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(face.darker(101));
  painter.drawRoundedRect(border, 2, 2);
  const QRect caption = CaptionRect();
  painter.setClipRegion(QRegion(rect()) -
                        QRegion(caption.adjusted(-kCaptionGap, 0, kCaptionGap, 0)));
  painter.setPen(face.darker(115));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(border, 2, 2);
  painter.setClipping(false);
  if (caption.isEmpty()) return;
  style()->drawItemText(&painter, caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                        palette(), isEnabled(), title(), QPalette::WindowText);
}

// ---------------------------------------------------------------------------

PushButton::PushButton(const std::string& caption, QWidget* parent)
    : QPushButton(QString::fromStdString(caption), parent) {
  setAutoDefault(false);
  setFocusPolicy(Qt::StrongFocus);
}

std::string PushButton::Caption() const { return text().toStdString(); }

void PushButton::SetCaption(const std::string& caption) {
  setText(QString::fromStdString(caption));
}

void PushButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(rect()).adjusted(3, 3, -3, -3), 2, 2);
}

// ---------------------------------------------------------------------------

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setValue(0);
  setTextVisible(true);
  setAlignment(Qt::AlignCenter);
}

void ProgressBar::SetText(const std::string& text) {
  text_ = text;
  // The bar's format expands %p, %v and %m and has no escape for them; an
  // invisible zero-width space keeps such a pair as it is ("Sales%map").
  QString format = QString::fromStdString(text);
  static const QRegularExpression kPlaceholder(QStringLiteral("%(?=[pvm])"));
  format.replace(kPlaceholder, QStringLiteral("%") + QChar(0x200B));
  setFormat(format);
}

// ---------------------------------------------------------------------------

DataGrid::DataGrid(QWidget* parent) : QTableView(parent), model_(new RowSourceModel(this)) {
  setModel(model_);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  // Per pixel, so that the last column can be scrolled fully into view.
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 2);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setFixedWidth(14);
}

DataGrid::~DataGrid() = default;

void DataGrid::SetDataSource(std::shared_ptr<db::RowSource> source) {
  model_->SetSource(std::move(source));
  // Every column wide enough for its name at least.
  const QFontMetrics metrics(horizontalHeader()->font());
  for (int c = 0; c < model_->columnCount(); ++c) {
    const int name_width =
        metrics.horizontalAdvance(model_->headerData(c, Qt::Horizontal).toString()) + 16;
    setColumnWidth(c, std::max(horizontalHeader()->defaultSectionSize(), name_width));
  }
  // Every row at once: the scroll bar spans the table and the keys reach its
  // end; the rows themselves are read as they come into view.
  if (model_->canFetchMore(QModelIndex())) model_->fetchMore(QModelIndex());
  // The keys start from the first cell, as they do once the grid has the
  // focus; nothing is selected by it.
  if (model_->rowCount() > 0 && model_->columnCount() > 0) {
    selectionModel()->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::NoUpdate);
  }
}

const std::shared_ptr<db::RowSource>& DataGrid::DataSource() const { return model_->source(); }

}  // namespace ui
