#include "wizard/command_line.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace wizard {
namespace {

// A path, or empty with a sentence in `ignored` for an address that names no
// local file (smb://, http://: opening those is the file manager's business).
QString LocalPath(const QString& argument, std::vector<std::string>& ignored) {
  static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
  QString path = argument;
  if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
    path = QUrl(argument).toLocalFile();
  } else if (address.match(argument).hasMatch()) {
    path.clear();
  }
  if (path.isEmpty()) {
    ignored.push_back("'" + argument.toStdString() + "' is not a local file; ignored");
  }
  return path;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  bool options_end = false;
  for (const QString& argument : arguments) {
    if (!options_end && argument == QLatin1String("--")) {
      options_end = true;
    } else if (!options_end && argument == QLatin1String("--version")) {
      line.version = true;
    } else if (!options_end && (argument == QLatin1String("--help") || argument == "-h")) {
      line.help = true;
    } else if (!options_end && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
      line.ignored.push_back("unknown option '" + argument.toStdString() + "'; ignored");
    } else if (argument.isEmpty()) {
      continue;
    } else if (!line.database.empty()) {
      line.ignored.push_back("only one database is opened at a time; '" + argument.toStdString() +
                             "' ignored");
    } else {
      const QString path = LocalPath(argument, line.ignored);
      if (!path.isEmpty()) line.database = QFileInfo(path).absoluteFilePath().toStdString();
    }
  }
  return line;
}

std::string CommandLineHelp() {
  return "usage: tessaly-draviel [DATABASE]\n"
         "\n"
         "Opens the wizard. DATABASE (an .mdb or .accdb file, or a file:// address) goes into\n"
         "the path box in place of the remembered one; when the file exists the wizard opens it\n"
         "at once, with the remembered password.\n"
         "\n"
         "options:\n"
         "  --version  prints the program's name and version\n"
         "  --help     prints this text\n";
}

}  // namespace wizard
