// Starts the wizard. Without a display there is nothing to show, and the
// program says so instead of failing in the window system.
#include <QApplication>
#include <QByteArray>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/qt/desktop.h"
#include "app/qt/qt_message_sink.h"
#include "app/qt/qt_settings_store.h"
#include "wizard/wizard.h"

namespace {

constexpr char kNoDisplay[] =
    "tessaly-draviel: there is no display to show the wizard on (neither DISPLAY nor "
    "WAYLAND_DISPLAY is set). Start it from a graphical session, over SSH with 'ssh -X', or "
    "under xvfb-run.\n";
constexpr char kDisplayFailed[] =
    "tessaly-draviel: the display could not be opened, so the wizard cannot be shown. Start it "
    "from a graphical session, over SSH with 'ssh -X', or under xvfb-run.\n";

bool HasDisplay() {
  // An explicitly chosen platform (offscreen, vnc, ...) brings its own screen.
  return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
         !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QtMessageHandler previous_handler = nullptr;

// A display that is named but cannot be opened ends in a fatal message from
// the window system; put our plain sentence after it.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (previous_handler != nullptr) previous_handler(type, context, message);
  if (type == QtFatalMsg) std::fputs(kDisplayFailed, stderr);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!HasDisplay()) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  previous_handler = qInstallMessageHandler(OnQtMessage);
  QApplication application(argc, argv);
  qInstallMessageHandler(previous_handler);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  ui::QtMessageSink messages;
  ui::QtSettingsStore settings;
  ui::QtDesktop desktop;
  ui::QtFileChooser files;
  int exit_code = 0;
  {
    wizard::Wizard wizard({messages, settings, desktop, files,
                           QCoreApplication::applicationDirPath().toStdString(),
                           [] { QCoreApplication::exit(0); }});
    if (wizard.Start()) exit_code = QApplication::exec();
    // Leaving this block releases the pages and, with them, the database
    // objects their grids hold: what the merge wrote is committed here.
  }
  return exit_code;
}
