// What every page shares: a fixed client area given in twips, the caption
// and icon, the page's mouse pointer (0 arrow, 11 busy, 99 the hand loaded
// from a cursor file) with the hover rules, the face colouring, and closing
// the window ending the program.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QObject>
#include <QPushButton>
#include <QWidget>
#include <map>
#include <optional>
#include <string>

#include "app/qt/shell.h"

namespace ui {

inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerBusy = 11;
inline constexpr int kPointerCustom = 99;

// The one icon all pages share.
QIcon AppIcon();

// The cursor stored in a Windows cursor (.cur) file, hot spot included.
// Throws std::runtime_error when the file cannot be read as one.
QCursor LoadCursorFile(const std::string& path);

// The user's colour for button faces.
QColor FaceColour();

class Page : public QWidget {
  Q_OBJECT

 public:
  Page(Shell& shell, std::string window_name, int client_width_twips, int client_height_twips);
  ~Page() override;

  Shell& shell() const { return shell_; }
  const std::string& window_name() const { return window_name_; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  void SetAppIcon();

  int MousePointer() const { return pointer_; }
  void SetMousePointer(int value);
  // Makes the cursor in `path` the page's custom pointer (value 99).
  void LoadCustomPointer(const std::string& path);
  bool HasCustomPointer() const { return custom_pointer_.has_value(); }

  // The window was closed: the whole program ends.
  void Form_Unload();

  // The button Enter presses wherever the focus is on the page, drawn as the
  // default one; null when Enter presses nothing. Space still presses the
  // button that has the focus.
  void SetDefaultButton(QPushButton* button);
  QPushButton* DefaultButton() const { return default_button_; }

 protected:
  // Hover rules: moving the pointer over `widget` sets the page's pointer to
  // `value` (99 over buttons, 0 elsewhere), unless the page shows the busy
  // pointer. The page itself is registered for 0 already.
  void SetPointerOnHover(QWidget* widget, int value);

  // Connects `signal` of `sender` to a handler of this page. The handler runs
  // only while the program is running, and a program end inside it (the
  // window closed while it let events run) ends it quietly.
  template <typename Sender, typename Signal, typename Handler>
  void On(Sender* sender, Signal signal, Handler handler);

  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Applies the hover rule for the pointer at `global`: the value of the
  // innermost registered control under it, 0 over the bare page.
  void HoverAt(const QPoint& global);

  Shell& shell_;
  std::string window_name_;
  int pointer_ = kPointerDefault;
  std::optional<QCursor> custom_pointer_;
  std::map<QObject*, int> hover_values_;
  QPushButton* default_button_ = nullptr;
};

// Paints the page, and its frames, labels, check boxes and option buttons,
// in the button-face colour. Other controls keep their colours.
void ApplyFaceColour(QWidget& page);

// When the skin file "x/o.cjs" is in `program_folder` (an ordinary, visible
// file), paints `page` in the face colour and then applies the file as a Qt
// style sheet. Without it the page keeps its design colours. Throws when the
// file is there but cannot be read.
void LoadSkinIfPresent(QWidget& page, const std::string& program_folder);

template <typename Sender, typename Signal, typename Handler>
void Page::On(Sender* sender, Signal signal, Handler handler) {
  QObject::connect(sender, signal, this, [this, handler] { shell_.RunEvent(handler); });
}

}  // namespace ui
