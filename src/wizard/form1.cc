#include "wizard/form1.h"

#include <QEvent>
#include <QTimer>
#include <optional>
#include <vector>

#include "app/helpers.h"
#include "app/product.h"
#include "app/provider_check.h"
#include "app/qt/desktop.h"
#include "app/reporting_handler.h"
#include "db/access.h"
#include "wizard/form2.h"

namespace wizard {
namespace {

constexpr double kTextPoints = 9;
constexpr double kButtonPoints = 11.25;
constexpr int kBrowseFlags = 0x280001;  // long names, explorer style, read-only box ticked

// The provider check asks its question and opens the download pages through
// the wizard's message boxes and desktop.
class WizardAsker : public app::MessageAsker {
 public:
  explicit WizardAsker(Wizard& wizard) : wizard_(wizard) {}
  int AskYesNo(const std::string& text) override {
    return wizard_.Message(text, app::msgbox::kYesNo);
  }
  void OpenUrl(const std::string& url) override { wizard_.desktop().OpenUrl(url); }

 private:
  Wizard& wizard_;
};

}  // namespace

Form1::Form1(Wizard& wizard) : WizardPage(wizard, "Form1", 8040, 2580) {
  frame1_ = new ui::Frame("Access Database", this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  ui::PlaceTwips(frame1_, 120, 120, 7800, 1335);
  frame1_->setFont(ui::ArialBold(kTextPoints));

  label5_ = new QLabel(QStringLiteral("MDB or ACCDB File:"), frame1_);
  label5_->setObjectName(QStringLiteral("Label5"));
  label5_->setFont(ui::ArialBold(kTextPoints));
  label5_->move(ui::Px(240), ui::Px(345));
  label5_->adjustSize();

  text1_ = new QLineEdit(frame1_);
  text1_->setObjectName(QStringLiteral("Text1"));
  ui::PlaceTwips(text1_, 2280, 300, 4695, 345);
  text1_->setFont(ui::ArialBold(kTextPoints));

  push_button5_ = new ui::PushButton("...", frame1_);
  push_button5_->setObjectName(QStringLiteral("PushButton5"));
  ui::PlaceTwips(push_button5_, 7080, 300, 450, 345);
  push_button5_->setFont(ui::ArialBold(kButtonPoints));

  lbl_password_ = new QLabel(QStringLiteral("Password (if required):"), frame1_);
  lbl_password_->setObjectName(QStringLiteral("lblPassword"));
  lbl_password_->setFont(ui::ArialBold(kTextPoints));
  lbl_password_->move(ui::Px(240), ui::Px(840));
  lbl_password_->adjustSize();

  text2_ = new QLineEdit(frame1_);
  text2_->setObjectName(QStringLiteral("Text2"));
  ui::PlaceTwips(text2_, 2280, 800, 5265, 345);
  text2_->setFont(ui::ArialBold(kTextPoints));
  text2_->setEchoMode(QLineEdit::Password);
  text2_->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));

  push_button1_ = new ui::PushButton("Load Sample/Example Database", this);
  push_button1_->setObjectName(QStringLiteral("PushButton1"));
  ui::PlaceTwips(push_button1_, 120, 1560, 3840, 405);
  push_button1_->setFont(ui::ArialBold(kButtonPoints));

  push_button2_ = new ui::PushButton("Help", this);
  push_button2_->setObjectName(QStringLiteral("PushButton2"));
  ui::PlaceTwips(push_button2_, 4080, 1560, 3840, 405);
  push_button2_->setFont(ui::ArialBold(kButtonPoints));

  push_button3_ = new ui::PushButton("Next >", this);
  push_button3_->setObjectName(QStringLiteral("PushButton3"));
  ui::PlaceTwips(push_button3_, 120, 2085, 7800, 405);
  push_button3_->setFont(ui::ArialBold(kButtonPoints));

  setTabOrder(text1_, push_button5_);
  setTabOrder(push_button5_, text2_);
  setTabOrder(text2_, push_button3_);
  setTabOrder(push_button3_, push_button1_);
  setTabOrder(push_button1_, push_button2_);
  text1_->setFocus();
  SetDefaultButton(push_button3_);  // Enter goes on, also from the path box

  for (QWidget* button :
       {static_cast<QWidget*>(push_button1_), static_cast<QWidget*>(push_button2_),
        static_cast<QWidget*>(push_button3_), static_cast<QWidget*>(push_button5_)}) {
    SetPointerOnHover(button, ui::kPointerCustom);
  }
  for (QWidget* other : {static_cast<QWidget*>(text1_), static_cast<QWidget*>(text2_),
                         static_cast<QWidget*>(frame1_)}) {
    SetPointerOnHover(other, ui::kPointerDefault);
  }
  text1_->installEventFilter(this);
  text2_->installEventFilter(this);

  On(push_button1_, &QPushButton::clicked, [this] { PushButton1_Click(); });
  On(push_button2_, &QPushButton::clicked, [this] { PushButton2_Click(); });
  On(push_button3_, &QPushButton::clicked, [this] { PushButton3_Click(); });
  On(push_button5_, &QPushButton::clicked, [this] { PushButton5_Click(); });
  On(text1_, &QLineEdit::textChanged, [this] { Text1_Change(); });
  On(text2_, &QLineEdit::textChanged, [this] { Text2_Change(); });
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn && (watched == text1_ || watched == text2_)) {
    // After the click that gave the focus has placed the caret.
    QLineEdit* box = static_cast<QLineEdit*>(watched);
    QTimer::singleShot(0, box,
                       [this, box] { box == text1_ ? Text1_GotFocus() : Text2_GotFocus(); });
  }
  return Page::eventFilter(watched, event);
}

void Form1::AssignText(QLineEdit* box, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (box->text() == value) {
    box == text1_ ? Text1_Change() : Text2_Change();
  } else {
    box->setText(value);  // the change signal writes the setting
  }
}

void Form1::Form_Load() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form1", "Form_Load");
  h.Step(100, [&] { ui::LoadSkinIfPresent(*this, w.ProgramFolderHaving(kSkinFile)); });
  h.Step(104, [&] {
    SetCaption(app::kProductName);
    SetAppIcon();
    w.SetApplicationTitle(app::ApplicationTitle(app::kProductName));
  });
  if (h.Test(124, [&] { return app::FileExists(w.ProgramFile(kHandCursorFile)); })) {
    h.Step(126, [&] { LoadCustomPointer(w.ProgramFile(kHandCursorFile)); });
  }
  h.Step(128, [&] {
    AssignText(text1_,
               !w.start_database().empty()
                   ? w.start_database()
                   : w.settings().Get(app::kVendorName, app::kProductName, kDatabaseKey, ""));
  });
  h.Step(130, [&] {
    AssignText(text2_, w.settings().Get(app::kVendorName, app::kProductName, kPasswordKey, ""));
  });
  WizardAsker asker(w);
  if (!h.Value(
          136, [&] { return app::ProviderAvailable(asker, app::kSupportAddress); }, false)) {
    w.EndProgram();
    return;
  }
  if (h.Test(132, [&] { return app::FileExists(text1_->text().toStdString()); })) {
    h.Step(134, [&] { PushButton3_Click(); });
  }
}

void Form1::PushButton3_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form1", "PushButton3_Click");
  std::optional<std::vector<std::string>> catalogue;
  h.Step(100, [&] { catalogue = db::ListTables(DatabasePath(), w.ConnectionString()); });
  if (h.Test(102, [&] { return !catalogue.has_value(); })) {
    h.Step(104, [&] { catalogue.reset(); });
    return;
  }
  h.Step(106, [&] {
    w.form2().FillTableList(DatabasePath(), DatabasePassword(), w.ConnectionString());
  });
  h.Step(108, [&] { w.ShowPage(w.form2()); });
  h.Step(110, [&] { w.HidePage(*this); });
}

void Form1::PushButton5_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form1", "PushButton5_Click");
  ui::OpenFileRequest dialog;
  h.Step(100, [&] { dialog.file_name.clear(); });
  h.Step(102, [&] { dialog.flags = kBrowseFlags; });
  h.Step(104, [&] { dialog.title = kBrowseTitle; });
  h.Step(106, [&] { dialog.filter = kBrowseFilter; });
  h.Step(108, [&] {
    // From the folder of the path already in the box, so that a second look
    // starts where the first one ended.
    dialog.folder = ui::BrowseFolder(DatabasePath());
    dialog.file_name = w.files().ShowOpen(dialog);
  });
  if (h.Test(110, [&] { return !dialog.file_name.empty(); })) {
    h.Step(112, [&] { AssignText(text1_, dialog.file_name); });
  }
}

void Form1::PushButton1_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form1", "PushButton1_Click");
  int answer = app::msgbox::kNo;
  // The merge writes into the sample, so the box gets the user's own copy,
  // made the first time; its folder is the one offered.
  std::string sample = w.ProgramFile(kSamplePath);
  h.Step(100, [&] {
    sample = w.ProgramFileToChange(kSamplePath);
    AssignText(text1_, sample);
  });
  h.Step(102, [&] {
    answer = w.Message(
        "Would you like this software to open the folder where these sample files are stored "
        "(so that you can view them before working with them)?",
        app::msgbox::kYesNo);
  });
  h.Step(104, [&] {
    if (answer == app::msgbox::kYes) {
      w.desktop().OpenFolder(sample.substr(0, sample.rfind('/') + 1));
    }
  });
}

void Form1::PushButton2_Click() {
  Wizard& w = wizard();
  app::ReportingHandler h(w.messages(), "Form1", "PushButton2_Click");
  h.Step(100, [&] {
    w.Message(std::string("Questions? Please contact Team Ombrisk at ") + app::kContactPage);
  });
}

std::string Form1::DatabasePath() const { return text1_->text().toStdString(); }

std::string Form1::DatabasePassword() const { return text2_->text().toStdString(); }

void Form1::Text1_Change() {
  wizard().settings().Set(app::kVendorName, app::kProductName, kDatabaseKey,
                          text1_->text().toStdString());
}

void Form1::Text2_Change() {
  wizard().settings().Set(app::kVendorName, app::kProductName, kPasswordKey,
                          text2_->text().toStdString());
}

void Form1::Text1_GotFocus() { text1_->selectAll(); }

void Form1::Text2_GotFocus() { text2_->selectAll(); }

}  // namespace wizard
