// A table model over the rows of a database row source. The grid is told
// the whole row count at once, so its scroll bar spans the table and
// Ctrl+End lands on the last row; a row's texts are read from the source
// only when the view asks for that row, by its position, and kept in a
// bounded cache. Binding a grid to a table of a million rows therefore reads
// no more than binding it to one of ten, and jumping to the end reads only
// the rows shown there.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "db/ado.h"

namespace ui {

class RowSourceModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The cache holds runs of this many consecutive positions; a run is read
  // only as far as its rows are asked for.
  static constexpr int kBatchRows = 256;
  // At most this many positions' worth of runs are kept; the run used least
  // recently goes first.
  static constexpr size_t kCachedRows = 4096;

  explicit RowSourceModel(QObject* parent = nullptr);

  // Replaces the rows shown; null shows nothing. The model keeps the source
  // (and whatever the source keeps open) alive until it is replaced.
  void SetSource(std::shared_ptr<db::RowSource> source);
  const std::shared_ptr<db::RowSource>& source() const { return source_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // The first fetch after SetSource asks the source for its row count and
  // hands every row to the view at once; there is nothing more after it.
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Rows read from the source and held in the cache now.
  int fetched_rows() const { return static_cast<int>(held_rows_); }

 private:
  // Consecutive positions [first, first + kBatchRows); a row that was not
  // read yet has no texts (read[i] false).
  struct Run {
    std::vector<QStringList> texts;
    std::vector<bool> read;
    std::list<int>::iterator age;  // place in runs_by_age_
  };

  const QStringList& RowTexts(int row) const;
  Run& RunFor(int run_index) const;
  void ClearCache() const;

  std::shared_ptr<db::RowSource> source_;
  int columns_ = 0;
  QStringList column_names_;
  int rows_ = 0;
  bool counted_ = false;
  mutable std::unordered_map<int, Run> runs_;
  mutable std::list<int> runs_by_age_;  // most recently used first
  mutable size_t held_rows_ = 0;
};

}  // namespace ui
