#include "wizard_util.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>
#include <filesystem>

#include "app/product.h"

namespace uitest {

void MoveMouseOver(QWidget* widget) { MoveMouseOver(widget, widget->rect().center()); }

void MoveMouseOver(QWidget* widget, const QPoint& local) {
  QWidget* target = widget;
  QPoint at = local;
  if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
    target = area->viewport();
    at = target->mapFrom(widget, local);
  }
  QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &move);
}

void SaveScreenshot(QWidget& window, const char* file) {
  QCoreApplication::processEvents();  // what the event loop would have done by now
  const QString folder = QStringLiteral(TESSALY_SCREENSHOT_DIR);
  QDir().mkpath(folder);
  EXPECT_TRUE(window.grab().save(folder + QLatin1Char('/') + QLatin1String(file)))
      << "cannot write " << file;
}

std::string FakeFileChooser::ShowOpen(const ui::OpenFileRequest& request) {
  requests.push_back(request);
  if (answers_.empty()) return std::string();
  std::string answer = answers_.front();
  answers_.pop_front();
  return answer;
}

WizardTest::WizardTest()
    : settings_(std::make_unique<ui::QtSettingsStore>(
          QString::fromStdString((scratch_.path() / "config").string()))) {
  std::filesystem::create_directories(ProgramFolder());
}

WizardTest::~WizardTest() { FinishRun(); }

wizard::Wizard& WizardTest::wizard() {
  if (!wizard_) {
    wizard_ = std::make_unique<wizard::Wizard>(
        ui::Services{messages_, *settings_, desktop_, files_, ProgramFolder(), [this] { ++ended_; },
                     user_folder_, data_folder_, file_system_});
  }
  return *wizard_;
}

void WizardTest::FinishRun() {
  wizard_.reset();
  // Deferred deletions and other posted events of the finished run.
  QCoreApplication::processEvents();
}

std::string WizardTest::ProgramFolder() const { return (scratch_.path() / "program").string(); }

void WizardTest::InstallHandCursor() {
  std::filesystem::copy_file(TESSALY_HAND_CURSOR, ProgramFolder() + "/HAND-M.CUR",
                             std::filesystem::copy_options::overwrite_existing);
}

void WizardTest::Remember(const std::string& path, const std::string& password) {
  settings_->Set(app::kVendorName, app::kProductName, "Database", path);
  settings_->Set(app::kVendorName, app::kProductName, "Password", password);
}

std::string WizardTest::Stored(const std::string& key) const {
  return settings_->Get(app::kVendorName, app::kProductName, key, "<absent>");
}

std::string WizardTest::CopyDatabase(const std::string& relative) {
  return scratch_.Copy(relative);
}

std::vector<std::string> WizardTest::MessageTexts() const {
  std::vector<std::string> texts;
  for (const auto& shown : messages_.shown()) texts.push_back(shown.text);
  return texts;
}

void SelectNamed(app::ListViewLike* list, const std::string& name) {
  for (int i = 1; i <= list->Count(); ++i) {
    if (list->ItemText(i) == name) return list->Select(i);
  }
  ADD_FAILURE() << name << " is not in the list";
}

std::vector<std::string> Items(const app::ListViewLike& list) {
  std::vector<std::string> items;
  for (int i = 1; i <= list.Count(); ++i) items.push_back(list.ItemText(i));
  return items;
}

}  // namespace uitest
