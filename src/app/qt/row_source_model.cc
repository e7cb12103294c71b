#include "app/qt/row_source_model.h"

#include <algorithm>
#include <exception>

#include "jet/record/value.h"

namespace ui {
namespace {

// What a cell shows when its value cannot be read, as Access shows it.
const char kCellError[] = "#Error";

constexpr size_t kMaxRuns = RowSourceModel::kCachedRows / RowSourceModel::kBatchRows;

}  // namespace

RowSourceModel::RowSourceModel(QObject* parent) : QAbstractTableModel(parent) {}

void RowSourceModel::SetSource(std::shared_ptr<db::RowSource> source) {
  beginResetModel();
  source_ = std::move(source);
  ClearCache();
  column_names_.clear();
  columns_ = 0;
  rows_ = 0;
  counted_ = false;
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

void RowSourceModel::ClearCache() const {
  runs_.clear();
  runs_by_age_.clear();
  held_rows_ = 0;
}

int RowSourceModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int RowSourceModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

bool RowSourceModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && source_ && !counted_;
}

void RowSourceModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  counted_ = true;
  int total = 0;
  try {
    total = std::max(0, source_->RowCount());
  } catch (const std::exception&) {
    total = 0;  // a source that cannot count its rows shows none
  }
  if (total == 0) return;
  beginInsertRows(QModelIndex(), 0, total - 1);
  rows_ = total;
  endInsertRows();
}

RowSourceModel::Run& RowSourceModel::RunFor(int run_index) const {
  auto it = runs_.find(run_index);
  if (it != runs_.end()) {
    runs_by_age_.splice(runs_by_age_.begin(), runs_by_age_, it->second.age);
    return it->second;
  }
  if (runs_.size() >= kMaxRuns) {
    auto oldest = runs_.find(runs_by_age_.back());
    held_rows_ -= static_cast<size_t>(
        std::count(oldest->second.read.begin(), oldest->second.read.end(), true));
    runs_.erase(oldest);
    runs_by_age_.pop_back();
  }
  runs_by_age_.push_front(run_index);
  Run& run = runs_[run_index];
  run.texts.resize(kBatchRows);
  run.read.assign(kBatchRows, false);
  run.age = runs_by_age_.begin();
  return run;
}

const QStringList& RowSourceModel::RowTexts(int row) const {
  Run& run = RunFor(row / kBatchRows);
  const int slot = row % kBatchRows;
  QStringList& texts = run.texts[slot];
  if (run.read[slot]) return texts;
  texts.reserve(columns_);
  for (int c = 0; c < columns_; ++c) {
    try {
      texts.push_back(QString::fromStdString(jet::TextForm(source_->Cell(row, c))));
    } catch (const std::exception&) {
      texts.push_back(QString::fromLatin1(kCellError));
    }
  }
  run.read[slot] = true;
  ++held_rows_;
  return texts;
}

QVariant RowSourceModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !source_ || !index.isValid() || index.row() >= rows_ ||
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
