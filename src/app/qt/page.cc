#include "app/qt/page.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadioButton>
#include <QtEndian>
#include <stdexcept>

#include "app/qt/controls.h"

namespace ui {

QIcon AppIcon() {
  // Two overlapping cards, the second one holding the merged line: drawn
  // here so that the program needs no icon file.
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    p.setPen(QPen(QColor(0x1f, 0x3a, 0x5f), u));
    p.setBrush(QColor(0xd9, 0xe6, 0xf2));
    p.drawRoundedRect(QRectF(1 * u, 1 * u, 10 * u, 9 * u), 1.5 * u, 1.5 * u);
    p.setBrush(QColor(0xf2, 0xa9, 0x3b));
    p.drawRoundedRect(QRectF(5 * u, 6 * u, 10 * u, 9 * u), 1.5 * u, 1.5 * u);
    p.setPen(QPen(Qt::white, 1.5 * u, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7.5 * u, 10.5 * u), QPointF(12.5 * u, 10.5 * u));
    icon.addPixmap(pixmap);
  }
  return icon;
}

QCursor LoadCursorFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("File not found: " + path);
  QByteArray bytes = file.readAll();
  // Directory: reserved, type (2 for cursors), count; then 16-byte entries
  // whose fifth and sixth 16-bit words are the hot spot.
  if (bytes.size() < 22 || qFromLittleEndian<quint16>(bytes.constData() + 2) != 2) {
    throw std::runtime_error("Invalid picture");
  }
  int hot_x = qFromLittleEndian<quint16>(bytes.constData() + 10);
  int hot_y = qFromLittleEndian<quint16>(bytes.constData() + 12);
  file.seek(0);
  QImageReader reader(&file, "cur");
  QImage image = reader.read();
  if (image.isNull()) throw std::runtime_error("Invalid picture");
  return QCursor(QPixmap::fromImage(image), hot_x, hot_y);
}

QColor FaceColour() { return QApplication::palette().color(QPalette::Button); }

namespace {

// Sets the background colour; `fill` has the widget paint it itself. Labels
// and check boxes only take the colour: they sit on frames whose style draws
// a panel of its own, and a filled rectangle would stand out on it.
void Paint(QWidget& widget, const QColor& colour, bool fill) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, colour);
  widget.setPalette(palette);
  widget.setAutoFillBackground(fill);
}

}  // namespace

Page::Page(Shell& shell, std::string window_name, int client_width_twips, int client_height_twips)
    : QWidget(nullptr), shell_(shell), window_name_(std::move(window_name)) {
  setObjectName(QString::fromStdString(window_name_));
  setFixedSize(Px(client_width_twips), Px(client_height_twips));
  // Design colours: white page, frames and labels take it from the page.
  Paint(*this, Qt::white, true);
  setMouseTracking(true);
  shell_.Adopt(*this);
}

Page::~Page() { shell_.Forget(*this); }

std::string Page::Caption() const { return windowTitle().toStdString(); }

void Page::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void Page::SetAppIcon() { setWindowIcon(AppIcon()); }

void Page::SetMousePointer(int value) {
  pointer_ = value;
  switch (value) {
    case kPointerBusy:
      setCursor(Qt::WaitCursor);
      break;
    case kPointerCustom:
      if (custom_pointer_) {
        setCursor(*custom_pointer_);
      } else {
        setCursor(Qt::ArrowCursor);
      }
      break;
    default:
      setCursor(Qt::ArrowCursor);
      break;
  }
}

void Page::LoadCustomPointer(const std::string& path) {
  custom_pointer_ = LoadCursorFile(path);
  if (pointer_ == kPointerCustom) SetMousePointer(pointer_);
}

void Page::Form_Unload() { shell_.EndProgram(); }

void Page::SetPointerOnHover(QWidget* widget, int value) {
  hover_values_[widget] = value;
  widget->setMouseTracking(true);
  widget->installEventFilter(this);
  // Lists and grids receive the mouse in their viewport.
  if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
    hover_values_[area->viewport()] = value;
    area->viewport()->setMouseTracking(true);
    area->viewport()->installEventFilter(this);
  }
}

void Page::HoverAt(const QPoint& global) {
  // Moves over a button also reach its frame and the page (Qt hands unused
  // mouse moves to the parents), so decide by what lies under the pointer.
  QWidget* under = childAt(mapFromGlobal(global));
  while (under != nullptr && hover_values_.find(under) == hover_values_.end()) {
    under = under->parentWidget();
  }
  int value = under != nullptr ? hover_values_[under] : kPointerDefault;
  if (pointer_ != kPointerBusy && pointer_ != value) SetMousePointer(value);
}

void Page::SetDefaultButton(QPushButton* button) {
  if (default_button_ != nullptr) default_button_->setDefault(false);
  default_button_ = button;
  if (button != nullptr) button->setDefault(true);
}

void Page::keyPressEvent(QKeyEvent* event) {
  // Text boxes, lists and grids leave Enter to the page; the other buttons
  // do too, as Space is theirs.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers others = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && others == Qt::NoModifier && default_button_ != nullptr &&
      default_button_->isVisible() && default_button_->isEnabled()) {
    event->accept();
    default_button_->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void Page::closeEvent(QCloseEvent* event) {
  event->accept();
  Form_Unload();
}

void Page::mouseMoveEvent(QMouseEvent* event) {
  HoverAt(event->globalPosition().toPoint());
  QWidget::mouseMoveEvent(event);
}

bool Page::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    HoverAt(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
  }
  return QWidget::eventFilter(watched, event);
}

void ApplyFaceColour(QWidget& page) {
  const QColor face = FaceColour();
  Paint(page, face, true);
  for (QWidget* control : page.findChildren<QWidget*>()) {
    if (qobject_cast<QGroupBox*>(control)) {
      Paint(*control, face, true);
    } else if (qobject_cast<QLabel*>(control) || qobject_cast<QCheckBox*>(control) ||
               qobject_cast<QRadioButton*>(control)) {
      Paint(*control, face, false);
    }
  }
}

void LoadSkinIfPresent(QWidget& page, const std::string& program_folder) {
  const QString path = QString::fromStdString(program_folder) + QLatin1String("/x/o.cjs");
  const QFileInfo info(path);
  if (!info.exists() || !info.isFile() || info.isHidden()) return;
  ApplyFaceColour(page);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw std::runtime_error("Skin file cannot be read: " + path.toStdString());
  }
  page.setStyleSheet(QString::fromUtf8(file.readAll()));
}

}  // namespace ui
