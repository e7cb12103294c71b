#include "app/qt/row_source_model.h"

#include <algorithm>
#include <exception>

#include "jet/record/value.h"

namespace ui {
namespace {

// What a cell shows when its value cannot be read, as Access shows it.
const char kCellError[] = "#Error";

}  // namespace

RowSourceModel::RowSourceModel(QObject* parent) : QAbstractTableModel(parent) {}

void RowSourceModel::SetSource(std::shared_ptr<db::RowSource> source) {
  beginResetModel();
  source_ = std::move(source);
  cache_.clear();
  column_names_.clear();
  columns_ = 0;
  fetched_ = 0;
  total_ = -1;
  if (source_) {
    try {
      columns_ = source_->ColumnCount();
      for (int c = 0; c < columns_; ++c) {
        column_names_.push_back(QString::fromStdString(source_->ColumnName(c)));
      }
    } catch (const std::exception&) {
      // A source that cannot describe itself shows as an empty grid.
      columns_ = 0;
      column_names_.clear();
    }
  }
  endResetModel();
}

int RowSourceModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : fetched_;
}

int RowSourceModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

int RowSourceModel::TotalRows() const {
  if (total_ < 0) {
    try {
      total_ = source_ ? std::max(0, source_->RowCount()) : 0;
    } catch (const std::exception&) {
      total_ = 0;
    }
  }
  return total_;
}

bool RowSourceModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && source_ && fetched_ < TotalRows();
}

void RowSourceModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  int more = std::min(kBatchRows, TotalRows() - fetched_);
  beginInsertRows(QModelIndex(), fetched_, fetched_ + more - 1);
  fetched_ += more;
  endInsertRows();
}

const QStringList& RowSourceModel::RowTexts(int row) const {
  auto it = cache_.find(row);
  if (it != cache_.end()) return it->second;
  if (cache_.size() >= kCachedRows) cache_.clear();
  QStringList texts;
  texts.reserve(columns_);
  for (int c = 0; c < columns_; ++c) {
    try {
      texts.push_back(QString::fromStdString(jet::TextForm(source_->Cell(row, c))));
    } catch (const std::exception&) {
      texts.push_back(QString::fromLatin1(kCellError));
    }
  }
  return cache_.emplace(row, std::move(texts)).first->second;
}

QVariant RowSourceModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !source_ || !index.isValid() || index.row() >= fetched_ ||
      index.column() >= columns_) {
    return QVariant();
  }
  return RowTexts(index.row()).value(index.column());
}

QVariant RowSourceModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Horizontal) return column_names_.value(section);
  return QVariant();  // no row numbers: the row headers only mark the current row
}

}  // namespace ui
