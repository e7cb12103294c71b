// A table model over the rows of a database row source. Rows are handed to
// the view in batches as it scrolls (canFetchMore/fetchMore), and each row's
// texts are read once and kept in a bounded cache, so binding a grid to a
// table of a million rows reads no more than binding it to one of ten.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>
#include <unordered_map>

#include "db/ado.h"

namespace ui {

class RowSourceModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kBatchRows = 256;
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
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Rows handed to the view so far.
  int fetched_rows() const { return fetched_; }

 private:
  const QStringList& RowTexts(int row) const;
  int TotalRows() const;

  std::shared_ptr<db::RowSource> source_;
  int columns_ = 0;
  QStringList column_names_;
  int fetched_ = 0;
  mutable int total_ = -1;  // read from the source when first needed
  mutable std::unordered_map<int, QStringList> cache_;
};

}  // namespace ui
