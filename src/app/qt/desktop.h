// What the pages ask of the desktop around them: open a folder or a web page,
// and let the user pick a file. Tests replace both with fakes.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

class QFileDialog;

namespace ui {

class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual void OpenUrl(const std::string& url) = 0;
  virtual void OpenFolder(const std::string& path) = 0;
};

class QtDesktop : public Desktop {
 public:
  void OpenUrl(const std::string& url) override;
  void OpenFolder(const std::string& path) override;
};

// What the page sets on its open-file dialog before showing it.
struct OpenFileRequest {
  std::string title;
  // "Description|pattern|Description|pattern|", the first pair preselected.
  std::string filter;
  std::string file_name;  // initial name, usually empty
  // Windows open-dialog flags. Qt's dialog has no read-only box, the one
  // thing they ask for here, so it ignores them.
  int flags = 0;
  // The folder the dialog opens in; empty leaves it to the dialog.
  std::string folder;
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen path, or empty when the user cancelled. The file need not exist.
  virtual std::string ShowOpen(const OpenFileRequest& request) = 0;
};

class QtFileChooser : public FileChooser {
 public:
  std::string ShowOpen(const OpenFileRequest& request) override;
};

// Sets up `dialog` as ShowOpen shows it: Qt's own dialog, the title, the
// filters with their descriptions shown exactly as given (the patterns are
// not added to them again), the folder and the initial name.
void PrepareOpenDialog(QFileDialog& dialog, const OpenFileRequest& request);

// The folder to browse from for the path in a path box: the folder it names
// or the one its file lies in, when that exists; else the user's home.
std::string BrowseFolder(const std::string& path);

// "Access (*.mdb)|*.mdb|All|*.*|" becomes {"Access (*.mdb) (*.mdb)", "All (*.*)"}:
// Qt reads the patterns from the last parenthesised group of each entry.
// Several patterns in one entry may be separated by ";" and become blanks.
QStringList QtFilterFromPairs(const std::string& filter);

}  // namespace ui
