// Starts the wizard. Without a display there is nothing to show, and the
// program says so instead of failing in the window system.
#include <QApplication>
#include <QByteArray>
#include <QEventLoop>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/product.h"
#include "app/qt/desktop.h"
#include "app/qt/qt_message_sink.h"
#include "app/qt/qt_settings_store.h"
#include "jet/storage/page_file.h"
#include "wizard/command_line.h"
#include "wizard/wizard.h"

#ifndef TESSALY_DATA_DIR
#define TESSALY_DATA_DIR ""
#endif

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

// The arguments as given, for --version and --help, which need no display.
QStringList RawArguments(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

}  // namespace

int main(int argc, char* argv[]) {
  const wizard::CommandLine asked = wizard::ParseCommandLine(RawArguments(argc, argv));
  if (asked.version) {
    std::printf("%s\n", app::VersionLine("tessaly-draviel").c_str());
    return 0;
  }
  if (asked.help) {
    std::fputs(wizard::CommandLineHelp().c_str(), stdout);
    return 0;
  }
  if (!HasDisplay()) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  previous_handler = qInstallMessageHandler(OnQtMessage);
  QApplication application(argc, argv);
  qInstallMessageHandler(previous_handler);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // Desktops match the window to its entry (name and icon) by this.
  QGuiApplication::setDesktopFileName(QStringLiteral("example.ombrisk.TessalyDraviel"));
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  const wizard::CommandLine line = wizard::ParseCommandLine(arguments);
  for (const std::string& ignored : line.ignored) {
    std::fprintf(stderr, "tessaly-draviel: %s\n", ignored.c_str());
  }

  // While another program holds the database, the windows still repaint;
  // what the user does waits until the wait is over.
  jet::SetLockWaitHandler(
      [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10); });
  ui::QtMessageSink messages;
  ui::QtSettingsStore settings;
  ui::QtDesktop desktop;
  ui::QtFileChooser files;
  int exit_code = 0;
  {
    wizard::Wizard wizard(
        {messages, settings, desktop, files, QCoreApplication::applicationDirPath().toStdString(),
         [] { QCoreApplication::exit(0); }, ui::UserDataFolder(), TESSALY_DATA_DIR});
    wizard.SetStartDatabase(line.database);
    if (wizard.Start()) exit_code = QApplication::exec();
    // Leaving this block releases the pages and, with them, the database
    // objects their grids hold. A finished merge was committed before its
    // "Done."; one still running when the program ends is rolled back.
  }
  return exit_code;
}
