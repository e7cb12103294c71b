#include "app/qt/shell.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>
#include <optional>

#include "app/product.h"
#include "app/qt/page.h"
#include "app/qt/placement.h"

namespace ui {

std::string UserDataFolder() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty()) return std::string();
  return base.toStdString() + "/" + app::kVendorName + "/" + app::kProductName;
}

Shell::Shell(Services services)
    : services_(std::move(services)),
      program_files_(services_.program_folder, services_.user_folder, services_.data_folder),
      application_title_(app::ApplicationTitle(app::kProductName)) {}

Shell::~Shell() = default;

std::string Shell::ProgramFile(const std::string& relative) const {
  return program_files_.Find(relative);
}

std::string Shell::ProgramFileToChange(const std::string& relative) const {
  return program_files_.FindToChange(relative);
}

std::string Shell::ProgramFolderHaving(const std::string& relative) const {
  return program_files_.FolderHaving(relative);
}

int Shell::Message(const std::string& text, int style) {
  return services_.messages.Show(text, application_title_, style);
}

void Shell::ShowPage(Page& page) {
  if (!page.isVisible()) Place(page);
  page.show();
  page.raise();
  page.activateWindow();
  front_ = &page;
}

void Shell::Place(Page& page) {
  std::optional<QRect> previous;
  QMargins frame;
  QScreen* screen = nullptr;
  if (front_ != nullptr && front_ != &page) {
    // The client area, not the frame: the frame of a page never shown is
    // not known yet, and taking one for the other moved pages by a title
    // bar's height at each hand-over.
    previous = front_->geometry();
    const QRect outer = front_->frameGeometry();
    frame = QMargins(previous->left() - outer.left(), previous->top() - outer.top(),
                     outer.right() - previous->right(), outer.bottom() - previous->bottom());
    screen = QGuiApplication::screenAt(previous->center());
    if (screen == nullptr) screen = front_->screen();
  }
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  page.setGeometry(PlacePage(previous, page.size(), frame, screen->availableGeometry()));
}

void Shell::HidePage(Page& page) { page.hide(); }

void Shell::Yield() {
  QCoreApplication::processEvents();
  if (ended_) throw ProgramEnded{};
}

void Shell::RunEvent(const std::function<void()>& handler) {
  if (ended_) return;
  try {
    handler();
  } catch (const ProgramEnded&) {
  }
}

void Shell::EndProgram() {
  if (ended_) return;
  ended_ = true;
  for (Page* page : pages_) page->hide();
  if (services_.end_program) services_.end_program();
}

void Shell::Adopt(Page& page) { pages_.push_back(&page); }

void Shell::Forget(Page& page) {
  pages_.erase(std::remove(pages_.begin(), pages_.end(), &page), pages_.end());
  if (front_ == &page) front_ = nullptr;
}

}  // namespace ui
