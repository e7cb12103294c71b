// Times the results grid on a large table: open the table's rows as the
// merge page does, bind them to the grid, jump to the last row (Ctrl+End),
// drag the scroll bar to the middle, and reports the peak memory of the
// process after each step.
//
//   grid_bench /path/to/people_1000000.mdb [table]
//
// Runs without a display (Qt's offscreen platform unless one is chosen).

#include <sys/resource.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/qt/controls.h"
#include "app/qt/row_source_model.h"
#include "db/access.h"
#include "db/ado.h"
#include "jet/storage/error.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

void Report(const char* step, double seconds) {
  std::printf("%-34s %9.4f s   peak RSS %8.1f MB\n", step, seconds, PeakMegabytes());
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: grid_bench DATABASE [TABLE]\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::string table = argc > 2 ? argv[2] : "People";
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qt_argc = 1;
  QApplication application(qt_argc, argv);
  Report("start", 0);

  try {
    auto t0 = Clock::now();
    db::Connection connection;
    connection.Open(db::BuildConnectionString(path, ""));
    db::Recordset rows;
    rows.Open("SELECT * FROM [" + table + "];", connection, db::kOpenDynamic, db::kLockUnspecified);
    const long count = rows.RecordCount();
    Report("open rows (position index)", Seconds(t0));

    {
      // The model by itself: what it keeps beyond the rows' position index.
      t0 = Clock::now();
      ui::RowSourceModel model;
      model.SetSource(rows.DataSource());
      model.fetchMore(QModelIndex());
      for (int row = model.rowCount() - 12; row < model.rowCount(); ++row) {
        for (int c = 0; c < model.columnCount(); ++c) model.data(model.index(row, c));
      }
      Report("model alone: count, last 12 rows", Seconds(t0));
    }

    ui::DataGrid grid(nullptr);
    grid.resize(488, 169);  // the merge page's grid
    t0 = Clock::now();
    grid.SetDataSource(rows.DataSource());
    grid.show();
    QApplication::processEvents();
    grid.viewport()->repaint();
    Report("bind and show first screen", Seconds(t0));

    t0 = Clock::now();
    QKeyEvent ctrl_end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QApplication::sendEvent(&grid, &ctrl_end);
    grid.viewport()->repaint();
    const double to_end = Seconds(t0);
    Report("Ctrl+End to the last row", to_end);
    const QString last = grid.model()->index(static_cast<int>(count) - 1, 0).data().toString();

    t0 = Clock::now();
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum() / 2);
    grid.viewport()->repaint();
    Report("scroll bar to the middle", Seconds(t0));

    t0 = Clock::now();
    for (int step = 0; step < 200; ++step) {
      grid.verticalScrollBar()->setValue(static_cast<int>(count / 200 * step));
      grid.viewport()->repaint();
    }
    Report("200 screens across the table", Seconds(t0));

    std::printf("rows %ld, current row after Ctrl+End %d, last row's first cell \"%s\"\n", count,
                grid.currentIndex().row() + 1, last.toStdString().c_str());
    std::printf("rows held by the model's cache: %d (at most %zu)\n", grid.rows().fetched_rows(),
                ui::RowSourceModel::kCachedRows);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "grid_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
